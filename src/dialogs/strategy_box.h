#pragma once

#include <QComboBox>

class UiStrings;

// The ways a project finds its changed files, in the user's words, each entry holding its
// strategy value. A value none of them names (written by hand) shows as an entry of its own
// and is stored back unchanged.
class StrategyBox final : public QComboBox {
public:
    StrategyBox(const UiStrings& strings, QWidget* parent);

    void showStrategy(int strategy);
    [[nodiscard]] int strategy() const;

private:
    const UiStrings& strings_;
};
