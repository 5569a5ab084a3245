// How notifications become runs: quiet for the settle time, or the cap under a steady
// stream; an overflow makes the run a full scan.

#include "shell/change_settler.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = ChangeSettler::Clock;

FolderChanges inFolder(const std::string& folder)
{
    FolderChanges changes;
    changes.folders.insert(folder);
    return changes;
}

TEST(ChangeSettler, RunsOnceQuietOrAtTheCap)
{
    struct Row {
        const char* name;
        std::vector<int> eventsAt; // milliseconds
        int dueAt; // the first moment (in steps of 100 ms) a run is due; -1: none within 15 s
    };
    const Row rows[] = {
        { "one save", { 0 }, 1000 },
        { "a burst", { 0, 200, 400, 600, 800 }, 1800 },
        { "a steady stream",
            { 0, 500, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 4500, 5000, 5500, 6000, 6500, 7000, 7500, 8000, 8500,
                9000, 9500, 10000, 10500 },
            10000 },
        { "nothing", {}, -1 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ChangeSettler settler(1000ms, 10000ms);
        const Clock::time_point start {};
        int due = -1;
        size_t next = 0;
        for (int at = 0; at <= 15000 && due < 0; at += 100) {
            const Clock::time_point now = start + std::chrono::milliseconds(at);
            while (next < row.eventsAt.size() && row.eventsAt[next] <= at)
                settler.add(inFolder("/site/f" + std::to_string(next++)), now);
            if (std::optional<ChangeSettler::Due> run = settler.take(now)) {
                due = at;
                ASSERT_TRUE(run->scope.has_value());
                EXPECT_EQ(run->scope->folders.size(), next);
            }
        }
        EXPECT_EQ(due, row.dueAt);
    }
}

TEST(ChangeSettler, AnOverflowMakesTheRunAFullScanAndBusyFilesStayBusy)
{
    ChangeSettler settler(1000ms, 10000ms);
    const Clock::time_point start {};
    FolderChanges changes = inFolder("/site");
    changes.writing.insert("/site/held.html");
    settler.add(changes, start);
    std::optional<ChangeSettler::Due> run = settler.take(start + 1s);
    ASSERT_TRUE(run && run->scope);
    EXPECT_EQ(run->scope->busy, std::set<std::string> { "/site/held.html" });

    FolderChanges overflow;
    overflow.overflow = true;
    settler.add(overflow, start + 2s);
    run = settler.take(start + 3s);
    ASSERT_TRUE(run.has_value());
    EXPECT_FALSE(run->scope.has_value());
    EXPECT_FALSE(settler.take(start + 5s).has_value());
}

} // namespace
