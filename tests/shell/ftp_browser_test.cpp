// The browser's two panes against a real server and a hostile scripted one: listing order,
// following between the panes, transfers of whole trees, and names that must never become
// local paths.

#include "shell/ftp_browser.h"

#include "ftp/ftp_client.h"
#include "session/trusted_certificates.h"
#include "support/fake_ftp_server.h"
#include "support/ftp_server.h"
#include "support/required_server.h"
#include "support/ssh_server.h"
#include "support/temp_dir.h"
#include "support/upload_site.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class LogSink : public FtpEventSink {
public:
    std::vector<std::string> lines;
    void onLine(const std::string& text) override { lines.push_back(text); }
    [[nodiscard]] bool saw(const std::string& text) const
    {
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }
};

void writeFile(const std::string& path, const std::string& content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> names(const std::vector<BrowserRow>& rows)
{
    std::vector<std::string> result;
    for (const BrowserRow& row : rows)
        result.push_back(row.name);
    return result;
}

std::vector<BrowserRow> rowsNamed(const std::vector<BrowserRow>& rows, const std::vector<std::string>& wanted)
{
    std::vector<BrowserRow> result;
    for (const BrowserRow& row : rows)
        if (std::find(wanted.begin(), wanted.end(), row.name) != wanted.end())
            result.push_back(row);
    return result;
}

TEST(FtpBrowserRules, SortsDirectoriesFirstAndNamesWithoutCase)
{
    std::vector<BrowserRow> rows = { { "b.html", 1, 0, false }, { "Zeta", 0, 0, true }, { "A.html", 1, 0, false },
        { "alpha", 0, 0, true }, { "a", 1, 0, false }, { "ab", 1, 0, false }, { "B", 0, 0, true } };
    FtpBrowser::sortRows(rows);
    EXPECT_EQ(names(rows), (std::vector<std::string> { "alpha", "B", "Zeta", "a", "A.html", "ab", "b.html" }));
}

TEST(FtpBrowserRules, PathListsHoldEveryAncestor)
{
    struct Row {
        const char* path;
        char separator;
        std::vector<std::string> items;
    };
    for (const Row& row : {
             Row { "/www/html", '/', { "/", "/www", "/www/html" } },
             Row { "/", '/', { "/" } },
             Row { "", '/', { "/" } },
             Row { "E:\\web\\sub", '\\', { "E:", "E:\\web", "E:\\web\\sub", "\\" } },
             Row { "//sub", '/', { "/", "/sub" } },
         })
        EXPECT_EQ(FtpBrowser::pathItems(row.path, row.separator), row.items) << row.path;
}

TEST(FtpBrowserRules, ServerNamesThatWouldLeaveTheFolderAreRefused)
{
    struct Row {
        std::string name;
        bool safe;
    };
    for (const Row& row : { Row { "index.html", true }, Row { ".htaccess", true }, Row { "...", true },
             Row { ".", false }, Row { "..", false }, Row { "../evil", false }, Row { "a/b", false },
             Row { "/etc", false }, Row { "", false }, Row { std::string("a\0b", 3), false } })
        EXPECT_EQ(FtpBrowser::isSafeLocalName(row.name), row.safe) << row.name;
}

TEST(FtpBrowserRules, DatesHaveNoLeadingZeros)
{
    std::tm parts {};
    parts.tm_year = 2006 - 1900;
    parts.tm_mon = 2;
    parts.tm_mday = 5;
    parts.tm_hour = 7;
    parts.tm_min = 3;
    parts.tm_isdst = -1;
    EXPECT_EQ(FtpBrowser::dateText(static_cast<int64_t>(std::mktime(&parts))), "7:3 5.3.2006");
}

TEST(FtpBrowserRules, DifferencesCompareWholeNamesWithCase)
{
    std::vector<BrowserRow> remote = { { "..", 0, 0, true }, { "Index.html", 1, 0, false }, { "same", 1, 0, false } };
    std::vector<BrowserRow> local = { { "..", 0, 0, true }, { "index.html", 1, 0, false }, { "same", 9, 0, false } };
    EXPECT_EQ(FtpBrowser::oneSidedRows(remote, local), std::vector<int> { 1 });
    EXPECT_EQ(FtpBrowser::oneSidedRows(local, remote), std::vector<int> { 1 });
    EXPECT_EQ(FtpBrowser::oneSidedRows(local, local), std::vector<int> {});
    // Synchron matches without case.
    EXPECT_EQ(FtpBrowser::rowsNamed(local, { "INDEX.HTML" }), std::vector<int> { 1 });
    EXPECT_EQ(FtpBrowser::rowNamed(remote, "SAME"), 2);
    EXPECT_EQ(FtpBrowser::rowNamed(remote, "missing"), -1);
}

TEST(FtpBrowserRules, TotalRoundsEachSizeUpToKilobytes)
{
    using Kind = FtpOperation::Kind;
    EXPECT_EQ(FtpBrowser::totalSize(
                  { { Kind::Download, "a", "a", 0 }, { Kind::Download, "b", "b", 1 }, { Kind::Upload, "c", "c", 1024 },
                      { Kind::Upload, "d", "d", 1025 }, { Kind::ChangeDirectory, "/", {}, -1 } }),
        1024 + 1024 + 2048);
}

// A real server with a prepared tree and a local root.
class FtpBrowserSession : public ::testing::TestWithParam<FtpServer::Kind> {
protected:
    void SetUp() override
    {
        SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(GetParam()));
        writeFile(server.pathOf("Index.html"), "remote index");
        writeFile(server.pathOf("b.html"), "bb");
        writeFile(server.pathOf("Sub/inner/deep.txt"), std::string(5000, 'd'));
        writeFile(server.pathOf("Sub/page.html"), "page");
        fs::create_directories(server.pathOf("assets"));
        local.writeFile("index.html", "local index");
        local.makeDirectory("Sub");
        ASSERT_TRUE(server.start()) << server.error();
        // A daemon working as its own user must be able to change what the test wrote.
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(server.root()))
            fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add);
        browser.session().setEventSink(&sink);
    }

    ServerEntry entry(const std::string& localRoot)
    {
        ServerEntry result;
        result.text = "site";
        result.site.url = server.url();
        result.site.user = server.user();
        result.site.pass = server.password();
        result.site.localDirectory = localRoot;
        return result;
    }

    FtpServer server { GetParam() };
    TempDir local;
    MachineOptions options;
    LogSink sink;
    FtpBrowser browser { options };
};

