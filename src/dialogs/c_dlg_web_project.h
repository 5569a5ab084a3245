#pragma once

#include "config/project_settings.h"
#include "dialogs/c_hint_text.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct FtpSite;
struct MachineOptions;
class PasswordEdit;
class PasswordStore;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class StrategyBox;
class UiStrings;

// The web project editor: creates, edits, tests and deletes projects. It works on copies of
// the main window's projects and writes them to their files; the main window reloads its list
// from disk afterwards, so only what was written survives.
class CDlgWebProject final : public QDialog {
    Q_OBJECT
public:
    struct Entry {
        std::string name; // "name.ftp"
        ProjectSettings project;
    };

    // What the editor asks the user; tests replace them.
    struct Prompts {
        std::function<std::optional<QString>()> askName; // New; nullopt: cancelled
        std::function<bool(const QString& question)> confirm; // Yes/No
        std::function<void(const QString& message)> inform;
        std::function<QString()> pickFolder; // empty: cancelled
        std::function<void(ProjectSettings& project)> editExpert;
    };

    CDlgWebProject(const UiStrings& strings, const MachineOptions& options, std::string dataDirectory,
        std::vector<Entry> mainList, QWidget* parent = nullptr);
    ~CDlgWebProject() override;

    void setPrompts(Prompts prompts) { prompts_ = std::move(prompts); }
    // Where typed passwords are kept when it takes them; nullptr (the default): the project
    // file. Set before the first project is shown.
    void setPasswordStore(PasswordStore* passwords);

    void selectEntry(int index);
    void newProject();
    void deleteProject();
    void saveProject();
    void testConnection();
    void browseLocalDirectory();
    void openExpert();
    void accept() override;

    [[nodiscard]] ProjectSettings* currentProject() const { return current_; }
    [[nodiscard]] QComboBox* configurationBox() const { return configuration_; }
    [[nodiscard]] QLineEdit* serverField() const { return server_; }
    [[nodiscard]] QLineEdit* userField() const { return user_; }
    [[nodiscard]] QLineEdit* passwordField() const { return password_; }
    [[nodiscard]] QCheckBox* showPasswordBox() const { return showPassword_; }
    [[nodiscard]] QLineEdit* startDirectoryField() const { return startDirectory_; }
    [[nodiscard]] QLineEdit* localDirectoryField() const { return localDirectory_; }
    [[nodiscard]] QLineEdit* minutesField() const { return minutes_; }
    [[nodiscard]] QCheckBox* deleteBox() const { return delete_; }
    [[nodiscard]] QCheckBox* watchBox() const { return watch_; }
    [[nodiscard]] StrategyBox* strategyBox() const { return strategy_; }
    [[nodiscard]] QLabel* hintLabel() const { return hint_; }

private:
    struct Project {
        std::string name;
        std::unique_ptr<ProjectSettings> settings;
        bool inMainList = false;
    };

    [[nodiscard]] int addFields(QGridLayout& layout);
    void addButtons(QGridLayout& layout, int rows);
    void watchHints();
    [[nodiscard]] Prompts desktopPrompts();
    void fillConfigurationBox();
    void fillFields();
    void storeFields();
    [[nodiscard]] FtpSite& currentSite();

    const UiStrings& strings_;
    const MachineOptions& options_;
    std::string dataDirectory_;
    std::vector<Project> projects_;
    ProjectSettings* current_ = nullptr;
    Prompts prompts_;
    PasswordStore* passwords_ = nullptr;
    std::unique_ptr<PasswordEdit> passwordEdit_;
    CHintText hints_;

    QComboBox* configuration_;
    QLineEdit* server_;
    QLineEdit* user_;
    QLineEdit* password_;
    QCheckBox* showPassword_ = nullptr;
    QLineEdit* startDirectory_;
    QLineEdit* localDirectory_;
    QLineEdit* minutes_;
    QCheckBox* delete_;
    QCheckBox* watch_;
    StrategyBox* strategy_;
    QLabel* hint_;
};
