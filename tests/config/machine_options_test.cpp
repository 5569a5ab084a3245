#include "config/machine_options.h"
#include "platform/file_utils.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

TEST(MachineOptions, PathFollowsXdgConfigHome)
{
    TempDir dir;
    const char* previousXdg = std::getenv("XDG_CONFIG_HOME");
    std::string savedXdg = previousXdg ? previousXdg : "";
    const char* previousHome = std::getenv("HOME");
    std::string savedHome = previousHome ? previousHome : "";

    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    EXPECT_EQ(optionsFilePath(), dir.path() + "/Morvane/Tarnwick.conf");
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    ::setenv("HOME", "/home/someone/", 1);
    EXPECT_EQ(optionsFilePath(), "/home/someone/.config/Morvane/Tarnwick.conf");
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    EXPECT_EQ(optionsFilePath(), "");

    if (previousXdg)
        ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    if (previousHome)
        ::setenv("HOME", savedHome.c_str(), 1);
}

TEST(MachineOptions, SaveAndLoadRoundTrip)
{
    TempDir dir;
    std::string path = dir.file("Morvane/Tarnwick.conf");
    MachineOptions saved;
    saved.frontPage = false;
    saved.checkFileSize = true;
    saved.disconnect = true;
    saved.dialUpEntry = " Office " + std::string(247, 'x');
    ASSERT_EQ(saved.dialUpEntry.size(), 255u);
    ASSERT_TRUE(saveOptions(saved, path)) << "the Morvane folder is made on demand";
    struct stat info { };
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    MachineOptions loaded;
    loadOptions(loaded, path);
    EXPECT_EQ(loaded, saved);

    MachineOptions all { true, true, true, "" };
    ASSERT_TRUE(saveOptions(all, path));
    EXPECT_EQ(readWholeFile(path), "[Tarnwick]\nFrontpage=1\nCheckFileSize=1\nDisconnect=1\nRas=\nPassive=1\n");
}

TEST(MachineOptions, SaveStoresAtMost255BytesOfOneLine)
{
    TempDir dir;
    std::string path = dir.file("o.conf");
    MachineOptions options;
    options.dialUpEntry = std::string(254, 'a') + "é"; // the two-byte character would be cut in half
    ASSERT_TRUE(saveOptions(options, path));
    MachineOptions loaded;
    loadOptions(loaded, path);
    EXPECT_EQ(loaded.dialUpEntry, std::string(254, 'a'));

    options.dialUpEntry = "dsl\nFrontpage=0";
    ASSERT_TRUE(saveOptions(options, path));
    loadOptions(loaded, path);
    EXPECT_EQ(loaded.dialUpEntry, "dsl");
    EXPECT_TRUE(loaded.frontPage);
}

struct LoadRow {
    const char* name;
    const char* content;
    MachineOptions expected;
};

TEST(MachineOptions, LoadKeepsWhatTheFileDoesNotSay)
{
    const MachineOptions start { false, false, true, "current" };
    const LoadRow rows[] = {
        { "only Ras changes only the entry", "[Tarnwick]\nRas=dsl\n", { false, false, true, "dsl" } },
        { "values outside the section are ignored", "Frontpage=1\n[Other]\nRas=x\n[Tarnwick]\n",
            { false, false, true, "current" } },
        { "CR LF, blanks and letter case", "[tarnwick]\r\n  frontpage = 1\r\nDISCONNECT=0\r\n",
            { true, false, false, "current" } },
        { "the low byte is the flag", "[Tarnwick]\nFrontpage=256\nCheckFileSize=257\n",
            { false, true, true, "current" } },
        { "a value that is no number is missing", "[Tarnwick]\nFrontpage=yes\nCheckFileSize=\nDisconnect=-1\n", start },
        { "passive mode can be turned off", "[Tarnwick]\nPassive=0\n", { false, false, true, "current", false } },
        { "an empty Ras is a value", "[Tarnwick]\nRas=\n", { false, false, true, "" } },
        { "a Ras over 255 bytes is not taken",
            "[Tarnwick]\nRas="
            "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
            "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
            "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n",
            start },
        { "comments and junk", "; note\n# note\n[Tarnwick]\njunk\n=1\n", start },
    };
    TempDir dir;
    for (const LoadRow& row : rows) {
        SCOPED_TRACE(row.name);
        MachineOptions options = start;
        loadOptions(options, dir.writeFile("o.conf", row.content));
        EXPECT_EQ(options, row.expected);
    }
}

TEST(MachineOptions, UnusableFilesChangeNothing)
{
    TempDir dir;
    const MachineOptions start { false, true, true, "x" };
    MachineOptions options = start;
    loadOptions(options, dir.file("missing.conf"));
    loadOptions(options, dir.makeDirectory("folder.conf"));
    loadOptions(options, "");
    EXPECT_EQ(options, start);
    EXPECT_FALSE(saveOptions(options, dir.file("folder.conf")));
    EXPECT_FALSE(saveOptions(options, ""));
    EXPECT_FALSE(saveOptions(options, dir.writeFile("plain", "") + "/below/o.conf"));
}

} // namespace