TEST_P(FtpBrowserSession, ConnectFillsBothPanesInListingOrder)
{
    ASSERT_TRUE(browser.connect(entry(local.path())));
    EXPECT_EQ(
        names(browser.remoteRows()), (std::vector<std::string> { "..", "assets", "Sub", "b.html", "Index.html" }));
    EXPECT_EQ(names(browser.localRows()), (std::vector<std::string> { "..", "Sub", "index.html" }));
    EXPECT_EQ(browser.remoteDirectory(), "/");
    EXPECT_EQ(browser.localDirectory(), local.path());
    EXPECT_EQ(browser.localRoot(), local.path());
    EXPECT_EQ(browser.remoteRows()[3].size, 2);
    EXPECT_EQ(browser.remotePathItems(), std::vector<std::string> { "/" });
}

TEST_P(FtpBrowserSession, EmptyLocalRootKeepsTheLocalFolder)
{
    ASSERT_TRUE(browser.setLocalDirectory(local.path()));
    ASSERT_TRUE(browser.connect(entry("")));
    EXPECT_EQ(browser.localDirectory(), local.path());
    EXPECT_EQ(browser.localRoot(), "");
    browser.openRemote("Sub", true); // nothing to follow into
    EXPECT_EQ(browser.localDirectory(), local.path());
}

