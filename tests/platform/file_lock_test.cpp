#include "platform/file_lock.h"
#include "support/temp_dir.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Outcome = FileLock::Outcome;
using Wait = FileLock::Wait;

TEST(FileLock, OneHolderAtATime)
{
    TempDir dir;
    const std::string path = dir.file("site.ftp.lock");
    FileLock first;
    FileLock second;
    EXPECT_EQ(first.lock(path, Wait::DontWait), Outcome::Locked);
    EXPECT_TRUE(first.isLocked());
    EXPECT_EQ(second.lock(path, Wait::DontWait), Outcome::HeldElsewhere);
    EXPECT_FALSE(second.isLocked());
    EXPECT_EQ(dir.writeFile("other.lock", ""), dir.file("other.lock"));
    EXPECT_EQ(second.lock(dir.file("other.lock"), Wait::DontWait), Outcome::Locked) << "other files are free";

    // Moving hands the lock on; the moved-from object holds nothing.
    FileLock moved = std::move(first);
    EXPECT_TRUE(moved.isLocked());
    FileLock third;
    EXPECT_EQ(third.lock(path, Wait::DontWait), Outcome::HeldElsewhere);
    moved.unlock();
    EXPECT_EQ(third.lock(path, Wait::DontWait), Outcome::Locked);

    FileLock missing;
    EXPECT_EQ(missing.lock(dir.file("no/such/folder.lock"), Wait::DontWait), Outcome::Failed);
    EXPECT_EQ(missing.error(), ENOENT);
}

TEST(FileLock, WaitingHolderGetsItWhenReleased)
{
    TempDir dir;
    const std::string path = dir.file("store.lock");
    FileLock holder;
    ASSERT_EQ(holder.lock(path, Wait::DontWait), Outcome::Locked);
    std::thread waiter([&] {
        FileLock lock;
        EXPECT_EQ(lock.lock(path, Wait::UntilFree), Outcome::Locked);
    });
    holder.unlock();
    waiter.join();
}

TEST(FileLock, KernelReleasesTheLockOfAKilledProcess)
{
    TempDir dir;
    const std::string path = dir.file("site.ftp.lock");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileLock lock;
        char answer = lock.lock(path, Wait::DontWait) == Outcome::Locked ? 'L' : 'F';
        (void)!::write(ready[1], &answer, 1);
        ::pause(); // until killed
        ::_exit(0);
    }
    ::close(ready[1]);
    char answer = 0;
    pollfd waiting { ready[0], POLLIN, 0 };
    ASSERT_EQ(::poll(&waiting, 1, 10000), 1);
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(answer, 'L');

    FileLock mine;
    EXPECT_EQ(mine.lock(path, Wait::DontWait), Outcome::HeldElsewhere);
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(mine.lock(path, Wait::DontWait), Outcome::Locked) << "no lock survives its process";
}

} // namespace
