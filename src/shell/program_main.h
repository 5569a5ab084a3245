#pragma once

// Starts the desktop application with the program's arguments and returns its exit code;
// returns only on failure when it replaces the process.
using DesktopStart = int (*)(int argc, char** argv);

// Everything both programs do with their arguments: the answers that need nothing (help,
// version, usage errors, trusting a certificate), the choice between a window and a run
// without one, and the windowless runs. Deciding here keeps the two programs in agreement:
// the desktop program, started directly, runs windowless work itself. `startDesktop` is
// null in a build without the desktop application.
[[nodiscard]] int runProgram(int argc, char** argv, DesktopStart startDesktop);