TEST_P(FtpBrowserSession, PanesFollowEachOtherWithSynchron)
{
    ASSERT_TRUE(browser.connect(entry(local.path())));
    browser.openRemote("Sub", false);
    EXPECT_EQ(browser.remoteDirectory(), "/Sub");
    EXPECT_EQ(browser.localDirectory(), local.path());

    browser.openRemote("inner", true);
    EXPECT_EQ(browser.remoteDirectory(), "/Sub/inner");
    EXPECT_EQ(browser.localDirectory(), local.path() + "/Sub/inner"); // made on the way
    EXPECT_TRUE(fs::is_directory(local.file("Sub/inner")));

    // A file's name sent as "cd" is refused; the listing shows the same folder again.
    browser.openRemote("deep.txt", false);
    EXPECT_EQ(browser.remoteDirectory(), "/Sub/inner");
    EXPECT_EQ(names(browser.remoteRows()), (std::vector<std::string> { "..", "deep.txt" }));

    // The path list moves the local pane even without Synchron.
    browser.chooseRemotePath("/Sub");
    EXPECT_EQ(browser.localDirectory(), local.path() + "/Sub");

    // Local navigation leads the server along, creating what is missing there.
    local.makeDirectory("Sub/new folder");
    browser.fillLocal();
    EXPECT_EQ(browser.openLocal({ "new folder", 0, 0, true }, true), "");
    EXPECT_EQ(browser.remoteDirectory(), "/Sub/new folder");
    EXPECT_TRUE(fs::is_directory(server.pathOf("Sub/new folder")));
    EXPECT_EQ(browser.openLocal({ "..", 0, 0, true }, true), "");
    EXPECT_EQ(browser.localDirectory(), local.path() + "/Sub");
    EXPECT_EQ(browser.remoteDirectory(), "/Sub");
    EXPECT_EQ(browser.openLocal({ "x.html", 1, 0, false }, true), local.path() + "/Sub/x.html");
}

TEST_P(FtpBrowserSession, RemoteFollowsRelativeToTheLocalRoot)
{
    struct Row {
        std::string rootSuffix;
        std::string remoteCd;
    };
    for (const Row& row : { Row { "", "cd //Sub" }, Row { "/", "cd /Sub" } }) {
        std::vector<std::string> lines;
        ASSERT_TRUE(browser.connect(entry(local.path() + row.rootSuffix)));
        sink.lines.clear();
        EXPECT_EQ(browser.openLocal({ "Sub", 0, 0, true }, true), "");
        EXPECT_TRUE(std::any_of(sink.lines.begin(), sink.lines.end(), [&](const std::string& line) {
            return line.rfind("CWD " + row.remoteCd.substr(3), 0) == 0;
        })) << row.rootSuffix;
        EXPECT_EQ(browser.remoteDirectory(), "/Sub") << row.rootSuffix;
    }
}

TEST_P(FtpBrowserSession, DownloadAndUploadWholeTreesByteForByte)
{
    ASSERT_TRUE(browser.connect(entry(local.path())));
    fs::remove_all(local.file("Sub"));
    browser.fillLocal();
    std::vector<FtpOperation> down = browser.downloadBatch(rowsNamed(browser.remoteRows(), { "Sub", "b.html" }));
    EXPECT_TRUE(browser.downloadConflicts(down).empty());
    browser.runBatch(down);
    EXPECT_EQ(compareTrees(server.pathOf("Sub"), local.file("Sub")), std::vector<std::string> {});
    EXPECT_EQ(readText(local.file("b.html")), "bb");
    EXPECT_EQ(browser.session().currentDirectory(), "/");

    // A second download would overwrite: each existing target is named first.
    std::vector<FtpOperation> again = browser.downloadBatch(rowsNamed(browser.remoteRows(), { "Sub", "b.html" }));
    EXPECT_EQ(browser.downloadConflicts(again).size(), 3u);

    local.writeFile("up/one.html", "1");
    local.writeFile("up/two/three.bin", std::string(70000, 'x'));
    local.makeDirectory("up/empty");
    browser.fillLocal();
    std::vector<FtpOperation> up = browser.uploadBatch(rowsNamed(browser.localRows(), { "up", "index.html" }));
    EXPECT_EQ(browser.uploadConflicts(up), std::vector<std::string> {}); // Index.html differs by case
    browser.runBatch(up);
    EXPECT_EQ(compareTrees(local.file("up"), server.pathOf("up")), std::vector<std::string> {});
    EXPECT_TRUE(fs::is_directory(server.pathOf("up/empty")));
    EXPECT_EQ(readText(server.pathOf("index.html")), "local index");
    EXPECT_EQ(browser.session().currentDirectory(), "/");
    browser.relist();
    std::vector<std::string> conflicts
        = browser.uploadConflicts(browser.uploadBatch(rowsNamed(browser.localRows(), { "up" })));
    std::sort(conflicts.begin(), conflicts.end()); // the file system's order
    EXPECT_EQ(conflicts, (std::vector<std::string> { "/up/one.html", "/up/two/three.bin" }));
}

