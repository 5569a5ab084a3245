#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// What the test servers need of the machine: ports, readiness, short administrative commands.

// Whether something accepts TCP connections on `host` (an IPv4 or IPv6 address) and `port`.
[[nodiscard]] bool canConnect(const std::string& host, int port);
// A port on 127.0.0.1 that was free a moment ago (0 when none could be found).
[[nodiscard]] int freePort();
// Runs a short command to its end; `input` goes to its standard input. True on exit code 0.
bool runTool(const std::string& commandLine, const std::string& input = {});
// What a short command printed, or empty when it failed.
[[nodiscard]] std::string toolOutput(const std::string& commandLine);
// Sleeps 25 ms, the step of every bounded readiness poll.
void pause25ms();
// Starts `arguments` (argv[0] a full path) in a process group of its own, with default
// signal handling, standard input from /dev/null, standard output to `stdoutFd` (or appended
// to `stderrPath` when negative) and standard error appended to `stderrPath`. -1 on failure.
[[nodiscard]] pid_t spawnInOwnGroup(const std::vector<std::string>& arguments, int stdoutFd,
    const std::string& stderrPath, const std::vector<std::string>& extraEnvironment = {});
// Every process below `root`, found through the parents /proc names: servers that put each
// session into a session (and group) of its own are out of reach of a signal to the group.
[[nodiscard]] std::vector<pid_t> descendantsOf(pid_t root);
