#include "ftp/trusted_certificates.h"
#include "shell/application.h"
#include "shell/windowless_runner.h"

#include <cstdio>
#include <cstdlib>
#include <string>

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

// The one argument as the system would hand it over: everything after the program name.
std::string commandLine(int argc, char** argv)
{
    std::string text;
    for (int index = 1; index < argc; ++index) {
        if (!text.empty())
            text += ' ';
        text += argv[index];
    }
    size_t start = text.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : text.substr(start);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::string(argv[1]) == "--trust-cert") {
        if (argc != 4) {
            std::fprintf(stderr, "usage: tarnwick --trust-cert HOST:PORT FINGERPRINT\n");
            return 1;
        }
        TrustedCertificates store(TrustedCertificates::defaultPath());
        if (!store.trust(argv[2], argv[3])) {
            std::fprintf(stderr,
                "tarnwick: cannot trust %s: a SHA-256 fingerprint (64 hexadecimal digits) is needed "
                "and %s must be writable\n",
                argv[2], TrustedCertificates::defaultPath().c_str());
            return 1;
        }
        std::printf("trusted %s for %s\n", TrustedCertificates::normalFingerprint(argv[3]).c_str(), argv[2]);
        return 0;
    }
    const std::string argument = commandLine(argc, argv);
    const bool windowless = argument == "-service" || (!argument.empty() && !hasDisplay());
#ifdef TARNWICK_HAVE_UI
    if (!windowless && hasDisplay())
        return runDesktopApplication(argc, argv);
#endif
    if (!windowless && argument.empty()) {
        std::fprintf(stderr,
            "usage: tarnwick PROJECT | -all | -service\n"
            "  PROJECT   upload the project whose file name begins with PROJECT, then end\n"
            "  -all      upload every project one after the other, then end\n"
            "  -service  run the interval scheduler without a window until SIGTERM\n");
        return 1;
    }
    Application application;
    application.startUp();
    WindowlessRunner runner(application, stdout);
    return runner.run(argument);
}