TEST_P(FtpBrowserSession, OverwritingDownloadReplacesOnlyWhenTheNewCopyArrived)
{
    ASSERT_TRUE(browser.connect(entry(local.path())));
    local.writeFile("b.html", "old");
    local.writeFile("gone.html", "keep me");
    local.writeFile("b.html.part0", "not ours");
    browser.runBatch({ { FtpOperation::Kind::Download, local.file("b.html"), "/b.html", 2 },
        { FtpOperation::Kind::Download, local.file("gone.html"), "/gone.html", 2 } });
    EXPECT_EQ(readText(local.file("b.html")), "bb");
    EXPECT_EQ(readText(local.file("gone.html")), "keep me");
    EXPECT_EQ(readText(local.file("b.html.part0")), "not ours");
    EXPECT_EQ(
        listFiles(local.path()), (std::vector<std::string> { "b.html", "b.html.part0", "gone.html", "index.html" }));
}

TEST_P(FtpBrowserSession, DeleteRemovesRemoteTreesChildrenFirstAndLocalFilesOnly)
{
    ASSERT_TRUE(browser.connect(entry(local.path())));
    std::vector<FtpOperation> batch
        = browser.remoteDeleteBatch(rowsNamed(browser.remoteRows(), { "Sub", "b.html", ".." }));
    EXPECT_EQ(FtpBrowser::deleteFileCount(batch), 3);
    // Every folder is emptied before it is removed.
    std::vector<std::string> steps;
    for (const FtpOperation& operation : batch)
        steps.push_back(std::to_string(static_cast<int>(operation.kind)) + " " + operation.name1);
    EXPECT_EQ(steps,
        (std::vector<std::string> {
            "5 /Sub/page.html", "5 /Sub/inner/deep.txt", "8 /Sub/inner", "8 /Sub", "5 /b.html" }));
    browser.runBatch(batch);
    EXPECT_FALSE(fs::exists(server.pathOf("Sub")));
    EXPECT_FALSE(fs::exists(server.pathOf("b.html")));
    EXPECT_TRUE(fs::exists(server.pathOf("Index.html")));

    std::vector<FtpOperation> empties = browser.remoteDeleteBatch(rowsNamed(browser.remoteRows(), { "assets" }));
    EXPECT_EQ(FtpBrowser::deleteFileCount(empties), 0);

    EXPECT_EQ(browser.deleteLocalFiles(rowsNamed(browser.localRows(), { "Sub", "index.html", ".." })), 1);
    EXPECT_TRUE(fs::is_directory(local.file("Sub")));
    EXPECT_FALSE(fs::exists(local.file("index.html")));
}

TEST_P(FtpBrowserSession, NewFolderAndRenameOnBothSides)
{
    ASSERT_TRUE(browser.connect(entry(local.path())));
    EXPECT_TRUE(browser.makeLocalDirectory("made"));
    EXPECT_FALSE(browser.makeLocalDirectory("../outside"));
    local.writeFile("other.html", "other");
    EXPECT_FALSE(browser.renameLocal("index.html", "other.html")); // never replaces
    EXPECT_EQ(readText(local.file("other.html")), "other");
    EXPECT_TRUE(browser.renameLocal("index.html", "renamed.html"));
    EXPECT_EQ(readText(local.file("renamed.html")), "local index");
    EXPECT_TRUE(fs::is_directory(local.file("made")));

    browser.makeRemoteDirectory("new dir");
    EXPECT_TRUE(fs::is_directory(server.pathOf("new dir")));
    EXPECT_NE(FtpBrowser::rowNamed(browser.remoteRows(), "new dir"), -1);
    browser.renameRemote("b.html", "c.html");
    EXPECT_EQ(readText(server.pathOf("c.html")), "bb");
    EXPECT_NE(FtpBrowser::rowNamed(browser.remoteRows(), "c.html"), -1);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpBrowserSession,
    testing::Values(FtpServer::Kind::Pyftpdlib, FtpServer::Kind::Vsftpd),
    [](const testing::TestParamInfo<FtpServer::Kind>& info) {
        return std::string(info.param == FtpServer::Kind::Vsftpd ? "vsftpd" : "pyftpdlib");
    });

