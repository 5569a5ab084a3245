#pragma once

#include <string>

class DiagnosticLog;

// Registration as a background service: a systemd user unit that starts the program with
// "-service" at log-in. "Installed" means the unit file exists.
class ServiceRegistration {
public:
    static constexpr const char* kUnitName = "tarnwick.service";

    // `unitDirectory`: where user units live (see defaultUnitDirectory). `programPath`: the
    // absolute path of the program. `systemctl`: the systemctl to enable and disable the unit
    // with; empty when systemd is not present.
    ServiceRegistration(
        std::string unitDirectory, std::string programPath, std::string systemctl, const DiagnosticLog& log);

    // $XDG_CONFIG_HOME/systemd/user/ (default ~/.config/systemd/user/), with a trailing "/";
    // empty when there is no home folder.
    [[nodiscard]] static std::string defaultUnitDirectory();
    // The running program's absolute path.
    [[nodiscard]] static std::string currentProgramPath();
    // systemctl found on PATH, or empty.
    [[nodiscard]] static std::string findSystemctl();

    [[nodiscard]] std::string unitPath() const { return unitDirectory_ + kUnitName; }
    [[nodiscard]] bool isInstalled() const;
    // The unit file's text.
    [[nodiscard]] std::string unitText() const;

    // 0 on success; 1 when the unit exists already or cannot be written.
    [[nodiscard]] int installService();
    // 0 on success; 1 when there is no unit or it cannot be removed (logged).
    [[nodiscard]] int removeService();

private:
    void runSystemctl(const char* verb) const;

    std::string unitDirectory_;
    std::string programPath_;
    std::string systemctl_;
    const DiagnosticLog& log_;
};
