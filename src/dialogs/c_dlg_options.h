#pragma once

#include "dialogs/c_hint_text.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

struct MachineOptions;
class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class ServiceRegistration;
class UiStrings;

// The machine-wide options: ASCII extensions, FrontPage data, size checks, the dial-up entry,
// hanging up after uploads and the background service. OK stores them and installs or removes
// the service.
class CDlgOptions final : public QDialog {
    Q_OBJECT
public:
    using DialUpEntries = std::function<std::vector<std::string>()>;

    // `asciiExtensions` changes in memory only; the options go to `optionsFile`.
    CDlgOptions(const UiStrings& strings, MachineOptions& options, std::vector<std::string>& asciiExtensions,
        std::string optionsFile, ServiceRegistration& service, const DialUpEntries& dialUpEntries,
        QWidget* parent = nullptr);

    void accept() override;
    // The outcome of the last OK, for the caller's message.
    [[nodiscard]] bool savedOptions() const { return savedOptions_; }

    [[nodiscard]] QPlainTextEdit* asciiField() const { return ascii_; }
    [[nodiscard]] QCheckBox* frontPageBox() const { return frontPage_; }
    [[nodiscard]] QCheckBox* checkSizeBox() const { return checkSize_; }
    [[nodiscard]] QComboBox* dialUpBox() const { return dialUp_; }
    [[nodiscard]] QCheckBox* disconnectBox() const { return disconnect_; }
    [[nodiscard]] QCheckBox* passiveBox() const { return passive_; }
    [[nodiscard]] QCheckBox* serviceBox() const { return service_; }
    [[nodiscard]] QLabel* hintLabel() const { return hint_; }

    // Don't show message boxes (tests).
    void setQuiet(bool quiet) { quiet_ = quiet; }

private:
    // The "no dial-up" entry and the machine's connections, sorted; `chosen` selected.
    void fillDialUpEntries(const DialUpEntries& dialUpEntries, const std::string& chosen);

    const UiStrings& strings_;
    MachineOptions& options_;
    std::vector<std::string>& asciiExtensions_;
    std::string optionsFile_;
    ServiceRegistration& serviceRegistration_;
    CHintText hints_;

    QPlainTextEdit* ascii_;
    QCheckBox* frontPage_;
    QCheckBox* checkSize_;
    QComboBox* dialUp_;
    QCheckBox* disconnect_;
    QCheckBox* passive_;
    QCheckBox* service_;
    QLabel* hint_;
    int noDialUpIndex_ = -1;
    bool savedOptions_ = false;
    bool quiet_ = false;
};
