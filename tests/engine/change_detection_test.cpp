#include "engine/web_project.h"

#include "platform/archive_mark_store.h"
#include "platform/file_attributes.h"
#include "platform/file_utils.h"
#include "support/test_tree.h"

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// 7 December 2006, 15:30 in the local time zone, whatever zone the machine uses.
int64_t archiveClock()
{
    struct tm local { };
    local.tm_year = 106;
    local.tm_mon = 11;
    local.tm_mday = 7;
    local.tm_hour = 15;
    local.tm_min = 30;
    local.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&local));
}

struct RecordingSink : FtpEventSink {
    std::vector<std::string> statuses;
    std::vector<std::string> lines;
    void onLine(const std::string& text) override { lines.push_back(text); }
    std::function<void()> onStatus;
    void onStatusMessage(const std::string& text) override
    {
        statuses.push_back(text);
        if (onStatus)
            onStatus();
    }
};

// Archive marks under the test's control: paths in `changed` have the attribute set.
struct FakeAttributes : FileAttributes {
    std::set<std::string> changed;
    std::set<std::string> hidden;
    bool isArchiveSet(const std::string& path) override { return changed.count(path) != 0; }
    bool clearArchive(const std::string& path) override { return changed.erase(path) != 0; }
    bool isHidden(const std::string& path) override { return hidden.count(path) != 0; }
};

class ChangeDetection : public ::testing::Test {
protected:
    void SetUp() override
    {
        project.local = tree.root();
        project.projectPath = tree.base() + "/site.ftp";
        project.filelist = project.projectPath + ".txt";
        project.temp = tree.base();
        project.strategy = 2;
        project.machineOptions = &options;
        project.eventSink = &sink;
        project.clock = archiveClock;
        options.frontPage = false;
    }

    // One detection as a run does it: fresh items and queue, the file list read first.
    void detect()
    {
        project.ClearItems();
        project.pendingCommands.clear();
        project.ReadFileList();
        project.DetectChanges();
    }

    std::string queued() const
    {
        std::string text;
        for (const PendingCommand& command : project.pendingCommands)
            text += command.command + "\n";
        return text;
    }

    std::vector<std::string> changedPaths() const
    {
        std::vector<std::string> paths;
        for (const FileItem& item : project.items)
            if (item.changed)
                paths.push_back(item.path);
        return paths;
    }

    // The file list as older versions wrote it: seconds only.
    void writeSecondsOnlyList()
    {
        std::string content;
        for (const FileItem& item : project.items)
            content += item.path + "=" + std::to_string(item.mtime) + "\n";
        ASSERT_TRUE(writeFileAtomically(project.filelist, content));
    }

    // Records the current items as uploaded, as a successful run would.
    void settle()
    {
        for (FileItem& item : project.items)
            item.changed = false;
        project.WriteFileList();
    }

    TestTree tree;
    MachineOptions options;
    RecordingSink sink;
    WebProject project;
};