// A server whose listing tries to lead downloads out of the chosen folder.
TEST(FtpBrowserHostileServer, NothingIsWrittenOutsideTheTargetFolder)
{
    using Answer = FakeFtpServer::Answer;
    FakeFtpServer server;
    const std::string listing = "-rw-r--r-- 1 u g 4 Jan 01 2020 ../evil\r\n"
                                "-rw-r--r-- 1 u g 4 Jan 01 2020 a/b\r\n"
                                "drwxr-xr-x 1 u g 0 Jan 01 2020 .\r\n"
                                "drwxr-xr-x 1 u g 0 Jan 01 2020 ..\r\n"
                                "-rw-r--r-- 1 u g 4 Jan 01 2020 fine.txt\r\n";
    server.on("LIST", Answer::sending("150 Here\r\n", listing, "226 Done\r\n"));
    server.on("RETR", Answer::sending("150 Sending\r\n", "data", "226 Done\r\n"));
    server.on("PWD", "257 \"/\"\r\n");
    ASSERT_TRUE(server.start());

    TempDir outer;
    std::string target = outer.makeDirectory("target");
    MachineOptions options;
    LogSink sink;
    FtpBrowser browser(options);
    browser.session().setEventSink(&sink);
    ServerEntry entry;
    entry.site.url = server.url();
    entry.site.localDirectory = target;
    ASSERT_TRUE(browser.connect(entry));
    EXPECT_EQ(names(browser.remoteRows()), (std::vector<std::string> { "..", "../evil", "a/b", "fine.txt" }));

    std::vector<BrowserRow> all(browser.remoteRows().begin() + 1, browser.remoteRows().end());
    all.push_back({ "d", 0, 0, true }); // a folder whose listing is the same hostile one
    std::vector<FtpOperation> batch = browser.downloadBatch(all);
    browser.runBatch(batch);
    EXPECT_EQ(listFiles(outer.path()), (std::vector<std::string> { "target/d/fine.txt", "target/fine.txt" }));
    EXPECT_TRUE(sink.saw("Skipped ../evil"));
    EXPECT_TRUE(sink.saw("Skipped a/b"));
    browser.session().quit();
    server.join();
}

// The same panes over SFTP: the browser cannot tell the two apart.
TEST(FtpBrowserSftp, ListsEntersAndFetchesLikeOverFtp)
{
    SKIP_UNLESS_SERVER_RUNS(SshServer::unavailableReason());
    SshServer server;
    ASSERT_TRUE(server.start()) << server.error();
    server.putFile("Index.html", "remote index");
    server.putFile("Über uns/seite.html", "seite");
    TempDir local;
    MachineOptions options;
    FtpBrowser browser(options);
    browser.session().setTrustedCertificatesPath(local.file("trusted-certs.txt"));
    ASSERT_TRUE(TrustedCertificates(local.file("trusted-host-keys.txt"))
                    .trust(server.hostAndPort(), server.hostKeyFingerprint()));
    ServerEntry entry;
    entry.site.url = "sftp://" + server.hostAndPort();
    entry.site.user = server.user();
    entry.site.keyfile = server.keyFile();
    entry.site.localDirectory = local.path();
    ASSERT_TRUE(browser.connect(entry));
    EXPECT_EQ(names(browser.remoteRows()), (std::vector<std::string> { "..", "Über uns", "Index.html" }));
    EXPECT_EQ(browser.remoteRows()[2].size, 12);
    EXPECT_EQ(browser.remoteDirectory(), "/");

    browser.openRemote("Über uns", true);
    EXPECT_EQ(browser.remoteDirectory(), "/Über uns");
    EXPECT_EQ(names(browser.remoteRows()), (std::vector<std::string> { "..", "seite.html" }));
    EXPECT_EQ(browser.localDirectory(), local.path() + "/Über uns");
    browser.runBatch(browser.downloadBatch(rowsNamed(browser.remoteRows(), { "seite.html" })));
    EXPECT_EQ(readText(local.file("Über uns/seite.html")), "seite");
}

} // namespace
