// Counting completed uploads from the client's notifications alone.

#include "shell/run_progress.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Clock = RunProgress::Clock;

TEST(RunProgress, CountsCompletionsFromTheNotifications)
{
    struct Row {
        const char* name;
        std::function<void(RunProgress&)> events;
        int filesDone;
        int64_t bytesDone;
    };
    const Row rows[] = {
        { "begun, no bytes yet",
            [](RunProgress& p) {
                p.uploadBegins("a");
                p.fileSize(10);
            },
            0, 0 },
        { "all bytes of one file",
            [](RunProgress& p) {
                p.uploadBegins("a");
                p.fileSize(10);
                p.bytes(4);
                p.bytes(6);
            },
            1, 10 },
        { "an empty file is done at once",
            [](RunProgress& p) {
                p.uploadBegins("a");
                p.fileSize(0);
            },
            1, 0 },
        { "two connections interleave",
            [](RunProgress& p) {
                p.uploadBegins("a");
                p.fileSize(10);
                p.uploadBegins("b");
                p.fileSize(5);
                p.bytes(5);
                p.bytes(10);
            },
            2, 15 },
        { "a failed transfer counts and keeps its bytes",
            [](RunProgress& p) {
                p.uploadBegins("a");
                p.fileSize(100);
                p.bytes(30);
                p.transferFailed();
                p.uploadBegins("b");
                p.fileSize(10);
                p.bytes(10);
            },
            2, 40 },
        { "a failure before any begin changes nothing", [](RunProgress& p) { p.transferFailed(); }, 0, 0 },
        { "never more than the total",
            [](RunProgress& p) {
                for (int i = 0; i < 5; ++i) {
                    p.uploadBegins("x");
                    p.fileSize(1);
                    p.bytes(1);
                }
            },
            3, 5 },
        { "finish completes the count", [](RunProgress& p) { p.finish(); }, 3, 0 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RunProgress progress;
        const Clock::time_point start {};
        progress.begin(3, 100, start);
        row.events(progress);
        RunProgress::Snapshot snapshot = progress.snapshot(start);
        EXPECT_EQ(snapshot.filesDone, row.filesDone);
        EXPECT_EQ(snapshot.bytesDone, row.bytesDone);
        EXPECT_EQ(snapshot.filesTotal, 3);
    }
}

TEST(RunProgress, DescribesRateAndTimeLeftOnceMeasurable)
{
    RunProgress progress;
    const Clock::time_point start {};
    progress.begin(40, 9'100'000, start);
    EXPECT_EQ(RunProgress::describe(progress.snapshot(start)), "0/40 files, 0.0 kB of 9.1 MB");
    progress.uploadBegins("/www/current.html");
    progress.fileSize(3'400'000);
    progress.bytes(3'400'000);
    EXPECT_EQ(RunProgress::describe(progress.snapshot(start + std::chrono::seconds(2))),
        "1/40 files, 3.4 MB of 9.1 MB, 1.7 MB/s, 0:03 left, /www/current.html");
    // Before a run, and after it, notifications are not counted.
    RunProgress idle;
    idle.uploadBegins("a");
    idle.bytes(5);
    EXPECT_EQ(idle.snapshot(start).bytesDone, 0);
    EXPECT_FALSE(idle.active());
}

} // namespace
