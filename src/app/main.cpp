#include "ftp/server_address.h"
#include "ftp/sftp_session.h"
#include "ftp/trusted_certificates.h"
#include "shell/application.h"
#include "shell/command_line.h"
#include "shell/windowless_runner.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#ifdef TARNWICK_HAVE_UI
#include "ui/desktop_application.h"
#endif

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

// "sftp://HOST:PORT" trusts an SSH host key, anything else a TLS certificate; each has its
// own file, so a key can never pass for a certificate of the same server.
int trustCertificate(const std::vector<std::string>& arguments)
{
    const std::optional<ServerAddress> address = ServerAddress::parse(arguments[0]);
    const bool hostKey = address && address->transport == ServerAddress::Transport::Sftp;
    // Sessions look a key up as "host:port"; a bare host means the SSH port.
    const std::string server = hostKey ? address->hostAndPort() : arguments[0];
    const std::string path = hostKey ? SftpSession::defaultTrustedHostKeysPath() : TrustedCertificates::defaultPath();
    TrustedCertificates store(path);
    if (!store.trust(server, arguments[1])) {
        std::fprintf(stderr,
            "tarnwick: cannot trust %s: a SHA-256 fingerprint (64 hexadecimal digits) is needed "
            "and %s must be writable\n",
            arguments[0].c_str(), path.c_str());
        return kExitFailed;
    }
    std::printf("trusted %s for %s%s\n", TrustedCertificates::normalFingerprint(arguments[1]).c_str(),
        hostKey ? "the SSH host key of " : "", server.c_str());
    return kExitDone;
}

} // namespace

int main(int argc, char** argv)
{
    const CommandLine command = parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    switch (command.kind) {
    case CommandKind::Help: std::fputs(usageText().c_str(), stdout); return kExitDone;
    case CommandKind::Version: std::fputs(versionText().c_str(), stdout); return kExitDone;
    case CommandKind::UsageError:
        std::fprintf(stderr, "tarnwick: %s\nTry 'tarnwick --help' for the options.\n", command.error.c_str());
        return kExitUsage;
    case CommandKind::TrustCert: return trustCertificate(command.trustArguments);
    case CommandKind::Desktop:
    case CommandKind::Run:
    case CommandKind::Service: break;
    }

    // A dry run and a quiet run report on the terminal even where a desktop is at hand.
    [[maybe_unused]] const bool windowless = command.kind == CommandKind::Service || command.dryRun || command.quiet
        || (command.kind == CommandKind::Run && !hasDisplay());
#ifdef TARNWICK_HAVE_UI
    if (!windowless && hasDisplay())
        return runDesktopApplication(argc, argv);
#endif
    if (command.kind == CommandKind::Desktop) {
        std::fputs("tarnwick: no display for the desktop application; name a project or -all\n", stderr);
        std::fputs(usageText().c_str(), stderr);
        return kExitUsage;
    }
    Application application;
    application.startUp();
    WindowlessOptions options;
    options.dryRun = command.dryRun;
    options.quiet = command.quiet;
    options.progressLine = !command.quiet && ::isatty(STDOUT_FILENO) == 1;
    WindowlessRunner runner(application, stdout, options);
    return runner.run(command.kind == CommandKind::Service ? std::string("-service") : command.target);
}
