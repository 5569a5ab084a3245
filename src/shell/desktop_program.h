#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// `tarnwick` links no window-system library, so that runs from cron, systemd or a terminal
// start at once; a window is the work of a second program, which it replaces itself with.
// Two layouts hold both: a build tree (both in one folder) and an installation (the command
// in bin/, the desktop program in libexec/tarnwick/ under the same prefix).
inline constexpr const char* kDesktopProgramName = "tarnwick-desktop";
inline constexpr const char* kCommandProgramName = "tarnwick";

// Exit code when the desktop program cannot be started, as a shell reports a command it
// cannot run.
inline constexpr int kExitNoDesktop = 127;

// Where the desktop program may lie for the command program at `commandPath`, in the order
// tried.
[[nodiscard]] std::vector<std::string> desktopProgramCandidates(const std::string& commandPath);

// The command program that belongs to the desktop program at `desktopPath` (what a service
// unit should start), or empty when neither layout holds one. `isExecutable` is asked about
// each candidate.
[[nodiscard]] std::string commandProgramFor(
    const std::string& desktopPath, const std::function<bool(const std::string&)>& isExecutable);
[[nodiscard]] bool isExecutableFile(const std::string& path);

// Replaces the process by the desktop program of the running command program, with the same
// arguments and environment. Returns only when that failed: a line saying why has gone to
// `errors`, and the result is the exit code to end with.
[[nodiscard]] int execDesktopProgram(char** argv, FILE* errors);
