#pragma once

#include <QDialog>

#include <functional>

class LogLineModel;
class QListView;
class UiStrings;

// The activity log window: every line a run or a Find reported, with "Delete" and "Save".
// Lives hidden for the whole life of the main window; closing it only hides it.
class LogWindow final : public QDialog {
    Q_OBJECT
public:
    // Answers the chosen file, or an empty text when the user cancelled.
    using SavePathAsker = std::function<QString(const QString& proposedName)>;

    explicit LogWindow(const UiStrings& strings, QWidget* parent = nullptr);

    void appendLogLine(const std::string& text);
    // Delete: empties the list.
    void deleteLines();
    // Save: asks for a file (proposing "ftp.txt") and writes every line to it.
    void saveLines();
    void setSavePathAsker(SavePathAsker asker) { askSavePath_ = std::move(asker); }

    [[nodiscard]] LogLineModel& lines() const { return *model_; }
    [[nodiscard]] QListView* listView() const { return list_; }

private:
    const UiStrings& strings_;
    LogLineModel* model_;
    QListView* list_;
    SavePathAsker askSavePath_;
};
