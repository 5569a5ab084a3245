// The arguments as the program reads them: every option, combinations, mistakes.

#include "shell/command_line.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace {

struct Row {
    const char* name;
    std::vector<std::string> arguments;
    CommandKind kind;
    std::string target;
    bool dryRun;
    Verbosity verbosity;
    const char* errorPart; // for UsageError
};

constexpr Verbosity Q = Verbosity::Quiet;
constexpr Verbosity N = Verbosity::Normal;
constexpr Verbosity V = Verbosity::Verbose;
constexpr Verbosity D = Verbosity::Debug;

const Row kRows[] = {
    { "nothing", {}, CommandKind::Desktop, "", false, N, "" },
    { "project", { "mysite" }, CommandKind::Run, "mysite", false, N, "" },
    { "name with blanks is joined", { "my", "site" }, CommandKind::Run, "my site", false, N, "" },
    { "leading blank of a name is skipped", { " \tmy", "site" }, CommandKind::Run, "my site", false, N, "" },
    { "a blank alone names nothing", { " " }, CommandKind::Desktop, "", false, N, "" },
    { "all", { "-all" }, CommandKind::Run, "-all", false, N, "" },
    { "service", { "-service" }, CommandKind::Service, "", false, N, "" },
    { "dry run short", { "-n", "mysite" }, CommandKind::Run, "mysite", true, N, "" },
    { "dry run long", { "--dry-run", "-all" }, CommandKind::Run, "-all", true, N, "" },
    { "quiet short", { "-q", "-all" }, CommandKind::Run, "-all", false, Q, "" },
    { "quiet long after name", { "mysite", "--quiet" }, CommandKind::Run, "mysite", false, Q, "" },
    { "bundled flags", { "-nq", "mysite" }, CommandKind::Run, "mysite", true, Q, "" },
    { "both long", { "--quiet", "--dry-run", "mysite" }, CommandKind::Run, "mysite", true, Q, "" },
    { "verbose short", { "-v", "mysite" }, CommandKind::Run, "mysite", false, V, "" },
    { "verbose long after name", { "-all", "--verbose" }, CommandKind::Run, "-all", false, V, "" },
    { "verbose twice bundled", { "-vv", "mysite" }, CommandKind::Run, "mysite", false, D, "" },
    { "verbose twice apart", { "-v", "mysite", "--verbose" }, CommandKind::Run, "mysite", false, D, "" },
    { "verbose three times stays at the most", { "-vvv", "mysite" }, CommandKind::Run, "mysite", false, D, "" },
    { "verbose bundled with dry run", { "-nv", "mysite" }, CommandKind::Run, "mysite", true, V, "" },
    { "quiet and verbose", { "-q", "-v", "mysite" }, CommandKind::UsageError, "", false, N, "exclude each other" },
    { "quiet and verbose bundled", { "-vq", "mysite" }, CommandKind::UsageError, "", false, N, "exclude each other" },
    { "quiet and verbose long", { "--verbose", "mysite", "--quiet" }, CommandKind::UsageError, "", false, N,
        "exclude each other" },
    { "verbose alone", { "-vv" }, CommandKind::UsageError, "", false, N, "--verbose needs a project" },
    { "service with verbose", { "-service", "-v" }, CommandKind::UsageError, "", false, N, "-service takes" },
    { "unknown letter after v", { "-vx", "a" }, CommandKind::UsageError, "", false, N, "\"-vx\"" },
    { "double dash names a dashed project", { "--", "-odd" }, CommandKind::Run, "-odd", false, N, "" },
    { "help", { "--help" }, CommandKind::Help, "", false, N, "" },
    { "help short wins over the rest", { "mysite", "-h", "--bogus" }, CommandKind::Help, "", false, N, "" },
    { "version", { "--version" }, CommandKind::Version, "", false, N, "" },
    { "version short", { "-V" }, CommandKind::Version, "", false, N, "" },
    { "unknown long", { "--force", "mysite" }, CommandKind::UsageError, "", false, N, "unknown option \"--force\"" },
    { "unknown short", { "-x" }, CommandKind::UsageError, "", false, N, "unknown option \"-x\"" },
    { "unknown letter in bundle", { "-nx", "a" }, CommandKind::UsageError, "", false, N, "\"-nx\"" },
    { "legacy marker in upper case", { "-ALL" }, CommandKind::UsageError, "", false, N, "unknown option" },
    { "dry run alone", { "-n" }, CommandKind::UsageError, "", false, N, "--dry-run needs a project" },
    { "quiet alone", { "-q" }, CommandKind::UsageError, "", false, N, "--quiet needs a project" },
    { "two targets", { "mysite", "-all" }, CommandKind::UsageError, "", false, N, "one project" },
    { "service with dry run", { "-service", "-n" }, CommandKind::UsageError, "", false, N, "-service takes" },
    { "trust cert short of a word", { "--trust-cert", "h:21" }, CommandKind::UsageError, "", false, N,
        "--trust-cert needs" },
    { "trust cert after a name", { "x", "--trust-cert", "h:21", "ab" }, CommandKind::UsageError, "", false, N,
        "--trust-cert needs" },
    { "move passwords", { "--move-passwords-to-keyring" }, CommandKind::MovePasswords, "", false, N, "" },
    { "move passwords with a project", { "--move-passwords-to-keyring", "x" }, CommandKind::UsageError, "", false, N,
        "takes no other argument" },
};

