#include "shell/run_summary.h"

#include <gtest/gtest.h>

namespace {

RunOutcome outcome(std::string name, RunTally tally, std::vector<std::pair<std::string, RunTally>> sites = {})
{
    RunOutcome result;
    result.projectName = std::move(name);
    result.tally = tally;
    result.sites = std::move(sites);
    return result;
}

TEST(RunSummary, OneLinePerSiteAndProjectThenTheTotal)
{
    const RunTally done { 3, 1, 0, 2.44, false };
    const RunTally failedOne { 0, 0, 1, 0.5, false };
    const RunTally stopped { 300, 0, 400, 5.1, true };
    struct Row {
        const char* name;
        std::vector<RunOutcome> outcomes;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        { "nothing ran", {}, { "0 uploaded, 0 deleted, 0 failed in 0.0 s" } },
        { "one project, one site", { outcome("a.ftp", done) }, { "3 uploaded, 1 deleted, 0 failed in 2.4 s" } },
        { "stopped", { outcome("a.ftp", stopped) },
            { "stopped: 300 uploaded, 0 deleted, 400 left for the next run in 5.1 s" } },
        { "one project, two sites", { outcome("a.ftp", failedOne, { { "main", done }, { "mirror", failedOne } }) },
            { "site \"main\": 3 uploaded, 1 deleted, 0 failed in 2.4 s",
                "site \"mirror\": 0 uploaded, 0 deleted, 1 failed in 0.5 s",
                "total: 0 uploaded, 0 deleted, 1 failed in 0.5 s" } },
        { "two projects, one with two sites",
            { outcome("a.ftp", done), outcome("b.ftp", failedOne, { { "x", failedOne }, { "y", failedOne } }) },
            { "a.ftp: 3 uploaded, 1 deleted, 0 failed in 2.4 s",
                "b.ftp, site \"x\": 0 uploaded, 0 deleted, 1 failed in 0.5 s",
                "b.ftp, site \"y\": 0 uploaded, 0 deleted, 1 failed in 0.5 s",
                "b.ftp: 0 uploaded, 0 deleted, 1 failed in 0.5 s",
                "total: 3 uploaded, 1 deleted, 1 failed in 2.9 s" } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(summaryLines(row.outcomes), row.expected);
    }
}

} // namespace
