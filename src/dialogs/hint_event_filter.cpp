#include "dialogs/hint_event_filter.h"

#include "dialogs/dialog_text.h"

#include <QEvent>
#include <QLabel>
#include <QWidget>

HintEventFilter::HintEventFilter(CHintText& hints, QLabel& target, QObject* parent)
    : QObject(parent)
    , hints_(hints)
    , target_(target)
{
}

void HintEventFilter::watch(QWidget* field, int controlId)
{
    QList<QWidget*> widgets = field->findChildren<QWidget*>();
    widgets.prepend(field);
    for (QWidget* widget : widgets) {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
        ids_.insert(widget, controlId);
    }
}

void HintEventFilter::showHint(int controlId)
{
    std::string hint;
    if (hints_.Lookup(controlId, hint) != CHintText::Result::Changed)
        return;
    QString text = dialog_text::toQt(hint);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    while (text.endsWith(u'\n'))
        text.chop(1);
    target_.setText(text);
}

bool HintEventFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter || event->type() == QEvent::HoverMove) {
        auto found = ids_.constFind(watched);
        if (found != ids_.constEnd())
            showHint(found.value());
    }
    return false;
}
