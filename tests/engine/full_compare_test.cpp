// The full compare against a real server: what Find counts, and what the server holds after
// Start with each combination of deleting and re-sending.

#include "engine/full_compare.h"
#include "engine/web_project.h"
#include "ftp/ftp_client.h"
#include "session/trusted_certificates.h"
#include "session/upload_names.h"
#include "sftp/sftp_session.h"
#include "support/ftp_server.h"
#include "support/required_server.h"
#include "support/ssh_server.h"
#include "support/test_tree.h"
#include "support/upload_site.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class MessageSink : public FtpEventSink {
public:
    std::vector<std::string> lines;
    void onLine(const std::string& text) override { lines.push_back(text); }
};

void writeServerFile(const FtpServer& server, const std::string& relative, const std::string& content)
{
    fs::path path = server.pathOf(relative);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

struct Scenario {
    TestTree tree;
    FtpServer server;
    MachineOptions options;
    FtpClient client { options };
    ProjectSettings project;
    MessageSink sink;

    // Local and server trees with every kind of difference.
    void prepare(const std::string& serverBase)
    {
        tree.add("index.html", "hello");
        tree.add("about.html", "abc");
        tree.add("sub/new.html", "new");
        tree.add("docs/a.txt", "aaa");
        tree.add("_private/secret.txt", "s");

        std::string base = serverBase.empty() ? "" : serverBase + "/";
        writeServerFile(server, base + "index.html", "HELLO");
        writeServerFile(server, base + "about.html", "abcdef");
        writeServerFile(server, base + "docs/a.txt", "AAA");
        writeServerFile(server, base + "extra.html", "x");
        writeServerFile(server, base + ".htaccess", "deny");
        writeServerFile(server, base + ".fp_folder_info", "fp");
        writeServerFile(server, base + "old/gone.html", "g");
        writeServerFile(server, base + "keep/.hidden", "h");
        // What killed runs left: a part, an old file beside its live one, and an old file
        // that is all the server has of its name.
        writeServerFile(server, base + "sub/.new.html.tarnwick-part", "ne");
        writeServerFile(server, base + ".index.html.tarnwick-old", "HELL");
        writeServerFile(server, base + "keep/.lost.html.tarnwick-old", "lost");
        fs::create_directories(server.pathOf(base + "empty/inner"));
        project.local = tree.root();
        project.forbiddenDirectories = { "*/_private" };
    }

    bool connect()
    {
        EXPECT_TRUE(server.start()) << server.error();
        return client.connect(server.url(), server.user(), server.password()).ok();
    }
};

struct StartCase {
    const char* name;
    FullCompare::Deletion deletion;
    FullCompare::Resend resend;
    std::vector<std::string> filesAfter;
    const char* indexAfter;
    bool oldFolderStays;
};

class FullCompareStart : public testing::TestWithParam<StartCase> { };

TEST_P(FullCompareStart, LeavesTheServerTreeAsChosen)
{
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
    const StartCase& row = GetParam();
    Scenario scenario;
    scenario.prepare("");
    ASSERT_TRUE(scenario.connect());

    FullCompare compare(scenario.client, scenario.project, scenario.tree.root(), "/", scenario.sink);
    compare.Find();
    EXPECT_EQ(compare.countsLine("%d Deleted, %d Changed, %d same size"), "5 Deleted, 2 Changed, 2 same size");

    compare.Start(row.deletion, row.resend);
    EXPECT_EQ(listFiles(scenario.server.root()), row.filesAfter) << scenario.server.log();
    EXPECT_EQ(readText(scenario.server.pathOf("index.html")), row.indexAfter);
    EXPECT_EQ(readText(scenario.server.pathOf("about.html")), "abc");
    EXPECT_EQ(readText(scenario.server.pathOf("sub/new.html")), "new");
    // Same size: re-sent only when asked, like index.html.
    EXPECT_EQ(readText(scenario.server.pathOf("docs/a.txt")), row.indexAfter == std::string("hello") ? "aaa" : "AAA");
    EXPECT_EQ(fs::exists(scenario.server.pathOf("old")), row.oldFolderStays);
    EXPECT_FALSE(fs::exists(scenario.server.pathOf("empty")));
    EXPECT_TRUE(fs::exists(scenario.server.pathOf("keep/.hidden")));
    EXPECT_FALSE(fs::exists(scenario.server.pathOf("_private")));
}

// Leftovers go whatever the boxes say, except the only copy of keep/lost.html.
const std::vector<std::string> kAllKept = { ".fp_folder_info", ".htaccess", "about.html", "docs/a.txt", "extra.html",
    "index.html", "keep/.hidden", "keep/.lost.html.tarnwick-old", "old/gone.html", "sub/new.html" };
const std::vector<std::string> kServerOnlyDeleted = { ".htaccess", "about.html", "docs/a.txt", "index.html",
    "keep/.hidden", "keep/.lost.html.tarnwick-old", "sub/new.html" };

INSTANTIATE_TEST_SUITE_P(CheckBoxes, FullCompareStart,
    testing::Values(StartCase { "NeitherBox", FullCompare::Deletion::KeepServerOnlyFiles,
                        FullCompare::Resend::ChangedOnly, kAllKept, "HELLO", true },
        StartCase { "DeleteOnly", FullCompare::Deletion::DeleteServerOnlyFiles, FullCompare::Resend::ChangedOnly,
            kServerOnlyDeleted, "HELLO", false },
        StartCase { "ResendOnly", FullCompare::Deletion::KeepServerOnlyFiles, FullCompare::Resend::AlsoSameSize,
            kAllKept, "hello", true },
        StartCase { "DeleteAndResend", FullCompare::Deletion::DeleteServerOnlyFiles, FullCompare::Resend::AlsoSameSize,
            kServerOnlyDeleted, "hello", false }),
    [](const testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

TEST(FullCompare, FindListsEachKindOfDifference)
{
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
    Scenario scenario;
    scenario.prepare("");
    ASSERT_TRUE(scenario.connect());
    FullCompare compare(scenario.client, scenario.project, scenario.tree.root(), "/", scenario.sink);
    compare.Find();

    std::map<std::string, std::string> kinds;
    for (const FileItem& item : compare.items())
        kinds[compare.remotePathOf(item)] = item.deleted ? "server only" : item.changed ? "changed" : "same size";
    std::map<std::string, std::string> expected = {
        { "/index.html", "same size" },
        { "/about.html", "changed" },
        { "/sub/new.html", "changed" },
        { "/docs/a.txt", "same size" },
        { "/extra.html", "server only" },
        { "/.htaccess", "server only" },
        { "/.fp_folder_info", "server only" },
        { "/old/gone.html", "server only" },
        { "/keep/.hidden", "server only" },
    };
    EXPECT_EQ(kinds, expected);
    std::vector<std::string> leftovers = compare.leftovers();
    std::sort(leftovers.begin(), leftovers.end());
    EXPECT_EQ(leftovers,
        (std::vector<std::string> {
            "/.index.html.tarnwick-old", "/keep/.lost.html.tarnwick-old", "/sub/.new.html.tarnwick-part" }));
    // The local scan comes first, the server-only files after it.
    EXPECT_FALSE(compare.items().front().deleted);
    EXPECT_TRUE(compare.items().back().deleted);
    EXPECT_NE(
        std::find(scenario.sink.lines.begin(), scenario.sink.lines.end(), "FTP: /old"), scenario.sink.lines.end());
}

TEST(FullCompare, WorksBelowAStartFolderAndLeavesTheRestAlone)
{
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
    Scenario scenario;
    scenario.prepare("www");
    writeServerFile(scenario.server, "outside.html", "o");
    ASSERT_TRUE(scenario.connect());
    FullCompare compare(scenario.client, scenario.project, scenario.tree.root() + "/", "/www", scenario.sink);
    compare.Find();
    EXPECT_EQ(compare.countsLine("%d/%d/%d"), "5/2/2");
    compare.Start(FullCompare::Deletion::DeleteServerOnlyFiles, FullCompare::Resend::ChangedOnly);

    EXPECT_EQ(listFiles(scenario.server.root()),
        (std::vector<std::string> { "outside.html", "www/.htaccess", "www/about.html", "www/docs/a.txt",
            "www/index.html", "www/keep/.hidden", "www/keep/.lost.html.tarnwick-old", "www/sub/new.html" }));

    // A second Find sees the server as Start left it.
    compare.Find();
    EXPECT_EQ(compare.countsLine("%d/%d/%d"), "2/0/4");
}

TEST(FullCompare, RemovesAStartFolderLeftWithoutFiles)
{
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
    Scenario scenario;
    scenario.project.local = scenario.tree.root();
    writeServerFile(scenario.server, "site/a/b/c.html", "c");
    writeServerFile(scenario.server, "site/d.html", "d");
    ASSERT_TRUE(scenario.connect());
    FullCompare compare(scenario.client, scenario.project, scenario.tree.root(), "/site", scenario.sink);
    compare.Find();
    compare.Start(FullCompare::Deletion::DeleteServerOnlyFiles, FullCompare::Resend::ChangedOnly);
    EXPECT_FALSE(fs::exists(scenario.server.pathOf("site")));
}

// The run's executor carries the compare out: a file whose folders the server lacks gets
// them, and nothing of a run (transcript, file list) is written.
TEST(FullCompare, MakesMissingFoldersAndLeavesNoRunBehind)
{
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
    Scenario scenario;
    scenario.tree.add("fresh/deep/page.html", "deep");
    scenario.tree.add("a.html", "a");
    TestTree data;
    scenario.project.local = scenario.tree.root();
    scenario.project.temp = data.root();
    scenario.project.filelist = data.root() + "/files.txt";
    fs::create_directories(scenario.server.pathOf("site"));
    ASSERT_TRUE(scenario.connect());
    FullCompare compare(scenario.client, scenario.project, scenario.tree.root(), "/site", scenario.sink);
    compare.Find();
    compare.Start(FullCompare::Deletion::DeleteServerOnlyFiles, FullCompare::Resend::ChangedOnly);

    EXPECT_EQ(
        listFiles(scenario.server.root()), (std::vector<std::string> { "site/a.html", "site/fresh/deep/page.html" }))
        << scenario.server.log();
    EXPECT_EQ(listFiles(data.root()), std::vector<std::string> {});
}

// vsftpd hides dot-files from LIST, so this tree has none.
TEST(FullCompare, BringsAVsftpdTreeInLine)
{
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Vsftpd));
    TestTree tree;
    tree.add("index.html", "hello");
    tree.add("a/b/deep.html", "deep");
    FtpServer server(FtpServer::Kind::Vsftpd);
    writeServerFile(server, "index.html", "HELLO!");
    writeServerFile(server, "x/y/z.html", "z");
    writeServerFile(server, "a/stale.html", "s");
    ASSERT_TRUE(server.start()) << server.error();
    // The daemon works as its own user, who must be able to change what this test wrote.
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(server.root()))
        fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add);
    MachineOptions options;
    FtpClient client(options);
    ASSERT_TRUE(client.connect(server.url(), server.user(), server.password()));
    std::string start = client.currentDirectory();
    ProjectSettings project;
    MessageSink sink;
    FullCompare compare(client, project, tree.root(), start, sink);
    compare.Find();
    EXPECT_EQ(compare.countsLine("%d/%d/%d"), "2/2/0");
    // What Start does is the plan it shows: server-only files go only when asked.
    const auto steps = [&compare](FullCompare::Deletion deletion) {
        std::vector<std::string> lines;
        for (const FullCompare::Step& step : compare.plan(deletion, FullCompare::Resend::ChangedOnly))
            lines.push_back((step.kind == FullCompare::Step::Kind::Send ? "send " : "delete ") + step.serverPath);
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    const auto at = [&start](const char* path) { return FullCompare::joinRemote(start, path); };
    EXPECT_EQ(steps(FullCompare::Deletion::DeleteServerOnlyFiles),
        (std::vector<std::string> { "delete " + at("a/stale.html"), "delete " + at("x/y/z.html"),
            "send " + at("a/b/deep.html"), "send " + at("index.html") }));
    EXPECT_EQ(steps(FullCompare::Deletion::KeepServerOnlyFiles),
        (std::vector<std::string> { "send " + at("a/b/deep.html"), "send " + at("index.html") }));
    compare.Start(FullCompare::Deletion::DeleteServerOnlyFiles, FullCompare::Resend::ChangedOnly);
    EXPECT_EQ(compareTrees(tree.root(), server.root()), std::vector<std::string> {}) << server.log();
    EXPECT_FALSE(fs::exists(server.pathOf("x")));
}