TEST_F(ChangeDetection, QueuedLinesForSmallTree)
{
    tree.add("a.html");
    tree.add("sub/b.html");
    tree.add("sub/README");
    tree.add("sub/deep/c.gif");
    const std::string r = tree.root();

    struct Case {
        const char* name;
        const char* archivdir;
        const char* remote;
        const char* startdir;
        std::string expected;
    };
    const Case cases[] = {
        { "plain", "", "", "",
            "put \"" + r
                + "/a.html\" \"/a.html\"\n"
                  "mkdir \"/sub\"\n"
                  "put \""
                + r
                + "/sub/README\" \"/sub/README\"\n"
                  "put \""
                + r
                + "/sub/b.html\" \"/sub/b.html\"\n"
                  "mkdir \"/sub/deep\"\n"
                  "put \""
                + r + "/sub/deep/c.gif\" \"/sub/deep/c.gif\"\n" },
        { "archive", "/_archiv_", "", "",
            "mv \"/a.html\" \"/_archiv_/a071206153000.html\"\n"
            "put \""
                + r
                + "/a.html\" \"/a.html\"\n"
                  "mkdir \"/sub\"\n"
                  "mv \"/sub/README\" \"/_archiv_/_sub_README071206153000\"\n"
                  "put \""
                + r
                + "/sub/README\" \"/sub/README\"\n"
                  "mv \"/sub/b.html\" \"/_archiv_/_sub_b071206153000.html\"\n"
                  "put \""
                + r
                + "/sub/b.html\" \"/sub/b.html\"\n"
                  "mkdir \"/sub/deep\"\n"
                  "mv \"/sub/deep/c.gif\" \"/_archiv_/_sub_deep_c071206153000.gif\"\n"
                  "put \""
                + r + "/sub/deep/c.gif\" \"/sub/deep/c.gif\"\n" },
        // The start directory only reaches the archive moves here; the run rewrites the rest.
        { "remote and start directory", "/_archiv_", "/htdocs", "www",
            "mkdir \"/htdocs\"\n"
            "mv \"/www/htdocs/a.html\" \"/_archiv_/_htdocs_a071206153000.html\"\n"
            "put \""
                + r
                + "/a.html\" \"/htdocs/a.html\"\n"
                  "mkdir \"/htdocs/sub\"\n"
                  "mv \"/www/htdocs/sub/README\" \"/_archiv_/_htdocs_sub_README071206153000\"\n"
                  "put \""
                + r
                + "/sub/README\" \"/htdocs/sub/README\"\n"
                  "mv \"/www/htdocs/sub/b.html\" \"/_archiv_/_htdocs_sub_b071206153000.html\"\n"
                  "put \""
                + r
                + "/sub/b.html\" \"/htdocs/sub/b.html\"\n"
                  "mkdir \"/htdocs/sub/deep\"\n"
                  "mv \"/www/htdocs/sub/deep/c.gif\" \"/_archiv_/_htdocs_sub_deep_c071206153000.gif\"\n"
                  "put \""
                + r + "/sub/deep/c.gif\" \"/htdocs/sub/deep/c.gif\"\n" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        project.archivdir = c.archivdir;
        project.remote = c.remote;
        project.sites.assign(1, FtpSite {});
        project.sites[0].startdir = c.startdir;
        detect();
        EXPECT_EQ(queued(), c.expected);
        // A second detection of the same project starts from a clean slate: the same text.
        detect();
        EXPECT_EQ(queued(), c.expected);
        EXPECT_TRUE(project.changesPending);
        EXPECT_TRUE(project.detectionDone);
        EXPECT_EQ(project.pendingCommands.back().localPath, r + "/sub/deep/c.gif");
    }
    EXPECT_EQ(project.items[1].archivePath, "/_archiv_/_htdocs_sub_README071206153000");
    EXPECT_EQ(sink.statuses.back(), "3 dirs 4 files\r");
}

TEST_F(ChangeDetection, RecordedTimeDecidesUnderFileListStrategy)
{
    tree.add("same.html");
    tree.add("older.html");
    tree.add("newer.html");
    tree.add("new.html");
    detect();
    EXPECT_EQ(changedPaths().size(), 4u);
    project.items.erase(project.items.begin()); // "new.html" stays unrecorded
    settle();

    tree.setTime("newer.html", TestTree::kDefaultTime + 1);
    tree.setTime("older.html", TestTree::kDefaultTime - 1);
    tree.setTime("same.html", TestTree::kDefaultTime + 50);
    tree.setTime("same.html", TestTree::kDefaultTime); // touched back
    detect();
    EXPECT_EQ(changedPaths(),
        (std::vector<std::string> { tree.path("new.html"), tree.path("newer.html"), tree.path("older.html") }));
    EXPECT_FALSE(queued().find("same.html") != std::string::npos);
}

// Edits that keep the second: a save in the same second as the last scan, and new content
// copied over with its time kept (cp -p, build tools that fix times).
TEST_F(ChangeDetection, SizeAndFractionOfASecondCountUnderFileListStrategy)
{
    auto setNanoseconds = [&](const char* name, int64_t seconds, long nanoseconds) {
        struct timespec times[2] { { static_cast<time_t>(seconds), nanoseconds },
            { static_cast<time_t>(seconds), nanoseconds } };
        ASSERT_EQ(::utimensat(AT_FDCWD, tree.path(name).c_str(), times, 0), 0);
    };
    tree.add("same-second.html", "short");
    tree.add("copied.html", "old content");
    tree.add("fraction.html", "abc");
    tree.add("untouched.html", "u");
    setNanoseconds("fraction.html", TestTree::kDefaultTime, 100);
    detect();
    settle();

    tree.add("same-second.html", "longer text", TestTree::kDefaultTime);
    tree.add("copied.html", "new content", TestTree::kDefaultTime); // same size, same second
    setNanoseconds("copied.html", TestTree::kDefaultTime, 5);
    tree.add("fraction.html", "xyz");
    setNanoseconds("fraction.html", TestTree::kDefaultTime, 200);
    detect();
    EXPECT_EQ(changedPaths(),
        (std::vector<std::string> {
            tree.path("copied.html"), tree.path("fraction.html"), tree.path("same-second.html") }));

    // A list from before sizes and fractions were kept sends nothing again after an update.
    writeSecondsOnlyList();
    detect();
    EXPECT_TRUE(changedPaths().empty());
    settle();
    EXPECT_NE(readWholeFile(project.filelist)->find(tree.path("untouched.html") + "=1165500000.000000000 1 inode:"),
        std::string::npos);
}

// A build tool writes every file again; only new bytes count. A file whose stamps did not
// move is not read at all, so an edit that kept time and size goes unseen, as it does under
// the time strategy.
TEST_F(ChangeDetection, ContentStrategyComparesTheBytesOfFilesWhoseStampsMoved)
{
    project.strategy = ProjectSettings::kContentStrategy;
    for (const char* name : { "rewritten.html", "edited.html", "copied-over.html", "stamps-kept.html" })
        tree.add(name, std::string(name) + " original");
    detect();
    EXPECT_EQ(changedPaths().size(), 4u);
    for (const FileItem& item : project.items)
        EXPECT_TRUE(item.digest && !item.contentChanged) << item.path;
    settle();

    tree.add("rewritten.html", "rewritten.html original", TestTree::kDefaultTime + 60);
    tree.add("edited.html", "edited.html ORIGINAL", TestTree::kDefaultTime + 60);
    // Another file put in its place, with the same bytes and time: read, and found equal.
    const std::string copy = tree.addOutside("copy", "copied-over.html original");
    ASSERT_EQ(::rename(copy.c_str(), tree.path("copied-over.html").c_str()), 0);
    tree.setTime("copied-over.html", TestTree::kDefaultTime);
    tree.add("stamps-kept.html", "stamps-kept.html ORIGINAL", TestTree::kDefaultTime);
    detect();
    EXPECT_EQ(changedPaths(), std::vector<std::string> { tree.path("edited.html") });
    EXPECT_TRUE(project.items[1].contentChanged);
    settle();
    // The new stamps of the files found equal are recorded: the next scan reads nothing.
    const std::string list = *readWholeFile(project.filelist);
    EXPECT_NE(list.find(tree.path("rewritten.html") + "=1165500060."), std::string::npos) << list;
    detect();
    EXPECT_TRUE(changedPaths().empty());

    // A list from before digests sends nothing and learns them.
    writeSecondsOnlyList();
    detect();
    EXPECT_TRUE(changedPaths().empty());
    settle();
    EXPECT_NE(readWholeFile(project.filelist)->find(tree.path("edited.html") + "=1165500060.000000000 20 xxh3:"),
        std::string::npos);
    tree.add("edited.html", "edited.html original", TestTree::kDefaultTime + 120);
    detect();
    EXPECT_EQ(changedPaths(), std::vector<std::string> { tree.path("edited.html") });
}

// A folder with enough files to hash them ahead on two threads decides exactly as one
// tested file by file: each digest belongs to its own file.
TEST_F(ChangeDetection, ContentStrategyHashesALargeFolderAheadWithTheSameOutcome)
{
    project.strategy = ProjectSettings::kContentStrategy;
    const auto name = [](int index) { return "page" + std::to_string(index) + ".html"; };
    for (int index = 0; index < 100; ++index)
        tree.add(name(index), "page " + std::to_string(index % 50));
    detect();
    settle();
    std::vector<std::string> expected;
    for (int index = 0; index < 100; ++index) {
        const bool edited = index % 30 == 7;
        tree.add(name(index), (edited ? "edited " : "page ") + std::to_string(index % 50), TestTree::kDefaultTime + 9);
        if (edited)
            expected.push_back(tree.path(name(index)));
    }
    std::sort(expected.begin(), expected.end());
    detect();
    std::vector<std::string> changed = changedPaths();
    std::sort(changed.begin(), changed.end());
    EXPECT_EQ(changed, expected);
}

TEST_F(ChangeDetection, OlderTimeThanRecordedCountsAsChanged)
{
    tree.add("a.html");
    detect();
    settle();
    detect();
    EXPECT_TRUE(project.pendingCommands.empty());
    EXPECT_FALSE(project.changesPending);
    tree.setTime("a.html", TestTree::kDefaultTime - 3600);
    detect();
    EXPECT_EQ(changedPaths(), std::vector<std::string> { tree.path("a.html") });
}

TEST_F(ChangeDetection, VanishedFilesBecomeDeletedItems)
{
    tree.add("keep.html");
    std::string gone = tree.add("sub/gone.html");
    detect();
    settle();
    ASSERT_EQ(::unlink(gone.c_str()), 0);
    detect();
    EXPECT_TRUE(project.pendingCommands.empty());
    EXPECT_TRUE(project.changesPending);
    ASSERT_EQ(project.items.size(), 2u);
    const FileItem& deleted = project.items.back();
    EXPECT_EQ(deleted.path, gone);
    EXPECT_TRUE(deleted.deleted && deleted.changed);
    EXPECT_EQ(deleted.size, 0);

    // After the run the deleted file is no longer recorded, so it is reported only once.
    project.WriteFileList();
    detect();
    EXPECT_FALSE(project.changesPending);
}

TEST_F(ChangeDetection, UnlistableRootDoesNotReportRecordedFilesAsDeleted)
{
    tree.add("a.html");
    detect();
    settle();
    // As when the drive holding the folder is not mounted.
    ASSERT_EQ(::rename(tree.root().c_str(), (tree.base() + "/unmounted").c_str()), 0);
    detect();
    EXPECT_TRUE(project.items.empty());
    EXPECT_FALSE(project.changesPending);
}

TEST_F(ChangeDetection, UnreadableSubFolderKeepsItsRecordedFiles)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root";
    tree.add("a.html");
    tree.add("locked/b.html");
    detect();
    settle();
    ASSERT_EQ(::chmod(tree.path("locked").c_str(), 0), 0);
    detect();
    EXPECT_FALSE(project.changesPending);
    EXPECT_EQ(project.items.size(), 1u);
}

