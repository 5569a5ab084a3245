#include "engine/web_project.h"

#include "engine/run_journal.h"
#include "engine/run_record.h"

#include "platform/file_utils.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

// The digest of no bytes at all, with an inode when one is given.
RecordedFile withDigest(RecordedFile record, uint64_t inode)
{
    record.digest = ContentDigest { 0x99aa06d3014798d8, 0x6001c324468d497f };
    record.inode = inode;
    return record;
}

// The reader of the builds before digests, as released: a list written now must mean the
// same files to it, or going back a version would send the whole site again.
RecordedFile readAsReleasedBefore(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    const bool negative = i < text.size() && text[i] == '-';
    i += negative ? 1 : 0;
    const auto digits = [&](int64_t& value) {
        const size_t start = i;
        for (value = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            value = value * 10 + (text[i] - '0');
        return i > start;
    };
    int64_t seconds = 0;
    (void)digits(seconds);
    RecordedFile record(negative ? -seconds : seconds);
    if (i < text.size() && text[i] == '.') {
        const size_t start = ++i;
        int64_t fraction = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            fraction = i - start < 9 ? fraction * 10 + (text[i] - '0') : fraction;
        if (i == start)
            return record;
        for (size_t scale = i - start; scale < 9; ++scale)
            fraction *= 10;
        record.nanoseconds = static_cast<int32_t>(fraction);
    }
    int64_t size = 0;
    if (i < text.size() && text[i] == ' ' && (++i, digits(size)))
        record.size = size;
    return record;
}

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
        { "digest and inode", "/w/a=5.000000001 7 xxh3:99aa06d3014798d86001c324468d497f inode:42\n",
            { { "/w/a", withDigest({ 5, 1, 7 }, 42) } } },
        { "digest without size", "/w/a=5 xxh3:99AA06D3014798D86001C324468D497F\n", { { "/w/a", withDigest(5, 0) } } },
        { "damaged digest and inode", "/w/a=5.000000001 7 xxh3:99aa06 inode:4x2\n", { { "/w/a", { 5, 1, 7 } } } },
        { "tag of a later build skipped", "/w/a=5.000000001 7 blake9:00 xxh3:99aa06d3014798d86001c324468d497f\n",
            { { "/w/a", withDigest({ 5, 1, 7 }, 0) } } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        readFrom(row.content);
        EXPECT_EQ(project.timeMap, row.expected);
    }
}