TEST(FullCompare, BringsAnSftpTreeInLine)
{
    SKIP_UNLESS_SERVER_RUNS(SshServer::unavailableReason());
    TestTree tree;
    tree.add("index.html", "hello");
    tree.add("Über uns/deep.html", "deep");
    SshServer server;
    ASSERT_TRUE(server.start()) << server.error();
    server.putFile("index.html", "HELLO!");
    server.putFile("x/y/z.html", "z");
    server.putFile("Über uns/stale.html", "s");
    SftpSession client;
    client.setTrustedCertificatesPath(tree.base() + "/trusted-certs.txt");
    ASSERT_TRUE(TrustedCertificates(tree.base() + "/trusted-host-keys.txt")
                    .trust(server.hostAndPort(), server.hostKeyFingerprint()));
    client.setKeyFile(server.keyFile());
    ASSERT_TRUE(client.connect("sftp://" + server.hostAndPort(), server.user(), ""));
    ProjectSettings project;
    MessageSink sink;
    FullCompare compare(client, project, tree.root(), client.currentDirectory(), sink);
    compare.Find();
    EXPECT_EQ(compare.countsLine("%d/%d/%d"), "2/2/0");
    compare.Start(FullCompare::Deletion::DeleteServerOnlyFiles, FullCompare::Resend::ChangedOnly);
    EXPECT_EQ(compareTrees(tree.root(), server.root()), std::vector<std::string> {}) << server.log();
    EXPECT_FALSE(fs::exists(server.pathOf("x")));
}