TEST(Arguments, EachRowReadsAsExpected)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        CommandLine parsed = parseCommandLine(row.arguments);
        EXPECT_EQ(parsed.kind, row.kind);
        if (row.kind == CommandKind::UsageError) {
            EXPECT_NE(parsed.error.find(row.errorPart), std::string::npos) << parsed.error;
            continue;
        }
        EXPECT_EQ(parsed.target, row.target);
        EXPECT_EQ(parsed.dryRun, row.dryRun);
        EXPECT_EQ(parsed.verbosity, row.verbosity);
    }
}

TEST(Arguments, TrustCertKeepsItsTwoWords)
{
    CommandLine parsed = parseCommandLine({ "--trust-cert", "host:990", "AB:CD" });
    EXPECT_EQ(parsed.kind, CommandKind::TrustCert);
    EXPECT_EQ(parsed.trustArguments, (std::vector<std::string> { "host:990", "AB:CD" }));
}

struct RateRow {
    const char* name;
    std::vector<std::string> arguments;
    std::optional<int64_t> rate; // nullopt: a usage error naming errorPart
    const char* errorPart;
};

const RateRow kRateRows[] = {
    { "megabytes", { "--bwlimit", "4M", "mysite" }, 4 << 20, "" },
    { "kilobytes after the name", { "mysite", "--bwlimit", "500k" }, 500 << 10, "" },
    { "plain bytes, joined", { "--bwlimit=100000", "-all" }, 100000, "" },
    { "zero lifts the sites' caps", { "--bwlimit", "0", "mysite" }, 0, "" },
    { "with dry run and quiet", { "-nq", "--bwlimit", "1G", "mysite" }, int64_t { 1 } << 30, "" },
    { "no rate follows", { "mysite", "--bwlimit" }, std::nullopt, "--bwlimit needs a rate" },
    { "empty joined rate", { "--bwlimit=", "mysite" }, std::nullopt, "\"\" is no rate" },
    { "unknown unit", { "--bwlimit", "4X", "mysite" }, std::nullopt, "\"4X\" is no rate" },
    { "negative", { "--bwlimit", "-1", "mysite" }, std::nullopt, "\"-1\" is no rate" },
    { "too slow to keep a connection", { "--bwlimit", "10", "mysite" }, std::nullopt, "at least 1024" },
    { "the project name is not a rate", { "--bwlimit", "mysite" }, std::nullopt, "\"mysite\" is no rate" },
    { "without a project", { "--bwlimit", "4M" }, std::nullopt, "--bwlimit needs a project name" },
    { "with the scheduler", { "-service", "--bwlimit", "4M" }, std::nullopt, "-service takes no other option" },
    { "with repair", { "--repair", "--bwlimit", "4M", "mysite" }, 4 << 20, "" },
    { "with compare", { "--compare", "--bwlimit", "4M", "mysite" }, std::nullopt, "exclude each other" },
};

TEST(Arguments, RateLimitRowsReadAsExpected)
{
    for (const RateRow& row : kRateRows) {
        SCOPED_TRACE(row.name);
        CommandLine parsed = parseCommandLine(row.arguments);
        if (!row.rate) {
            EXPECT_EQ(parsed.kind, CommandKind::UsageError);
            EXPECT_NE(parsed.error.find(row.errorPart), std::string::npos) << parsed.error;
            continue;
        }
        EXPECT_EQ(parsed.kind, CommandKind::Run) << parsed.error;
        EXPECT_EQ(parsed.uploadRateLimit, row.rate);
    }
}

// Every option the parser knows appears in --help, on a line of its own, and so do the exit codes.
TEST(Arguments, HelpNamesEveryOptionAndTheExitCodes)
{
    const std::string help = usageText();
    for (const char* option : { "-all", "-service", "-n, --dry-run", "-q, --quiet", "-v, --verbose", "--trust-cert",
             "--bwlimit RATE", "-h, --help", "-V, --version" }) {
        SCOPED_TRACE(option);
        EXPECT_NE(help.find("  " + std::string(option)), std::string::npos);
    }
    EXPECT_NE(help.find("0 every file went up, 1 something failed"), std::string::npos);
    EXPECT_NE(help.find("2 the arguments were not understood"), std::string::npos);
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 110u) << line;
}

// Both manual pages document the same options and exit codes as --help.
TEST(Arguments, ManualPagesNameWhatHelpNames)
{
    for (const char* path :
        { TARNWICK_SOURCE_DIR "/resources/man/tarnwick.1", TARNWICK_SOURCE_DIR "/resources/man/de/tarnwick.1" }) {
        SCOPED_TRACE(path);
        std::ifstream file(path);
        const std::string page((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(page.empty());
        for (const char* option : { "\\-all", "\\-service", "\\-\\-dry\\-run", "\\-\\-quiet", "\\-\\-verbose", "\\-vv",
                 "\\-\\-trust\\-cert", "\\-\\-bwlimit", "\\-\\-help", "\\-\\-version" }) {
            SCOPED_TRACE(option);
            EXPECT_NE(page.find(option), std::string::npos);
        }
        for (const char* code : { ".B 0\n", ".B 1\n", ".B 2\n", ".B 127\n" })
            EXPECT_NE(page.find(code), std::string::npos) << code;
    }
}

} // namespace
