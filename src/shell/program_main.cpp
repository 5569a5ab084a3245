#include "shell/program_main.h"

#include "shell/application.h"
#include "shell/command_line.h"
#include "shell/password_move.h"
#include "shell/site_check_command.h"
#include "shell/trust_command.h"
#include "shell/windowless_runner.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

bool hasDisplay()
{
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY" }) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0')
            return true;
    }
    return false;
}

} // namespace

int runProgram(int argc, char** argv, DesktopStart startDesktop)
{
    const CommandLine command = parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    switch (command.kind) {
    case CommandKind::Help: std::fputs(usageText().c_str(), stdout); return kExitDone;
    case CommandKind::Version: std::fputs(versionText().c_str(), stdout); return kExitDone;
    case CommandKind::UsageError:
        std::fprintf(stderr, "tarnwick: %s\nTry 'tarnwick --help' for the options.\n", command.error.c_str());
        return kExitUsage;
    case CommandKind::TrustCert:
        return runTrustCommand(
            command.trustArguments[0], command.trustArguments[1], TrustStores::defaults(), stdout, stderr);
    case CommandKind::MovePasswords: return runMovePasswordsCommand(stdout, stderr);
    case CommandKind::Desktop:
    case CommandKind::Run:
    case CommandKind::Service: break;
    }

    // A dry run, a check, and a run asked for less or more output report on the terminal
    // even where a desktop is at hand; so does a run given options only this run knows, which
    // the desktop would not honour.
    const bool windowless = command.kind == CommandKind::Service || command.dryRun
        || command.verbosity != Verbosity::Normal || command.check != CommandLine::Check::None || command.allowDeleteAll
        || command.uploadRateLimit.has_value() || (command.kind == CommandKind::Run && !hasDisplay());
    if (!windowless && hasDisplay() && startDesktop != nullptr)
        return startDesktop(argc, argv);
    if (command.kind == CommandKind::Desktop) {
        std::fputs("tarnwick: no display for the desktop application; name a project or -all\n", stderr);
        std::fputs(usageText().c_str(), stderr);
        return kExitUsage;
    }
    Application application;
    application.startUp();
    if (command.check != CommandLine::Check::None)
        return runSiteCheck(application, command.target,
            command.check == CommandLine::Check::Compare ? CompareMode::Report : CompareMode::Repair, stdout, stderr,
            command.uploadRateLimit);
    WindowlessOptions options;
    options.dryRun = command.dryRun;
    options.verbosity = command.verbosity;
    options.allowDeleteAll = command.allowDeleteAll;
    options.watch = command.watch;
    options.uploadRateLimit = command.uploadRateLimit;
    options.progressLine = command.verbosity != Verbosity::Quiet && ::isatty(STDOUT_FILENO) == 1;
    WindowlessRunner runner(application, stdout, options);
    return runner.run(command.kind == CommandKind::Service ? std::string("-service") : command.target);
}
