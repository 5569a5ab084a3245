#pragma once

#include "dialogs/c_hint_text.h"

#include <QDialog>

#include <functional>
#include <optional>

class ProjectSettings;
class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;
class StrategyBox;
class UiStrings;

// The less common settings of one project: report, archive, skip lists, and the scripts,
// atomic replacement, connection count and upload limit of its first site. Changes go into the project
// object; the project editor writes the file.
class CDlgExpert final : public QDialog {
    Q_OBJECT
public:
    // Edits a text in a sub-dialog; nullopt when cancelled. Tests replace them.
    using TextEditor = std::function<std::optional<QString>(const QString& text)>;

    // `project` has at least one site.
    CDlgExpert(const UiStrings& strings, ProjectSettings& project, QWidget* parent = nullptr);

    void accept() override;
    void fillSample();
    void addFrontPageRules();
    void editBeforeScript();
    void editAfterScript();
    void editDirectoryRules();
    void setScriptEditor(TextEditor editor) { editScript_ = std::move(editor); }
    void setRulesEditor(TextEditor editor) { editRules_ = std::move(editor); }

    [[nodiscard]] QLineEdit* reportField() const { return report_; }
    [[nodiscard]] QLineEdit* archiveField() const { return archive_; }
    [[nodiscard]] QLineEdit* maximumField() const { return maximum_; }
    [[nodiscard]] QPlainTextEdit* directoriesField() const { return directories_; }
    [[nodiscard]] QPlainTextEdit* filesField() const { return files_; }
    [[nodiscard]] QCheckBox* atomicBox() const { return atomic_; }
    [[nodiscard]] QSpinBox* connectionsBox() const { return connections_; }
    [[nodiscard]] QLineEdit* keyFileField() const { return keyFile_; }
    [[nodiscard]] QLineEdit* rateLimitField() const { return rateLimit_; }
    [[nodiscard]] StrategyBox* strategyBox() const { return strategy_; }
    [[nodiscard]] QLabel* hintLabel() const { return hint_; }

private:
    struct RowLabels {
        QLabel* connections;
        QLabel* keyFile;
        QLabel* strategy;
        QLabel* rateLimit;
    };

    void addReportBox(QGridLayout& layout);
    [[nodiscard]] RowLabels addSkipAndConnectionRows(QGridLayout& layout);
    void addHintBox(QGridLayout& layout);
    void addButtons(QGridLayout& layout);
    void watchHints(const RowLabels& labels);

    const UiStrings& strings_;
    ProjectSettings& project_;
    CHintText hints_;
    TextEditor editScript_;
    TextEditor editRules_;

    QLineEdit* report_;
    QLineEdit* archive_;
    QLineEdit* maximum_;
    QPlainTextEdit* directories_;
    QPlainTextEdit* files_;
    QCheckBox* atomic_;
    QSpinBox* connections_;
    QLineEdit* keyFile_;
    QLineEdit* rateLimit_;
    StrategyBox* strategy_;
    QLabel* hint_;
};