TEST_F(ChangeDetection, FolderBeyondPathLimitKeepsItsRecordedFiles)
{
    // Root is not stopped by permissions, but no one can open a folder by a path longer
    // than PATH_MAX: the scan must treat it as unreadable, not as emptied.
    tree.add("a.html");
    std::string deep = tree.root();
    int fd = ::open(deep.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string level(200, 'd');
    for (int i = 0; i < 25; ++i) {
        ASSERT_EQ(::mkdirat(fd, level.c_str(), 0755), 0);
        int next = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
        deep += "/" + level;
    }
    ::close(fd);
    project.timeMap[deep + "/page.html"] = TestTree::kDefaultTime;
    project.timeMap[tree.path("gone.html")] = TestTree::kDefaultTime;
    project.DetectChanges();
    std::vector<std::string> deleted;
    for (const FileItem& item : project.items)
        if (item.deleted)
            deleted.push_back(item.path);
    EXPECT_EQ(deleted, std::vector<std::string> { tree.path("gone.html") });
}

TEST_F(ChangeDetection, SkipRulesKeepFilesAndFoldersOut)
{
    tree.add("index.html");
    tree.add("index.BAK");
    tree.add("_vti_cnf/index.html");
    tree.add("sub/x.html");
    tree.add("sub/Archiv/old.html");
    project.forbiddenDirectories = { "*_vti_cnf", "*/Archiv" };
    project.forbiddenFiles = { "*.bak" };
    detect();
    EXPECT_EQ(changedPaths(), (std::vector<std::string> { tree.path("index.html"), tree.path("sub/x.html") }));
    EXPECT_EQ(project.items.size(), 2u);

    // A file that was recorded and now matches a rule is treated as gone.
    settle();
    project.forbiddenFiles = { "*.HTML" };
    detect();
    EXPECT_TRUE(project.changesPending);
    std::vector<std::string> deleted;
    for (const FileItem& item : project.items)
        if (item.deleted)
            deleted.push_back(item.path);
    EXPECT_EQ(deleted, (std::vector<std::string> { tree.path("index.html"), tree.path("sub/x.html") }));
}

TEST_F(ChangeDetection, ArchiveMarksDecideUnderStrategiesZeroAndOne)
{
    tree.add("a.html");
    tree.add("b.html");
    tree.add("hidden.html");
    FakeAttributes attributes;
    attributes.changed = { tree.path("b.html"), tree.path("hidden.html") };
    attributes.hidden = { tree.path("hidden.html") };
    // No file list line for a.html: under these strategies only the mark counts.
    for (int strategy : { 0, 1 }) {
        SCOPED_TRACE(strategy);
        project.strategy = strategy;
        project.fileAttributes = &attributes;
        detect();
        EXPECT_EQ(changedPaths(), std::vector<std::string> { tree.path("b.html") });
        EXPECT_EQ(project.items.size(), 2u);

        project.fileAttributes = nullptr;
        detect();
        EXPECT_EQ(changedPaths().size(), 3u);
    }
}

TEST_F(ChangeDetection, RealArchiveMarksClearedUntilRewritten)
{
    std::string a = tree.add("a.html", "one");
    std::string b = tree.add("b.html", "one");
    std::string target = tree.addOutside("shared/logo.gif", "gif");
    ASSERT_EQ(::symlink(target.c_str(), tree.path("logo.gif").c_str()), 0);
    ArchiveMarkStore marks(tree.base() + "/archive.marks");
    marks.load();
    project.strategy = 1;
    project.fileAttributes = &marks;
    detect();
    EXPECT_EQ(changedPaths().size(), 3u);
    for (const FileItem& item : project.items)
        EXPECT_TRUE(marks.clearArchive(item.path));
    detect();
    EXPECT_TRUE(project.pendingCommands.empty());
    // Marks are kept by absolute path; a local folder given relative works as well.
    project.local = std::filesystem::relative(tree.root()).string();
    ASSERT_NE(project.local.front(), '/');
    detect();
    for (const FileItem& item : project.items)
        EXPECT_TRUE(marks.clearArchive(item.path));
    detect();
    EXPECT_TRUE(project.pendingCommands.empty()) << queued();
    project.local = tree.root();

    tree.add("a.html", "two, in place", TestTree::kDefaultTime + 10);
    tree.addOutside("b.tmp", "two, renamed over");
    ASSERT_EQ(::rename((tree.base() + "/b.tmp").c_str(), b.c_str()), 0);
    ASSERT_TRUE(writeFileAtomically(target, "GIF")); // behind the link
    detect();
    EXPECT_EQ(changedPaths(), (std::vector<std::string> { a, b, tree.path("logo.gif") }));
}

TEST_F(ChangeDetection, CancelDuringScanKeepsWhatWasQueued)
{
    tree.add("a.html");
    tree.add("sub/b.html");
    sink.onStatus = [this] {
        if (sink.statuses.size() == 1)
            project.cancelRequested = true;
    };
    detect();
    EXPECT_EQ(changedPaths(), std::vector<std::string> { tree.path("a.html") });
    EXPECT_TRUE(project.cancelRequested);
}

TEST_F(ChangeDetection, AuthorMetadataOnlyForChangedFilesWhenOptionOn)
{
    tree.add("a.html");
    tree.add("b.html");
    tree.add("_vti_cnf/a.html", "vti_author:SR|DOMAIN\\alice\nvti_modifiedby:SR|bob\n");
    tree.add("_vti_cnf/b.html", "vti_author:SR|carol\n");
    project.forbiddenDirectories = { "*_vti_cnf" };
    options.frontPage = false;
    detect();
    EXPECT_EQ(project.items[0].author, "");

    FakeAttributes attributes;
    attributes.changed = { tree.path("a.html") };
    project.strategy = 1;
    project.fileAttributes = &attributes;
    options.frontPage = true;
    detect();
    EXPECT_EQ(project.items[0].author, "alice");
    EXPECT_EQ(project.items[0].editor, "SR|bob");
    EXPECT_EQ(project.items[1].author, ""); // unchanged: its metadata is never read

    project.machineOptions = nullptr; // defaults: the option is on
    detect();
    EXPECT_EQ(project.items[0].author, "alice");
}

// The put goes out from its typed parts, never from its line: a name with double quotes is
// queued like any other, with its exact names.
TEST_F(ChangeDetection, NameWithDoubleQuoteIsQueuedByItsTypedParts)
{
    tree.add("say \"hi\".html");
    tree.add("ok.html");
    detect();
    ASSERT_EQ(project.items.size(), 2u);
    const FileItem& quoted = project.items[1];
    EXPECT_TRUE(quoted.changed);
    EXPECT_FALSE(quoted.failed);
    std::vector<std::pair<std::string, std::string>> puts;
    for (const PendingCommand& command : project.pendingCommands)
        if (command.kind == PendingCommand::Kind::Put)
            puts.emplace_back(command.localPath, command.remotePath);
    EXPECT_EQ(puts,
        (std::vector<std::pair<std::string, std::string>> {
            { tree.path("ok.html"), "/ok.html" }, { tree.path("say \"hi\".html"), "/say \"hi\".html" } }));
}

TEST_F(ChangeDetection, SymbolicLinksAreFollowedWithoutLooping)
{
    std::string target = tree.addOutside("shared/logo.gif", "gif");
    tree.add("a.html");
    ASSERT_EQ(::symlink(target.c_str(), tree.path("logo.gif").c_str()), 0);
    ASSERT_EQ(::symlink(tree.root().c_str(), tree.path("loop").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/target", tree.path("dangling").c_str()), 0);
    // Folder links: inside the site they are content; up to a folder holding them, or out of
    // the site, they would upload the parent (data folder, passwords) or someone else's files.
    tree.add("docs/manual.html");
    tree.addOutside("private/secret.txt", "s");
    ASSERT_EQ(::symlink(tree.path("docs").c_str(), tree.path("handbook").c_str()), 0);
    ASSERT_EQ(::symlink("..", tree.path("docs/up").c_str()), 0);
    ASSERT_EQ(::symlink((tree.base() + "/private").c_str(), tree.path("private").c_str()), 0);
    detect();
    EXPECT_EQ(changedPaths(),
        (std::vector<std::string> { tree.path("a.html"), tree.path("logo.gif"), tree.path("docs/manual.html"),
            tree.path("handbook/manual.html") }));
    EXPECT_EQ(project.items[1].size, 3);
    size_t warnings = 0;
    for (const std::string& line : sink.lines)
        warnings += line.rfind("Warning link ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(warnings, 4u) << testing::PrintToString(sink.lines); // loop, private, up in docs and in handbook
}

// A local folder that is missing, unset, or empty while files are recorded (an unmounted
// disk) must not turn into an upload of nothing and the deletion of the whole site.
TEST_F(ChangeDetection, UntrustworthyScansChangeNothing)
{
    tree.add("a.html");
    tree.add("b.html");
    detect();
    settle();
    const std::string recorded = *readWholeFile(project.filelist);
    project.deleteRemoved = 1;
    struct Case {
        const char* name;
        std::function<void()> prepare;
    };
    const std::string root = tree.root();
    const Case cases[] = {
        { "unset", [&] { project.local.clear(); } },
        { "missing", [&] { project.local = root + "-unmounted"; } },
        { "empty",
            [&] {
                project.local = root;
                ASSERT_EQ(::unlink(tree.path("a.html").c_str()), 0);
                ASSERT_EQ(::unlink(tree.path("b.html").c_str()), 0);
            } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        detect();
        EXPECT_TRUE(project.scanFailed);
        EXPECT_FALSE(project.changesPending);
        EXPECT_EQ(project.runErrors.size(), 1u);
        project.FinishRun();
        EXPECT_EQ(readWholeFile(project.filelist), recorded);
    }
}

TEST_F(ChangeDetection, DeletingMostOfTheSiteWaitsForPermission)
{
    for (int i = 0; i < 10; ++i)
        tree.add("page" + std::to_string(i) + ".html");
    detect();
    settle();
    project.deleteRemoved = 1;
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(::unlink(tree.path("page" + std::to_string(i) + ".html").c_str()), 0);
    detect();
    EXPECT_TRUE(project.deletionsHeld);
    EXPECT_FALSE(project.changesPending); // nothing else to do: no connection
    ASSERT_EQ(project.runErrors.size(), 1u);
    EXPECT_NE(project.runErrors[0].find("8 of 10"), std::string::npos);
    EXPECT_NE(project.runErrors[0].find("tarnwick --allow-delete-all "), std::string::npos);
    project.FinishRun();
    EXPECT_EQ(project.timeMap.size(), 10u);
    project.ReadFileList();
    EXPECT_EQ(project.timeMap.size(), 10u);

    project.maxdelete = 100;
    detect();
    EXPECT_FALSE(project.deletionsHeld);
    EXPECT_TRUE(project.changesPending);
    EXPECT_TRUE(project.runErrors.empty());

    // The last files too, when asked for once: an empty folder is then no unmounted disk.
    project.maxdelete = 50;
    for (int i = 8; i < 10; ++i)
        ASSERT_EQ(::unlink(tree.path("page" + std::to_string(i) + ".html").c_str()), 0);
    detect();
    EXPECT_TRUE(project.scanFailed);
    EXPECT_NE(project.runErrors.at(0).find("tarnwick --allow-delete-all "), std::string::npos);
    project.allowDeleteAll = true;
    detect();
    EXPECT_FALSE(project.scanFailed);
    EXPECT_FALSE(project.deletionsHeld);
    EXPECT_EQ(
        std::count_if(project.items.begin(), project.items.end(), [](const FileItem& item) { return item.deleted; }),
        10);
}

TEST_F(ChangeDetection, StatusMessagesCountFoldersAndQueuedFiles)
{
    tree.add("a.html");
    tree.add("sub/b.html");
    detect();
    EXPECT_EQ(sink.statuses,
        (std::vector<std::string> { "1 dirs 0 files\r", "2 dirs 1 files\r", "2 dirs 2 files\r", "2 dirs 2 files\r" }));
}

// A scan told where the notifications saw changes looks only there; every other recorded
// file stays recorded without a look at the disk.
TEST_F(ChangeDetection, AScopedScanLooksOnlyWhereChangesWereSeen)
{
    for (const char* path : { "index.html", "a/one.html", "a/two.html", "b/three.html", "b/deep/four.html" })
        tree.add(path, "v1");
    detect();
    settle();
    struct Row {
        const char* name;
        std::function<void()> change;
        std::vector<std::string> folders;
        std::vector<std::string> subtrees;
        std::vector<std::string> busy;
        std::vector<std::string> changed; // relative paths, deletions included
        size_t items;
    };
    const auto at = [this](const std::vector<std::string>& relative) {
        std::set<std::string> full;
        for (const std::string& path : relative)
            full.insert(path.empty() ? tree.root() : tree.path(path));
        return full;
    };
    const Row rows[] = {
        { "a saved page", [&] { tree.add("a/one.html", "v2", TestTree::kDefaultTime + 60); }, { "a" }, {}, {},
            { "a/one.html" }, 5 },
        // Outside the scope nothing is looked at: a full scan would see b/three.html.
        { "a change no one was told of", [&] { tree.add("b/three.html", "v3", TestTree::kDefaultTime + 90); }, { "a" },
            {}, {}, {}, 5 },
        { "a file removed", [&] { std::filesystem::remove(tree.path("a/two.html")); }, { "a" }, {}, {},
            { "a/two.html" }, 5 },
        { "a new folder", [&] { tree.add("c/d/new.html", "n"); }, { "" }, { "c" }, {}, { "c/d/new.html" }, 5 },
        { "a file still being written", [&] { tree.add("index.html", "half", TestTree::kDefaultTime + 120); }, { "" },
            {}, { "index.html" }, {}, 5 },
        { "a folder gone", [&] { std::filesystem::remove_all(tree.path("b/deep")); }, { "b" }, { "b/deep" }, {},
            { "b/three.html", "b/deep/four.html" }, 5 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.change();
        project.nextScanScope = WebProject::ScanScope { at(row.folders), at(row.subtrees), at(row.busy) };
        project.Scan();
        EXPECT_FALSE(project.nextScanScope.has_value());
        std::vector<std::string> expected;
        for (const std::string& path : row.changed)
            expected.push_back(tree.path(path));
        EXPECT_EQ(changedPaths(), expected);
        EXPECT_EQ(project.items.size(), row.items);
        settle();
    }
    // Nothing recorded was lost on the way: a full scan finds only the file still written.
    project.Scan();
    EXPECT_EQ(changedPaths(), std::vector<std::string> { tree.path("index.html") });
    EXPECT_EQ(project.items.size(), 4u);
}

} // namespace
