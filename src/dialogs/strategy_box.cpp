#include "dialogs/strategy_box.h"

#include "config/project_settings.h"
#include "uikit/ui_strings.h"

StrategyBox::StrategyBox(const UiStrings& strings, QWidget* parent)
    : QComboBox(parent)
    , strings_(strings)
{
    addItem(strings("strategy.content"), ProjectSettings::kContentStrategy);
    addItem(strings("strategy.times"), ProjectSettings::kFileListStrategy);
    addItem(strings("strategy.archive"), 1);
    addItem(strings("strategy.archivekept"), 0);
}

void StrategyBox::showStrategy(int strategy)
{
    int index = findData(strategy);
    if (index < 0) {
        addItem(strings_("strategy.other").arg(strategy), strategy);
        index = count() - 1;
    }
    setCurrentIndex(index);
}

int StrategyBox::strategy() const
{
    return currentData().toInt();
}
