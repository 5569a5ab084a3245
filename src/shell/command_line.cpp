#include "shell/command_line.h"

#include "config/transfer_rate.h"
#include "shell/app_info.h"

#include <string_view>

namespace {

CommandLine usageError(std::string text)
{
    CommandLine result;
    result.kind = CommandKind::UsageError;
    result.error = std::move(text);
    return result;
}

// What the output options asked for, before they are checked against each other.
struct OutputFlags {
    bool quiet = false;
    int verbose = 0; // one per -v
};

// A bundle of single-letter flags such as "-nq" or "-vv"; false when a letter is unknown.
bool readShortFlags(std::string_view word, CommandLine& result, OutputFlags& output)
{
    if (word.size() < 2 || word[0] != '-' || word[1] == '-')
        return false;
    for (char letter : word.substr(1)) {
        if (letter != 'n' && letter != 'q' && letter != 'v')
            return false;
    }
    for (char letter : word.substr(1)) {
        if (letter == 'n')
            result.dryRun = true;
        else if (letter == 'q')
            output.quiet = true;
        else
            ++output.verbose;
    }
    return true;
}

Verbosity verbosityOf(const OutputFlags& output)
{
    if (output.quiet)
        return Verbosity::Quiet;
    if (output.verbose == 0)
        return Verbosity::Normal;
    return output.verbose == 1 ? Verbosity::Verbose : Verbosity::Debug;
}

// The option that needs a run to act on, for the message when there is none.
const char* runOnlyOption(const CommandLine& result, const OutputFlags& output)
{
    if (result.dryRun)
        return "--dry-run";
    if (output.quiet)
        return "--quiet";
    if (output.verbose > 0)
        return "--verbose";
    return result.uploadRateLimit ? "--bwlimit" : nullptr;
}

// Two options that ask for different things at once; empty when there are none.
std::string conflictingOptions(const CommandLine& result, const OutputFlags& output)
{
    const bool checking = result.check != CommandLine::Check::None;
    const std::string checkOption = result.check == CommandLine::Check::Compare ? "--compare" : "--repair";
    if (output.quiet && output.verbose > 0)
        return "--quiet and --verbose exclude each other";
    if (checking && result.dryRun)
        return checkOption + " and --dry-run exclude each other";
    if (result.watch && (result.dryRun || checking))
        return "--watch and " + (result.dryRun ? std::string("--dry-run") : checkOption) + " exclude each other";
    // A compare sends nothing; a repair uploads and keeps to the cap.
    if (result.uploadRateLimit && result.check == CommandLine::Check::Compare)
        return "--bwlimit and --compare exclude each other";
    if (result.allowDeleteAll && checking)
        return "--allow-delete-all and " + checkOption + " exclude each other";
    return {};
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLine result;
    bool service = false;
    bool all = false;
    bool optionsEnded = false;
    OutputFlags output;
    std::string name;
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& word = arguments[index];
        if (optionsEnded || word.empty() || word[0] != '-') {
            if (!name.empty())
                name += ' ';
            name += word;
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
        } else if (word == "--help" || word == "-h") {
            CommandLine help;
            help.kind = CommandKind::Help;
            return help;
        } else if (word == "--version" || word == "-V") {
            CommandLine version;
            version.kind = CommandKind::Version;
            return version;
        } else if (word == "--dry-run") {
            result.dryRun = true;
        } else if (word == "--quiet") {
            output.quiet = true;
        } else if (word == "--verbose") {
            ++output.verbose;
        } else if (word == "--watch") {
            result.watch = true;
        } else if (word == "--allow-delete-all") {
            result.allowDeleteAll = true;
        } else if (word == "--compare" || word == "--repair") {
            const CommandLine::Check check
                = word == "--compare" ? CommandLine::Check::Compare : CommandLine::Check::Repair;
            if (result.check != CommandLine::Check::None && result.check != check)
                return usageError("--compare and --repair exclude each other");
            result.check = check;
        } else if (word == "--bwlimit" || word.starts_with("--bwlimit=")) {
            const bool joined = word.size() > 9;
            if (!joined && index + 1 == arguments.size())
                return usageError("--bwlimit needs a rate: bytes per second, or with k, M or G (4M, 500k)");
            const std::string rate = joined ? word.substr(10) : arguments[++index];
            result.uploadRateLimit = parseTransferRate(rate);
            if (!result.uploadRateLimit)
                return usageError("--bwlimit \"" + rate
                    + "\" is no rate: bytes per second of at least 1024, or with k, M or G (4M, 500k); 0 for no cap");
        } else if (word == "-all") {
            all = true;
        } else if (word == "-service") {
            service = true;
        } else if (word == "--trust-cert") {
            if (arguments.size() != index + 3 || index != 0)
                return usageError("--trust-cert needs exactly HOST:PORT and FINGERPRINT");
            result.kind = CommandKind::TrustCert;
            result.trustArguments = { arguments[index + 1], arguments[index + 2] };
            return result;
        } else if (word == "--move-passwords-to-keyring") {
            if (arguments.size() != 1)
                return usageError("--move-passwords-to-keyring takes no other argument");
            result.kind = CommandKind::MovePasswords;
            return result;
        } else if (!readShortFlags(word, result, output)) {
            return usageError("unknown option \"" + word + "\"");
        }
    }

