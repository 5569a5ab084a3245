#pragma once

#include "dialogs/c_hint_text.h"

#include <QHash>
#include <QObject>

class QLabel;
class QWidget;

// Makes ordinary fields hint-aware: whenever the pointer moves over a watched field (or one
// of its inner widgets, such as the viewport of a text field), its hint goes to the label.
class HintEventFilter final : public QObject {
    Q_OBJECT
public:
    HintEventFilter(CHintText& hints, QLabel& target, QObject* parent);

    void watch(QWidget* field, int controlId);
    // What a field reports when the pointer moves over it.
    void showHint(int controlId);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CHintText& hints_;
    QLabel& target_;
    QHash<QObject*, int> ids_;
};