TEST(FullCompare, CountsLineFillsOnlyItsOwnFields)
{
    MachineOptions options;
    FtpClient client(options);
    ProjectSettings project;
    MessageSink sink;
    FullCompare compare(client, project, "/nonexistent", "/", sink);
    struct Row {
        const char* format;
        const char* line;
    };
    for (const Row& row :
        { Row { "%d Löschen, %d Geändert, %d gleiche Größe", "0 Löschen, 0 Geändert, 0 gleiche Größe" },
            Row { "%s %n %d%%", "%s %n 0%%" }, Row { "%d %d %d %d", "0 0 0 %d" }, Row { "%", "%" } })
        EXPECT_EQ(compare.countsLine(row.format), row.line) << row.format;
}

TEST(FullCompare, ProtectsDotFilesExceptTheFolderInfo)
{
    struct Row {
        const char* path;
        bool isProtected;
    };
    for (const Row& row : { Row { "/.htaccess", true }, Row { "/a/.hidden", true }, Row { "/.fp_folder_info", false },
             Row { "/a/.fp_folder_info", false }, Row { "/a.b", false }, Row { ".x", true }, Row { "ab", false },
             Row { "/a/", false } })
        EXPECT_EQ(FullCompare::isProtectedServerFile(row.path), row.isProtected) << row.path;
}

