#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the program was asked to do, read from its arguments without touching anything.
enum class CommandKind {
    Desktop, // no argument: the tray application (or the usage text without a display)
    Run, // a project name or "-all": one run, then the program ends
    Service, // "-service": the scheduler without a window
    TrustCert, // "--trust-cert HOST:PORT FINGERPRINT"
    MovePasswords, // "--move-passwords-to-keyring"
    Help,
    Version,
    UsageError, // `error` says what is wrong; the program ends with kExitUsage
};

// The process exit codes, as --help and the manual page document them.
inline constexpr int kExitDone = 0; // every file went up (or there was nothing to do)
inline constexpr int kExitFailed = 1; // a file, a site or the run failed; the next run retries
inline constexpr int kExitUsage = 2; // the arguments were not understood

// How much a windowless run prints.
enum class Verbosity {
    Quiet, // -q: failures and the summary
    Normal, // one line per file outcome, the progress line on a terminal, the summary
    Verbose, // -v: and the commands sent and the replies
    Debug, // -vv: and what the data connections do
};

struct CommandLine {
    CommandKind kind = CommandKind::Desktop;
    // For Run: the project name (the words that are no option, joined by blanks, as the
    // desktop hands its one argument over) or "-all".
    std::string target;
    bool dryRun = false; // -n, --dry-run: list what a run would do, connect to nothing
    Verbosity verbosity = Verbosity::Normal;
    // For Run: --compare lists what differs between each site and the local folder and
    // changes nothing; --repair brings each site in line with the local folder.
    enum class Check : char { None, Compare, Repair };
    Check check = Check::None;
    // For Run: this run may delete the last files of a site and any share of them.
    bool allowDeleteAll = false;
    // For Run: after the run, upload what changes in the local folders until stopped.
    bool watch = false;
    // For Run: --bwlimit RATE, the upload cap of this run for every site in bytes per second
    // (0: none), in place of the sites' own.
    std::optional<int64_t> uploadRateLimit;
    std::vector<std::string> trustArguments; // HOST:PORT and FINGERPRINT
    std::string error;
};

// `arguments` are the words after the program name. Options may stand before or after the
// project name; "--" ends the options, so a project whose name begins with "-" can be named.
[[nodiscard]] CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The text of --help: one line per option, the exit codes at the end.
[[nodiscard]] std::string usageText();
[[nodiscard]] std::string versionText();
