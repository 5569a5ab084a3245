#include "shell/desktop_program.h"

#include "shell/service_registration.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The path without "." and ".." steps, so that a message names the folder a user can find.
std::string normal(const fs::path& path)
{
    return path.lexically_normal().string();
}

} // namespace

std::vector<std::string> desktopProgramCandidates(const std::string& commandPath)
{
    const fs::path folder = fs::path(commandPath).parent_path();
    return { normal(folder / kDesktopProgramName),
        normal(folder / ".." / "libexec" / "tarnwick" / kDesktopProgramName) };
}

std::string commandProgramFor(
    const std::string& desktopPath, const std::function<bool(const std::string&)>& isExecutable)
{
    const fs::path folder = fs::path(desktopPath).parent_path();
    for (const fs::path& candidate :
        { folder / kCommandProgramName, folder / ".." / ".." / "bin" / kCommandProgramName }) {
        if (isExecutable(normal(candidate)))
            return normal(candidate);
    }
    return {};
}

bool isExecutableFile(const std::string& path)
{
    struct stat status { };
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

int execDesktopProgram(char** argv, FILE* errors)
{
    const std::string self = ServiceRegistration::currentProgramPath();
    if (self.empty()) {
        std::fprintf(
            errors, "tarnwick: cannot start the desktop application: /proc/self/exe: %s\n", std::strerror(errno));
        return kExitNoDesktop;
    }
    const std::vector<std::string> candidates = desktopProgramCandidates(self);
    // The first failure that is not a missing file says most: a program there that cannot run.
    std::string failedPath = candidates.front();
    int failure = ENOENT;
    for (const std::string& candidate : candidates) {
        ::execv(candidate.c_str(), argv);
        if (errno != ENOENT && failure == ENOENT) {
            failure = errno;
            failedPath = candidate;
        }
    }
    if (failure == ENOENT) {
        std::fprintf(errors,
            "tarnwick: cannot start the desktop application: %s is neither in %s nor in %s "
            "(a run without a window needs a project name or -all)\n",
            kDesktopProgramName, fs::path(candidates[0]).parent_path().c_str(),
            fs::path(candidates[1]).parent_path().c_str());
    } else {
        std::fprintf(errors, "tarnwick: cannot start the desktop application %s: %s\n", failedPath.c_str(),
            std::strerror(failure));
    }
    return kExitNoDesktop;
}
