// The kernel's notifications as the watch mode reads them, on real folders.

#include "platform/folder_watch.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>

namespace fs = std::filesystem;

namespace {

// Collects until `done` holds or two seconds pass without it.
bool collectUntil(FolderWatch& watch, FolderChanges& changes, const std::function<bool()>& done)
{
    for (int round = 0; round < 40 && !done(); ++round) {
        pollfd ready { watch.descriptor(), POLLIN, 0 };
        if (::poll(&ready, 1, 50) > 0)
            watch.collect(changes);
    }
    return done();
}

TEST(FolderWatch, SeesFoldersAsTheyAppearAndFilesUntilTheyAreClosed)
{
    TempDir root;
    fs::create_directories(root.path() + "/old/inner");
    FolderWatch watch;
    ASSERT_TRUE(watch.start(root.path())) << watch.error();
    EXPECT_EQ(watch.watchedFolders(), 3u);

    FolderChanges changes;
    fs::create_directories(root.path() + "/new/deeper");
    ASSERT_TRUE(collectUntil(watch, changes, [&] { return changes.subtrees.contains(root.path() + "/new"); }));
    // A file in a folder that just appeared is seen too: the folder is watched at once.
    std::ofstream(root.path() + "/new/deeper/page.html") << "x";
    ASSERT_TRUE(collectUntil(watch, changes, [&] { return changes.folders.contains(root.path() + "/new/deeper"); }));

    {
        std::ofstream held(root.path() + "/old/held.html");
        held << "half" << std::flush;
        ASSERT_TRUE(
            collectUntil(watch, changes, [&] { return changes.writing.contains(root.path() + "/old/held.html"); }));
    }
    ASSERT_TRUE(collectUntil(watch, changes, [&] { return changes.writing.empty(); }));
    EXPECT_TRUE(changes.folders.contains(root.path() + "/old"));

    fs::remove_all(root.path() + "/old/inner");
    ASSERT_TRUE(collectUntil(watch, changes, [&] { return changes.subtrees.contains(root.path() + "/old/inner"); }));
    EXPECT_FALSE(changes.overflow);
}

// More events than the kernel keeps: the watch says so instead of losing changes quietly.
TEST(FolderWatch, ReportsAnOverflowedQueue)
{
    TempDir root;
    FolderWatch watch;
    ASSERT_TRUE(watch.start(root.path())) << watch.error();
    std::ifstream limitFile("/proc/sys/fs/inotify/max_queued_events");
    long limit = 16384;
    limitFile >> limit;
    ASSERT_LT(limit, 200000) << "too many files for a test";
    // Each new file is at least a creation and a close.
    for (long index = 0; index <= limit / 2 + 10; ++index)
        std::ofstream(root.path() + "/f" + std::to_string(index));
    FolderChanges changes;
    watch.collect(changes);
    EXPECT_TRUE(changes.overflow);
}

} // namespace
