#include "platform/file_utils.h"
#include "support/temp_dir.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Sets an environment variable for one test and puts the old value back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        had_ = std::getenv(name) != nullptr;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (had_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

bool isDirectory(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

unsigned modeOf(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(FileUtils, DataDirectoryFollowsXdgThenHome)
{
    TempDir dir;
    {
        ScopedEnv xdg("XDG_DATA_HOME", dir.file("deep/data").c_str());
        EXPECT_EQ(getDataDirectory(), dir.file("deep/data/Tarnwick/"));
        EXPECT_TRUE(isDirectory(dir.file("deep/data/Tarnwick")));
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", "relative");
        ScopedEnv home("HOME", (dir.path() + "/home/").c_str());
        EXPECT_EQ(getDataDirectory(), dir.file("home/.local/share/Tarnwick/"));
        EXPECT_TRUE(isDirectory(dir.file("home/.local/share/Tarnwick")));
    }
}

TEST(FileUtils, PathParts)
{
    struct Row {
        const char* path;
        const char* name;
        const char* folder;
    };
    const Row rows[] = {
        { "/home/u/site/index.html", "index.html", "/home/u/site" },
        { "index.html", "index.html", "" },
        { "/top", "top", "" },
        { "/home/u/", "", "/home/u" },
        { "", "", "" },
        { "a\\b/c\\d", "c\\d", "a\\b" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(fileNamePart(row.path), row.name);
        EXPECT_EQ(directoryPart(row.path), row.folder);
    }
}

TEST(FileUtils, SizesAreSixtyFourBit)
{
    TempDir dir;
    EXPECT_EQ(fileSize(dir.writeFile("five", "12345")), 5);
    EXPECT_EQ(fileSize(dir.file("missing")), -1);
    std::string sparse = dir.writeFile("sparse", "");
    ASSERT_EQ(::truncate(sparse.c_str(), 5'000'000'000LL), 0);
    EXPECT_EQ(fileSize(sparse), 5'000'000'000LL);
}

TEST(FileUtils, LocalTimeBeyond2038)
{
    ScopedEnv zone("TZ", "UTC");
    ::tzset();
    struct tm epoch = localTimeOf(0);
    EXPECT_EQ(epoch.tm_year, 70);
    struct tm later = localTimeOf(4'102'444'800LL); // 2100-01-01 00:00:00 UTC
    EXPECT_EQ(later.tm_year, 200);
    EXPECT_EQ(later.tm_mon, 0);
    EXPECT_EQ(later.tm_mday, 1);
    EXPECT_EQ(later.tm_hour, 0);
}

TEST(FileUtils, AtomicWrite)
{
    TempDir dir;
    std::string path = dir.file("new.txt");
    ASSERT_TRUE(writeFileAtomically(path, "first", 0600));
    EXPECT_EQ(readWholeFile(path), "first");
    EXPECT_EQ(modeOf(path), 0600u);

    std::string shared = dir.writeFile("shared.txt", "old");
    ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
    ASSERT_TRUE(writeFileAtomically(shared, std::string(200000, 'z'), 0600));
    EXPECT_EQ(modeOf(shared), 0640u) << "a replaced file keeps its mode";
    EXPECT_EQ(fileSize(shared), 200000);

    ASSERT_TRUE(writeFileAtomically(path, ""));
    EXPECT_EQ(readWholeFile(path), "");

    std::string folder = dir.makeDirectory("folder");
    dir.writeFile("folder/inside", "kept");
    EXPECT_FALSE(writeFileAtomically(folder, "x"));
    EXPECT_EQ(readWholeFile(dir.file("folder/inside")), "kept");
    EXPECT_FALSE(writeFileAtomically(dir.file("absent/x.txt"), "x"));

    // Nothing but the three targets is left: no temporary files.
    for (const char* name : { "new.txt", "shared.txt", "folder/inside" })
        ASSERT_EQ(::unlink(dir.file(name).c_str()), 0) << name;
    ASSERT_EQ(::rmdir(folder.c_str()), 0);
    EXPECT_EQ(::rmdir(dir.path().c_str()), 0);
}

TEST(FileUtils, ReadWholeFileOnlyReadsRegularFiles)
{
    TempDir dir;
    std::string bytes("a\0b\r\n", 5);
    EXPECT_EQ(readWholeFile(dir.writeFile("bytes", bytes)), bytes);
    EXPECT_EQ(readWholeFile(dir.file("missing")), std::nullopt);
    EXPECT_EQ(readWholeFile(dir.makeDirectory("folder")), std::nullopt);
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(readWholeFile(fifo), std::nullopt) << "must not wait for a writer";
}

} // namespace

namespace {

TEST(FileUtils, ErrorTextIsTheSystemsText)
{
    EXPECT_EQ(errorText(ECONNRESET), "Connection reset by peer");
    EXPECT_EQ(errorText(ETIMEDOUT), "Connection timed out");
    EXPECT_EQ(errorText(99999), "Unknown error 99999");
}

} // namespace
