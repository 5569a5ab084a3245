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
    bool quiet;
    const char* errorPart; // for UsageError
};

const Row kRows[] = {
    { "nothing", {}, CommandKind::Desktop, "", false, false, "" },
    { "project", { "mysite" }, CommandKind::Run, "mysite", false, false, "" },
    { "name with blanks is joined", { "my", "site" }, CommandKind::Run, "my site", false, false, "" },
    { "all", { "-all" }, CommandKind::Run, "-all", false, false, "" },
    { "service", { "-service" }, CommandKind::Service, "", false, false, "" },
    { "dry run short", { "-n", "mysite" }, CommandKind::Run, "mysite", true, false, "" },
    { "dry run long", { "--dry-run", "-all" }, CommandKind::Run, "-all", true, false, "" },
    { "quiet short", { "-q", "-all" }, CommandKind::Run, "-all", false, true, "" },
    { "quiet long after name", { "mysite", "--quiet" }, CommandKind::Run, "mysite", false, true, "" },
    { "bundled flags", { "-nq", "mysite" }, CommandKind::Run, "mysite", true, true, "" },
    { "both long", { "--quiet", "--dry-run", "mysite" }, CommandKind::Run, "mysite", true, true, "" },
    { "double dash names a dashed project", { "--", "-odd" }, CommandKind::Run, "-odd", false, false, "" },
    { "help", { "--help" }, CommandKind::Help, "", false, false, "" },
    { "help short wins over the rest", { "mysite", "-h", "--bogus" }, CommandKind::Help, "", false, false, "" },
    { "version", { "--version" }, CommandKind::Version, "", false, false, "" },
    { "version short", { "-V" }, CommandKind::Version, "", false, false, "" },
    { "unknown long", { "--force", "mysite" }, CommandKind::UsageError, "", false, false,
        "unknown option \"--force\"" },
    { "unknown short", { "-x" }, CommandKind::UsageError, "", false, false, "unknown option \"-x\"" },
    { "unknown letter in bundle", { "-nx", "a" }, CommandKind::UsageError, "", false, false, "\"-nx\"" },
    { "legacy marker in upper case", { "-ALL" }, CommandKind::UsageError, "", false, false, "unknown option" },
    { "dry run alone", { "-n" }, CommandKind::UsageError, "", false, false, "--dry-run needs a project" },
    { "quiet alone", { "-q" }, CommandKind::UsageError, "", false, false, "--quiet needs a project" },
    { "two targets", { "mysite", "-all" }, CommandKind::UsageError, "", false, false, "one project" },
    { "service with dry run", { "-service", "-n" }, CommandKind::UsageError, "", false, false, "-service takes" },
    { "trust cert short of a word", { "--trust-cert", "h:21" }, CommandKind::UsageError, "", false, false,
        "--trust-cert needs" },
    { "trust cert after a name", { "x", "--trust-cert", "h:21", "ab" }, CommandKind::UsageError, "", false, false,
        "--trust-cert needs" },
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
        EXPECT_EQ(parsed.quiet, row.quiet);
    }
}

TEST(Arguments, TrustCertKeepsItsTwoWords)
{
    CommandLine parsed = parseCommandLine({ "--trust-cert", "host:990", "AB:CD" });
    EXPECT_EQ(parsed.kind, CommandKind::TrustCert);
    EXPECT_EQ(parsed.trustArguments, (std::vector<std::string> { "host:990", "AB:CD" }));
}

// Every option the parser knows appears in --help, on a line of its own, and so do the exit codes.
TEST(Arguments, HelpNamesEveryOptionAndTheExitCodes)
{
    const std::string help = usageText();
    for (const char* option :
        { "-all", "-service", "-n, --dry-run", "-q, --quiet", "--trust-cert", "-h, --help", "-V, --version" }) {
        SCOPED_TRACE(option);
        EXPECT_NE(help.find("  " + std::string(option)), std::string::npos);
    }
    EXPECT_NE(help.find("0 every file went up, 1 something failed"), std::string::npos);
    EXPECT_NE(help.find("2 the arguments were not understood"), std::string::npos);
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 110u) << line;
}

// The manual page documents the same options and exit codes as --help.
TEST(Arguments, ManualPageNamesWhatHelpNames)
{
    std::ifstream file(TARNWICK_SOURCE_DIR "/resources/man/tarnwick.1");
    const std::string page((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(page.empty());
    for (const char* option : { "\\-all", "\\-service", "\\-\\-dry\\-run", "\\-\\-quiet", "\\-\\-trust\\-cert",
             "\\-\\-help", "\\-\\-version" }) {
        SCOPED_TRACE(option);
        EXPECT_NE(page.find(option), std::string::npos);
    }
    for (const char* code : { ".B 0\n", ".B 1\n", ".B 2\n" })
        EXPECT_NE(page.find(code), std::string::npos) << code;
}

} // namespace