TEST_F(FileList, ListsWithDigestsMeanTheSameFilesToOlderBuilds)
{
    struct Row {
        const char* name;
        RecordedFile record;
    };
    const Row rows[] = {
        { "seconds only", 1165500000 },
        { "time and size", { 1165500000, 5, 4096 } },
        { "digest", withDigest({ 1165500000, 5, 4096 }, 0) },
        { "digest and inode", withDigest({ -6, 877000000, 0 }, 18446744073709551ull) },
        { "digest without size", withDigest({ 7, 0, -1 }, 3) },
        { "digest that starts with digits",
            [] {
                RecordedFile record(9, 1, 2);
                record.digest = ContentDigest { 0x1234567890123456, 1 };
                return record;
            }() },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string line;
        appendRecordedFile(line, "/w/a=b.html", row.record);
        ASSERT_TRUE(line.ends_with('\n'));
        line.pop_back();
        const std::string_view value = std::string_view(line).substr(line.rfind('=') + 1);
        EXPECT_EQ(parseRecordedFile(value), row.record);
        EXPECT_EQ(
            readAsReleasedBefore(value), RecordedFile(row.record.seconds, row.record.nanoseconds, row.record.size));
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
    project.items[1].digest = ContentDigest { 1, 0xabc };
    project.items[1].inode = 77;
    project.timeMap = { { "/w/failed-again.html", 7 }, { "/w/not-deleted.html", { 6, 1, 2 } } };
    project.WriteFileList();
    std::optional<std::string> written = readWholeFile(project.filelist);
    ASSERT_TRUE(written);
    EXPECT_EQ(*written,
        "/w/b=c.html=5000000000.000000005 1234\n"
        "/w/a.html=-3.000000000 0 xxh3:00000000000000010000000000000abc inode:77\n/w/failed-again.html=7\n"
        "/w/not-deleted.html=6.000000001 2\n");
    project.ReadFileList();
    EXPECT_EQ(project.timeMap,
        (std::map<std::string, RecordedFile> { { "/w/b=c.html", { 5000000000, 5, 1234 } },
            { "/w/a.html", recordOf(project.items[1]) }, { "/w/failed-again.html", 7 },
            { "/w/not-deleted.html", { 6, 1, 2 } } }));
}

TEST_F(FileList, WriteNeedsTheSettingAndATrustedScan)
{
    FileItem item;
    item.path = "/w/a.html";
    project.items = { item };
    project.scanFailed = true;
    EXPECT_FALSE(project.WriteFileList());
    EXPECT_FALSE(readWholeFile(project.filelist));
    project.scanFailed = false;
    project.filelist.clear();
    EXPECT_FALSE(project.WriteFileList());
    EXPECT_FALSE(readWholeFile(project.projectPath + ".txt"));
}

// A journal left by runs that never finished counts as recorded, but only for what every
// site of its run confirmed, and only in whole lines.
TEST_F(FileList, JournalOfUnfinishedRunsCountsWhatEverySiteConfirmed)
{
    struct Row {
        const char* name;
        std::string journal;
        std::map<std::string, RecordedFile> expected; // over a list holding /w/a=1 and /w/b=2
    };
    const std::string one = "tarnwick journal 1 sites=1\n";
    const std::string two = "tarnwick journal 1 sites=2\n";
    const Row rows[] = {
        { "upload and deletion", one + "u 1 /w/a=5.000000007 9\nd 1 /w/b\nu 1 /w/new=3\n",
            { { "/w/a", { 5, 7, 9 } }, { "/w/new", 3 } } },
        { "line cut short by a crash", one + "u 1 /w/a=5\nu 1 /w/new=3", { { "/w/a", 5 }, { "/w/b", 2 } } },
        { "one site of two", two + "u 1 /w/a=5\nu 2 /w/new=3\nu 1 /w/new=3\nd 2 /w/b\n",
            { { "/w/a", 1 }, { "/w/b", 2 }, { "/w/new", 3 } } },
        { "sites confirmed different records", two + "u 1 /w/a=5\nu 2 /w/a=6\n", { { "/w/a", 1 }, { "/w/b", 2 } } },
        { "later segment wins", one + "u 1 /w/a=5\n" + one + "u 1 /w/a=6\nd 1 /w/new\n",
            { { "/w/a", 6 }, { "/w/b", 2 } } },
        { "equals in path", one + "u 1 /w/c=d=4 1\n", { { "/w/a", 1 }, { "/w/b", 2 }, { "/w/c=d", { 4, -1, 1 } } } },
        { "with digest", one + "u 1 /w/a=4.000000000 1 xxh3:99aa06d3014798d86001c324468d497f inode:9\n",
            { { "/w/a", withDigest({ 4, 0, 1 }, 9) }, { "/w/b", 2 } } },
        { "sites confirmed different digests",
            two
                + "u 1 /w/a=4 xxh3:99aa06d3014798d86001c324468d497f\nu 2 /w/a=4 "
                  "xxh3:99aa06d3014798d86001c324468d497e\n",
            { { "/w/a", 1 }, { "/w/b", 2 } } },
        { "no header, bad header, site out of range",
            "u 1 /w/a=5\ntarnwick journal 1 sites=x\nu 1 /w/a=6\n" + one + "u 2 /w/a=7\nu 0 /w/a=7\nq 1 /w/a\n",
            { { "/w/a", 1 }, { "/w/b", 2 } } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        dir.writeFile("site.ftp.txt.journal", row.journal);
        readFrom("/w/a=1\n/w/b=2\n");
        EXPECT_EQ(project.timeMap, row.expected);
    }
}

// Which uploads a part may be left of, and what the local file was as each began: journals of
// older versions name the path alone, and a path may hold "=" and digits of its own.
TEST_F(FileList, JournalTellsWhatUnfinishedUploadsBeganAs)
{
    using Key = std::pair<int, std::string>;
    struct Row {
        const char* name;
        std::string journal;
        std::set<Key> unfinished;
        std::map<Key, RecordedFile> begunAs;
    };
    const std::string one = "tarnwick journal 1 sites=1\n";
    const std::string two = "tarnwick journal 1 sites=2\n";
    RecordedFile withInode(5, 7, 9000000);
    withInode.inode = 42;
    const Row rows[] = {
        { "older journal: path alone", one + "b 1 /w/big.mp4\n", { { 1, "/w/big.mp4" } }, {} },
        { "with the file as begun", one + "b 1 /w/big.mp4=5.000000007 9000000 inode:42\n", { { 1, "/w/big.mp4" } },
            { { { 1, "/w/big.mp4" }, withInode } } },
        { "equals and digits in an older path", one + "b 1 /w/v=2 3\n", { { 1, "/w/v=2 3" } }, {} },
        { "equals in a path with a record", one + "b 1 /w/a=b.bin=5.000000007 9\n", { { 1, "/w/a=b.bin" } },
            { { { 1, "/w/a=b.bin" }, { 5, 7, 9 } } } },
        { "confirmed since", one + "b 1 /w/big.mp4=5.000000007 9\nu 1 /w/big.mp4=5.000000007 9\n", {}, {} },
        { "confirmed by the other site only", two + "b 1 /w/x=5.000000007 9\nb 2 /w/x=5.000000007 9\nu 2 /w/x=5\n",
            { { 1, "/w/x" } }, { { { 1, "/w/x" }, { 5, 7, 9 } } } },
        { "begun again by a later run", one + "b 1 /w/x=5.000000007 9\n" + one + "b 1 /w/x=6.000000000 10\n",
            { { 1, "/w/x" } }, { { { 1, "/w/x" }, { 6, 0, 10 } } } },
        { "begun again by an older version", one + "b 1 /w/x=5.000000007 9\n" + one + "b 1 /w/x\n", { { 1, "/w/x" } },
            {} },
        { "line cut short", one + "b 1 /w/x=5.000000007 9", {}, {} },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        dir.writeFile("site.ftp.txt.journal", row.journal);
        std::optional<RunJournal::Confirmed> confirmed = RunJournal::read(project.journalPath());
        ASSERT_TRUE(confirmed);
        EXPECT_EQ(confirmed->unfinished, row.unfinished);
        EXPECT_EQ(confirmed->begunAs, row.begunAs);
    }
}

// The journal a finished run leaves for the next one keeps what each unfinished upload
// began as, or that part could never be continued.
TEST_F(FileList, FinishedRunKeepsWhatUnfinishedUploadsBeganAs)
{
    RunRecord record;
    record.load(project.filelist, project.journalPath());
    ASSERT_TRUE(record.beginRun(project.journalPath(), 2));
    const RecordedFile big(5, 7, 9000000);
    record.noteBegun(1, "/w/big.mp4", &big);
    record.noteBegun(2, "/w/old.bin", nullptr);
    record.noteBegun(1, "/w/done.bin", &big);
    record.confirmUpload(1, "/w/done.bin", big);
    record.endRun();
    ASSERT_TRUE(record.commit(project.filelist, project.journalPath(), {}, nullptr));

    RunRecord next;
    next.load(project.filelist, project.journalPath());
    EXPECT_EQ(
        next.unfinishedUploads(), (std::set<std::pair<int, std::string>> { { 1, "/w/big.mp4" }, { 2, "/w/old.bin" } }));
    EXPECT_EQ(next.begunAs(1, "/w/big.mp4"), big);
    EXPECT_EQ(next.begunAs(2, "/w/old.bin"), std::nullopt);
    EXPECT_EQ(next.begunAs(1, "/w/done.bin"), std::nullopt);
}

TEST_F(FileList, WritingTheListRetiresTheJournal)
{
    RunJournal journal;
    ASSERT_TRUE(journal.open(project.journalPath(), 1));
    journal.recordUpload(1, "/w/a.html", { 7, 8, 9 });
    journal.close();
    readFrom("");
    EXPECT_EQ(project.timeMap, (std::map<std::string, RecordedFile> { { "/w/a.html", { 7, 8, 9 } } }));
    FileItem item;
    item.path = "/w/a.html";
    item.mtime = 7;
    item.mtimeNanoseconds = 8;
    item.size = 9;
    project.items = { item };
    ASSERT_TRUE(project.WriteFileList());
    EXPECT_FALSE(readWholeFile(project.journalPath()));

    // A run killed mid-line leaves a tail the next run's segment must not make whole.
    dir.writeFile("site.ftp.txt.journal", "tarnwick journal 1 sites=1\nu 1 /w/b.html=5\nd 1 /w/a.ht");
    ASSERT_TRUE(journal.open(project.journalPath(), 1));
    journal.recordUpload(1, "/w/c.html", { 3 });
    journal.close();
    std::optional<RunJournal::Confirmed> confirmed = RunJournal::read(project.journalPath());
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(confirmed->uploads, (std::map<std::string, RecordedFile> { { "/w/b.html", 5 }, { "/w/c.html", 3 } }));
    EXPECT_TRUE(confirmed->deletions.empty());
    EXPECT_EQ(readWholeFile(project.filelist), "/w/a.html=7.000000008 9\n");
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