TEST(FullCompare, KnowsUploadLeftoversAndTheirLiveNames)
{
    struct Row {
        const char* path;
        bool leftover;
        bool replaced;
        const char* live;
    };
    for (const Row& row : { Row { "/a/.x.html.tarnwick-part", true, false, "/a/x.html" },
             Row { ".x.tarnwick-old", true, true, "x" }, Row { "/..htaccess.tarnwick-part", true, false, "/.htaccess" },
             Row { "/a/x.html.tarnwick-part", false, false, "" }, Row { "/a/..tarnwick-part", false, false, "" },
             Row { "/a/.tarnwick-old", false, false, "" }, Row { "/.x.tarnwick-old/y", false, false, "" },
             Row { "/.x.tarnwick-partial", false, false, "" } }) {
        EXPECT_EQ(isUploadLeftover(row.path), row.leftover) << row.path;
        EXPECT_EQ(isReplacedFileLeftover(row.path), row.replaced) << row.path;
        EXPECT_EQ(leftoverLiveName(row.path), row.live) << row.path;
    }
    for (const char* live : { "x.html", "/a b/c.html", ".htaccess" }) {
        EXPECT_EQ(leftoverLiveName(uploadPartName(live)), live);
        EXPECT_EQ(leftoverLiveName(uploadOldName(live)), live);
    }
}

TEST(RemoteDirCache, SplitsPathsAtTheLastSlash)
{
    struct Row {
        const char* path;
        const char* directory;
        const char* name;
    };
    for (const Row& row : { Row { "/a/b.html", "/a", "b.html" }, Row { "/b.html", "/", "b.html" },
             Row { "b.html", "/", "b.html" }, Row { "/a/b/", "/a/b", "" } }) {
        std::string directory;
        std::string name;
        RemoteDirCache::splitPath(row.path, directory, name);
        EXPECT_EQ(directory, row.directory) << row.path;
        EXPECT_EQ(name, row.name) << row.path;
    }
}

TEST(RemoteDirCache, ServesListingsFromMemoryAndForgetsRemovedEntries)
{
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
    FtpServer server;
    writeServerFile(server, "d/One.html", "12345");
    writeServerFile(server, "d/two.html", "x");
    ASSERT_TRUE(server.start()) << server.error();
    MachineOptions options;
    FtpClient client(options);
    ASSERT_TRUE(client.connect(server.url(), server.user(), server.password()));
    RemoteDirCache cache(client);

    EXPECT_EQ(cache.lookup("/d/One.html").size, 5);
    EXPECT_EQ(cache.lookup("/d/one.html").name, ""); // names match with case
    fs::remove(server.pathOf("d/two.html"));
    EXPECT_EQ(cache.listing("/d").size(), 2u); // not asked again
    cache.remove("/d/two.html");
    EXPECT_EQ(cache.lookup("/d/two.html").name, "");
    EXPECT_EQ(cache.listing("/d").size(), 1u);
}

} // namespace
