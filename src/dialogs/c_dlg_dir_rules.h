#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class UiStrings;

// Edits the rules of the directories to skip while showing their effect on every folder
// under the project's local root: a row per folder, marked included or excluded, re-evaluated
// 300 ms after the last keystroke.
class CDlgDirRules final : public QDialog {
    Q_OBJECT
public:
    enum class RowState {
        Included = 0,
        Excluded = 1,
        NotEvaluated = 2,
    };

    struct Evaluation {
        std::vector<std::string> rules; // per row: the rule that excludes it, or empty
        int total = 0;
        int excluded = 0;
        int included = 0;
    };

    // `rulesText` separates its lines with "\r\n".
    CDlgDirRules(const UiStrings& strings, std::string localRoot, std::string remoteRoot, QString rulesText,
        QWidget* parent = nullptr);

    // The rules in effect: the edited text after OK, the given one otherwise.
    [[nodiscard]] QString rulesText() const { return rulesText_; }

    // A row excluded by a rule also excludes the rows after it that begin with the rule's
    // text, which is how a rule without wildcards takes a folder's whole subtree along.
    [[nodiscard]] static Evaluation evaluate(const std::vector<std::string>& paths, const QString& rulesText);
    // Removes the path's line from the rules, or appends it when it is not there.
    [[nodiscard]] static QString toggledRules(const QString& rulesText, const QString& path);

    // Lists the folders of the local root (what the first timer does).
    void scanTree();
    // Applies the rules field to the rows (what the second timer does).
    void evaluateRows();
    void toggleRow(QTreeWidgetItem* item);
    void accept() override;
    void done(int result) override;

    [[nodiscard]] QTreeWidget* list() const { return list_; }
    [[nodiscard]] QPlainTextEdit* rulesField() const { return rules_; }
    [[nodiscard]] QLabel* statusLine() const { return status_; }
    [[nodiscard]] QString fieldRules() const;
    [[nodiscard]] RowState rowState(int row) const;

private:
    void scanDirectory(const std::string& localPath, const std::string& listPath);
    void setRowState(QTreeWidgetItem* item, RowState state);

    std::string localRoot_;
    std::string remoteRoot_;
    QString rulesText_;
    QTreeWidget* list_;
    QPlainTextEdit* rules_;
    QLabel* status_;
    QTimer* evaluateTimer_;
    QTimer* scanTimer_;
    std::vector<std::string> paths_;
    int directoryCount_ = 0;
    bool scanned_ = false;
    bool closed_ = false;
};
