#include "engine/web_project.h"

#include "platform/file_utils.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

class FileList : public ::testing::Test {
protected:
    void SetUp() override
    {
        project.projectPath = dir.file("site.ftp");
        project.filelist = project.projectPath + ".txt";
    }

    void readFrom(std::string_view content)
    {
        dir.writeFile("site.ftp.txt", content);
        project.ReadFileList();
    }

    TempDir dir;
    WebProject project;
};

TEST_F(FileList, ReadsLinesByTheirLastEquals)
{
    struct Row {
        const char* name;
        std::string content;
        std::map<std::string, RecordedFile> expected;
    };
    const Row rows[] = {
        { "plain", "/w/a.html=1165500000\n", { { "/w/a.html", 1165500000 } } },
        { "equals in path", "/w/a=b.html=7\n", { { "/w/a=b.html", 7 } } },
        { "windows line end", "/w/a.html=5\r\n/w/b.html=6\r\n", { { "/w/a.html", 5 }, { "/w/b.html", 6 } } },
        { "no final line feed", "/w/a.html=5", { { "/w/a.html", 5 } } },
        { "first line wins", "/w/a=1\n/w/a=2\n", { { "/w/a", 1 } } },
        { "negative and 64-bit", "/w/old=-86400\n/w/far=5000000000\n",
            { { "/w/old", -86400 }, { "/w/far", 5000000000 } } },
        { "digits then junk", "/w/a= 12abc\n", { { "/w/a", 12 } } },
        { "no digits", "/w/a=\n/w/b=x\n", { { "/w/a", 0 }, { "/w/b", 0 } } },
        { "garbage without equals", "garbage\n\n\n/w/a=3\n", { { "/w/a", 3 } } },
        { "overflowing time dropped", "/w/a=99999999999999999999999\n/w/b=1\n", { { "/w/b", 1 } } },
        { "NUL bytes", std::string("/w/a\0b=4\n/w/c=5\n", 16), { { std::string("/w/a\0b", 6), 4 }, { "/w/c", 5 } } },
        { "10 MB line", std::string(10 << 20, 'x') + "\n/w/c=5\n" + std::string(10 << 20, '=') + "\n",
            { { "/w/c", 5 }, { std::string((10 << 20) - 1, '='), 0 } } },
        { "fraction and size", "/w/a=1165500000.123456789 4096\n", { { "/w/a", { 1165500000, 123456789, 4096 } } } },
        { "short fraction, no size", "/w/a=5.5\n", { { "/w/a", { 5, 500000000 } } } },
        { "long fraction cut", "/w/a=5.1234567891\n", { { "/w/a", { 5, 123456789 } } } },
        { "before 1970", "/w/a=-6.877000000 0\n", { { "/w/a", { -6, 877000000, 0 } } } },
        { "dot without digits", "/w/a=5. 7\n", { { "/w/a", 5 } } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        readFrom(row.content);
        EXPECT_EQ(project.timeMap, row.expected);
    }
}

TEST_F(FileList, MissingListGivesEmptyMap)
{
    project.timeMap["stale"] = 1;
    project.ReadFileList();
    EXPECT_TRUE(project.timeMap.empty());
}

TEST_F(FileList, WriteRecordsOnlySettledItemsAndReadsBack)
{
    auto item = [](std::string path, int64_t mtime, bool changed, bool failed, bool deleted) {
        FileItem result;
        result.path = std::move(path);
        result.mtime = mtime;
        result.changed = changed;
        result.failed = failed;
        result.deleted = deleted;
        return result;
    };
    project.items = {
        item("/w/b=c.html", 5000000000, false, false, false),
        item("/w/a.html", -3, false, false, false),
        item("/w/changed.html", 1, true, false, false),
        item("/w/failed.html", 1, true, true, false),
        item("/w/deleted.html", 0, true, false, true),
        item("/w/line\nbreak=1", 9, false, false, false),
        // Failures keep what an earlier run recorded: their server copy is still that one.
        item("/w/failed-again.html", 8, true, true, false),
        item("/w/not-deleted.html", 0, true, true, true),
    };
    project.items[0].mtimeNanoseconds = 5;
    project.items[0].size = 1234;
    project.timeMap = { { "/w/failed-again.html", 7 }, { "/w/not-deleted.html", { 6, 1, 2 } } };
    project.WriteFileList();
    std::optional<std::string> written = readWholeFile(project.filelist);
    ASSERT_TRUE(written);
    EXPECT_EQ(*written,
        "/w/b=c.html=5000000000.000000005 1234\n/w/a.html=-3.000000000 0\n/w/failed-again.html=7\n"
        "/w/not-deleted.html=6.000000001 2\n");
    project.ReadFileList();
    EXPECT_EQ(project.timeMap,
        (std::map<std::string, RecordedFile> { { "/w/b=c.html", { 5000000000, 5, 1234 } },
            { "/w/a.html", { -3, 0, 0 } }, { "/w/failed-again.html", 7 }, { "/w/not-deleted.html", { 6, 1, 2 } } }));
}

TEST_F(FileList, WriteDoesNothingWithoutSettingOrAfterCancel)
{
    FileItem item;
    item.path = "/w/a.html";
    project.items = { item };
    project.cancelRequested = true;
    project.WriteFileList();
    EXPECT_FALSE(readWholeFile(project.filelist));
    project.cancelRequested = false;
    project.filelist.clear();
    project.WriteFileList();
    EXPECT_FALSE(readWholeFile(project.projectPath + ".txt"));
}

TEST_F(FileList, LargeListRoundTrips)
{
    for (int i = 0; i < 20000; ++i) {
        FileItem item;
        item.path = "/w/folder" + std::to_string(i % 100) + "/file" + std::to_string(i) + ".html";
        item.mtime = 1165500000 + i;
        project.items.push_back(item);
    }
    project.WriteFileList();
    project.ReadFileList();
    ASSERT_EQ(project.timeMap.size(), 20000u);
    for (const FileItem& item : project.items)
        ASSERT_EQ(project.timeMap.at(item.path), RecordedFile(item.mtime, 0, 0));
}

} // namespace