    // The project search has always skipped blanks before the name (the desktop hands its
    // command line over with them), so a quoted " demo" names the project demo.
    name.erase(0, name.find_first_not_of(" \t"));
    const int targets = (all ? 1 : 0) + (service ? 1 : 0) + (name.empty() ? 0 : 1);
    if (targets > 1)
        return usageError("name one project, or -all, or -service");
    if (std::string conflict = conflictingOptions(result, output); !conflict.empty())
        return usageError(conflict);
    const char* runOnly = runOnlyOption(result, output);
    const char* checkOption = result.check == CommandLine::Check::Compare ? "--compare" : "--repair";
    if (service) {
        if (runOnly != nullptr || result.check != CommandLine::Check::None || result.allowDeleteAll || result.watch)
            return usageError("-service takes no other option");
        result.kind = CommandKind::Service;
        return result;
    }
    if (targets == 0) {
        if (result.check != CommandLine::Check::None)
            return usageError(std::string(checkOption) + " needs a project name or -all");
        if (result.allowDeleteAll || result.watch)
            return usageError(
                std::string(result.watch ? "--watch" : "--allow-delete-all") + " needs a project name or -all");
        if (runOnly != nullptr)
            return usageError(std::string(runOnly) + " needs a project name or -all");
        return result;
    }
    result.verbosity = verbosityOf(output);
    result.kind = CommandKind::Run;
    result.target = all ? "-all" : name;
    return result;
}

std::string usageText()
{
    return "usage: tarnwick [OPTION]... [PROJECT | -all | -service]\n"
           "Keeps web sites on FTP servers in step with local folders.\n"
           "\n"
           "  PROJECT                  upload the project whose file name begins with PROJECT, then end\n"
           "  -all                     upload every project one after the other, then end\n"
           "  -service                 run the interval scheduler without a window until SIGTERM\n"
           "  -n, --dry-run            list what a run would upload, delete, archive and prune; change nothing\n"
           "  -q, --quiet              print only failures and the summary (for cron)\n"
           "  -v, --verbose            also print the commands sent and the server's replies;\n"
           "                           twice (-vv) also what the data connections do\n"
           "      --watch              after the run, upload each change in the local folder within\n"
           "                           a moment of its saving, until SIGTERM or Ctrl-C\n"
           "      --allow-delete-all   let this run delete on the server whatever is gone locally, even\n"
           "                           every file (beyond the project's maxdelete share)\n"
           "      --bwlimit RATE       upload at most RATE bytes per second to each site, shared by its\n"
           "                           connections; k, M and G multiply by 1024 (4M, 500k); 0: no cap.\n"
           "                           In place of the sites' own cap, for this run\n"
           "      --compare            list what differs between each site and the local folder;\n"
           "                           change nothing (exit 0: all in step, 1: not)\n"
           "      --repair             bring each site in line with the local folder: send what\n"
           "                           differs, delete what is only on the server, remove part files\n"
           "      --trust-cert HOST:PORT FINGERPRINT\n"
           "                           trust a server certificate by its SHA-256 fingerprint;\n"
           "                           the same with sftp://HOST:PORT trusts an SFTP server's host key\n"
           "      --move-passwords-to-keyring\n"
           "                           move the passwords the project files and the sites book hold\n"
           "                           in the clear into the desktop keyring (Secret Service)\n"
           "  -h, --help               show this text and end\n"
           "  -V, --version            show the version and end\n"
           "      --                   end of options: a project name beginning with \"-\" follows\n"
           "\n"
           "A run prints a line per file uploaded, deleted, archived or failed, then a summary;\n"
           "-v and -vv never show a password.\n"
           "Without an argument the desktop application starts in the notification area.\n"
           "Projects live in $XDG_DATA_HOME/Tarnwick (default ~/.local/share/Tarnwick).\n"
           "\n"
           "Exit status: 0 every file went up, 1 something failed (the next run retries it),\n"
           "2 the arguments were not understood, 127 the desktop application could not be started.\n";
}

std::string versionText()
{
    return std::string("tarnwick ") + kProductVersion + "\n";
}
