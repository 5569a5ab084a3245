#include "shell/service_registration.h"

#include "shell/diagnostic_log.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

bool makeDirectories(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// systemd splits ExecStart at blanks and expands "%" and "$"; a program path holding any of
// them must be quoted and escaped or the service would start something else.
std::string execArgument(const std::string& path)
{
    std::string escaped;
    bool needsQuotes = false;
    for (char c : path) {
        switch (c) {
        case '%': escaped += "%%"; break;
        case '$': escaped += "$$"; break;
        case '"':
        case '\\':
            escaped += '\\';
            escaped += c;
            needsQuotes = true;
            break;
        case ' ':
        case '\t':
        case '\'':
            escaped += c;
            needsQuotes = true;
            break;
        default: escaped += c;
        }
    }
    return needsQuotes ? "\"" + escaped + "\"" : escaped;
}

bool writeNewFile(const std::string& path, const std::string& text)
{
    int descriptor;
    do {
        descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0)
        return false;
    const char* data = text.data();
    size_t left = text.size();
    bool ok = true;
    while (left > 0) {
        ssize_t written = ::write(descriptor, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            ok = false;
            break;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    if (::close(descriptor) != 0)
        ok = false;
    if (!ok)
        ::unlink(path.c_str());
    return ok;
}

} // namespace

ServiceRegistration::ServiceRegistration(
    std::string unitDirectory, std::string programPath, std::string systemctl, const DiagnosticLog& log)
    : unitDirectory_(std::move(unitDirectory))
    , programPath_(std::move(programPath))
    , systemctl_(std::move(systemctl))
    , log_(log)
{
    if (!unitDirectory_.empty() && unitDirectory_.back() != '/')
        unitDirectory_ += '/';
}

std::string ServiceRegistration::defaultUnitDirectory()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return std::string(config) + "/systemd/user/";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.config/systemd/user/";
    return {};
}

std::string ServiceRegistration::currentProgramPath()
{
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return {};
        if (static_cast<size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

std::string ServiceRegistration::findSystemctl()
{
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t end = folders.find(':', start);
        std::string folder = folders.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!folder.empty()) {
            std::string candidate = folder + "/systemctl";
            if (::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (end == std::string::npos)
            return {};
        start = end + 1;
    }
}

bool ServiceRegistration::isInstalled() const
{
    struct stat info { };
    return !unitDirectory_.empty() && ::stat(unitPath().c_str(), &info) == 0;
}

std::string ServiceRegistration::unitText() const
{
    return "[Unit]\n"
           "Description=Tarnwick scheduled uploads\n"
           "\n"
           "[Service]\n"
           "ExecStart="
        + execArgument(programPath_)
        + " -service\n"
          "Restart=on-failure\n"
          "\n"
          "[Install]\n"
          "WantedBy=default.target\n";
}

void ServiceRegistration::runSystemctl(const char* verb) const
{
    if (systemctl_.empty())
        return;
    std::string program = systemctl_;
    std::string user = "--user";
    std::string action = verb;
    std::string unit = kUnitName;
    char* arguments[] = { program.data(), user.data(), action.data(), unit.data(), nullptr };
    if (action == "daemon-reload")
        arguments[3] = nullptr;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // systemctl's chatter is not ours to show; failures are logged below.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    int error = posix_spawn(&child, program.c_str(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        log_.logLine("systemctl --user " + action + " could not be started", LogLineKind::Error);
        return;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        log_.logLine("systemctl --user " + action + " failed", LogLineKind::Error);
}

int ServiceRegistration::installService()
{
    if (unitDirectory_.empty() || programPath_.empty() || !makeDirectories(unitDirectory_))
        return 1;
    if (!writeNewFile(unitPath(), unitText()))
        return 1;
    runSystemctl("daemon-reload");
    runSystemctl("enable");
    return 0;
}

int ServiceRegistration::removeService()
{
    if (!isInstalled()) {
        log_.logLine("main(): OpenService", LogLineKind::Plain);
        log_.logLine("main(): DeleteService", LogLineKind::Plain);
        std::fputs("DeleteService FAILED\n", stdout);
        return 1;
    }
    runSystemctl("disable");
    if (::unlink(unitPath().c_str()) != 0) {
        log_.logLine("main(): DeleteService", LogLineKind::Plain);
        std::fputs("DeleteService FAILED\n", stdout);
        return 1;
    }
    runSystemctl("daemon-reload");
    log_.logLine("DeleteService SUCCESS", LogLineKind::Plain);
    return 0;
}
