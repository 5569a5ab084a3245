// The upload run against real FTP servers on loopback: what arrives on the server's disk,
// what the file list records, and what survives a dying server or a cancel.

#include "engine/dry_run.h"
#include "engine/site_run.h"
#include "engine/web_project.h"
#include "ftp/ftp_client.h"
#include "platform/archive_mark_store.h"
#include "platform/file_utils.h"
#include "report/report_html.h"
#include "report/report_templates.h"
#include "session/trusted_certificates.h"
#include "support/fake_ftp_server.h"
#include "support/ftp_server.h"
#include "support/required_server.h"
#include "support/run_project.h"
#include "support/ssh_server.h"
#include "support/test_tree.h"
#include "support/upload_site.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <utime.h>

namespace fs = std::filesystem;

namespace {

bool startServer(FtpServer& server)
{
    EXPECT_TRUE(server.start()) << server.error();
    return server.isRunning();
}

std::string skipReason(FtpServer::Kind kind)
{
    return FtpServer::unavailableReason(kind);
}

// What cp -p keeps of `from` on `to`: its modification time, to the nanosecond.
void copyTimes(const std::string& from, const std::string& to)
{
    struct stat info { };
    ASSERT_EQ(::stat(from.c_str(), &info), 0);
    const struct timespec times[2] { info.st_atim, info.st_mtim };
    ASSERT_EQ(::utimensat(AT_FDCWD, to.c_str(), times, 0), 0);
}

// The first run uploads a generated site byte for byte; a run with nothing changed does not
// connect; edits, additions and deletions go up or away, and nothing else does.
class UploadRunServers : public testing::TestWithParam<FtpServer::Kind> { };

TEST_P(UploadRunServers, KeepsTheServerInStepWithTheLocalTree)
{
    SKIP_UNLESS_SERVER_RUNS(skipReason(GetParam()));
    FtpServer server(GetParam());
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    site.project.deleteRemoved = 1;
    std::vector<std::string> files = generateSite(site.tree, 200);

    site.run();
    EXPECT_EQ(site.sink.uploads.size(), 200u);
    EXPECT_EQ(site.sink.count("OK "), 200u);
    EXPECT_EQ(site.sink.count("Error "), 0u);
    EXPECT_EQ(compareTrees(site.tree.root(), server.root()), std::vector<std::string>()) << server.log();
    EXPECT_EQ(site.fileList().size(), 200u);
    EXPECT_EQ(site.project.unreachableSites, 0);

    // Nothing changed: with the server gone a connection attempt would fail every file.
    ::unlink((site.tree.base() + "/up_1.txt").c_str());
    server.stop();
    site.run();
    EXPECT_TRUE(site.sink.uploads.empty());
    EXPECT_TRUE(site.sink.results.empty());
    EXPECT_FALSE(fs::exists(site.tree.base() + "/up_1.txt"));
    EXPECT_EQ(site.fileList().size(), 200u);
    ASSERT_TRUE(server.restart()) << server.error();

    site.tree.add(files[5], "edited page", TestTree::kDefaultTime + 100000);
    site.tree.add("section1/new page.html", "added", TestTree::kDefaultTime + 5);
    site.tree.add("brand-new/folder/x.css", "body{}", TestTree::kDefaultTime + 6);
    ASSERT_TRUE(fs::remove(site.tree.path(files[10])));
    ASSERT_TRUE(fs::remove(site.tree.path(files[11])));
    site.run();
    std::vector<std::string> uploaded = site.sink.uploads;
    std::sort(uploaded.begin(), uploaded.end());
    std::vector<std::string> expected = { site.tree.path("brand-new/folder/x.css"), site.tree.path(files[5]),
        site.tree.path("section1/new page.html") };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(uploaded, expected);
    EXPECT_EQ(compareTrees(site.tree.root(), server.root()), std::vector<std::string>()) << server.log();
    EXPECT_EQ(site.fileList().size(), 200u);
    EXPECT_NE(site.transcript(1).find("section1/new page.html"), std::string::npos);
    EXPECT_TRUE(site.transcript(1).ends_with("quit\n"));

    // A folder removed locally goes from the server with its files, folders inside it too.
    fs::remove_all(site.tree.path("brand-new"));
    site.run();
    EXPECT_EQ(site.sink.count("Error "), 0u) << testing::PrintToString(site.sink.lines);
    EXPECT_FALSE(fs::exists(server.pathOf("brand-new"))) << server.log();
    EXPECT_TRUE(fs::exists(server.pathOf("section1")));
}

// A first run into a start directory that does not exist yet, with folders whose names hold
// a blank and a comma: every file arrives at the first try or after its folder is made, and
// none counts as failed; no stray folder is made from half a name.
TEST_P(UploadRunServers, FirstRunIntoAMissingStartDirectoryAndOddFolderNames)
{
    if (std::string reason = skipReason(GetParam()); !reason.empty())
        GTEST_SKIP() << reason;
    FtpServer server(GetParam());
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server, "www/new");
    site.tree.add("index.html", "home");
    site.tree.add("two words/a.html", "a");
    site.tree.add("two words/deeper/b.html", "b");
    site.tree.add("a,b/c.html", "c");
    site.run();
    EXPECT_EQ(site.sink.count("Error "), 0u) << testing::PrintToString(site.sink.lines);
    EXPECT_EQ(site.sink.count("OK "), 4u);
    EXPECT_EQ(compareTrees(site.tree.root(), server.pathOf("www/new")), std::vector<std::string>());
    EXPECT_EQ(listFiles(server.root()),
        (std::vector<std::string> { "www/new/a,b/c.html", "www/new/index.html", "www/new/two words/a.html",
            "www/new/two words/deeper/b.html" }));
    for (const char* stray : { "www/new/two", "www/new/a", "www/new/words" })
        EXPECT_FALSE(fs::exists(server.pathOf(stray))) << stray;
    EXPECT_EQ(site.fileList().size(), 4u);
}

// A replaced file goes up under its part name and is renamed into place, leaving nothing
// beside it; a site with atomic=0 gets plain STOR onto the live name.
TEST_P(UploadRunServers, ReplacesFilesThroughAPartUnlessTheSiteTurnsItOff)
{
    SKIP_UNLESS_SERVER_RUNS(skipReason(GetParam()));
    FtpServer server(GetParam());
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server, "www");
    site.tree.add("index.html", "first");
    site.tree.add("sub/page.html", "page");
    site.run();
    ASSERT_EQ(site.sink.count("OK "), 2u) << testing::PrintToString(site.sink.lines);

    const auto sent = [&site](const std::string& prefix) {
        return std::count_if(site.sink.lines.begin(), site.sink.lines.end(),
            [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    };
    const auto replace = [&site](const std::string& content, int64_t time) {
        site.tree.add("index.html", content, time);
        site.tree.add("sub/page.html", content + " page", time);
        site.run();
    };
    replace("second, longer than the first", TestTree::kDefaultTime + 1000);
    EXPECT_EQ(site.sink.count("OK "), 2u) << testing::PrintToString(site.sink.lines);
    EXPECT_EQ(sent("STOR /www/.index.html.tarnwick-part"), 1);
    EXPECT_EQ(sent("RNTO /www/sub/page.html"), 1);
    EXPECT_EQ(compareTrees(site.tree.root(), server.pathOf("www")), std::vector<std::string>()) << server.log();

    site.project.sites.front().atomic = false;
    replace("third", TestTree::kDefaultTime + 2000);
    EXPECT_EQ(site.sink.count("OK "), 2u) << testing::PrintToString(site.sink.lines);
    EXPECT_EQ(sent("STOR /www/index.html"), 1);
    EXPECT_EQ(sent("RNFR"), 0);
    EXPECT_EQ(compareTrees(site.tree.root(), server.pathOf("www")), std::vector<std::string>()) << server.log();
}

// After a run over several connections, the server copies carry the local times where the
// server can set them (pyftpdlib, proftpd); vsftpd cannot, and the run goes on without.
TEST_P(UploadRunServers, ServerTimesFollowTheLocalFiles)
{
    SKIP_UNLESS_SERVER_RUNS(skipReason(GetParam()));
    FtpServer server(GetParam());
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server, "www");
    const std::vector<std::string> files = generateSite(site.tree, 40);
    for (size_t index = 0; index < files.size(); ++index)
        site.tree.setTime(files[index], TestTree::kDefaultTime + static_cast<int64_t>(index) * 3600);
    site.run();
    ASSERT_EQ(site.sink.count("OK "), files.size()) << testing::PrintToString(site.sink.lines);
    const bool settable = GetParam() != FtpServer::Kind::Vsftpd;
    for (size_t index = 0; index < files.size(); ++index) {
        struct stat status { };
        ASSERT_EQ(stat(server.pathOf("www/" + files[index]).c_str(), &status), 0) << files[index];
        const int64_t local = TestTree::kDefaultTime + static_cast<int64_t>(index) * 3600;
        if (settable) {
            EXPECT_EQ(status.st_mtime, local) << files[index];
        } else {
            EXPECT_NE(status.st_mtime, local) << files[index];
        }
    }
}

// Each extra connection must be worth its login: a handful of files goes over fewer.
TEST(UploadRunConnections, FewFilesOpenOnlyTheConnectionsTheyCanUse)
{
    const struct {
        int limit;
        size_t files;
        int connections;
    } rows[] = { { 4, 1, 1 }, { 4, 2, 1 }, { 4, 3, 2 }, { 4, 6, 3 }, { 4, 9, 4 }, { 4, 1000, 4 }, { 2, 1000, 2 },
        { 0, 10, 1 }, { 8, 10, 4 } };
    for (const auto& row : rows)
        EXPECT_EQ(connectionsWorthOpening(row.limit, row.files), row.connections) << row.limit << " " << row.files;
}

INSTANTIATE_TEST_SUITE_P(Servers, UploadRunServers,
    testing::Values(FtpServer::Kind::Pyftpdlib, FtpServer::Kind::Vsftpd, FtpServer::Kind::Proftpd),
    [](const testing::TestParamInfo<FtpServer::Kind>& info) { return FtpServer::nameOf(info.param); });

// Many files over several connections, also to a server that takes only two per address:
// everything arrives whole, each file's lines stay together in the log, replaced and deleted
// files reach the archive, and a stop records only what arrived.
struct ParallelCase {
    FtpServer::Kind kind;
    int perAddress;
};

class UploadRunParallel : public testing::TestWithParam<ParallelCase> { };

TEST_P(UploadRunParallel, ManyFilesArriveWholeInBlocksAndAStopKeepsWhatArrived)
{
    SKIP_UNLESS_SERVER_RUNS(skipReason(GetParam().kind));
    FtpServer::Setup setup;
    setup.connectionsPerAddress = GetParam().perAddress;
    FtpServer server(GetParam().kind, setup);
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server, "www");
    site.project.deleteRemoved = 1;
    site.project.archivdir = "/archive";
    site.project.archmax = 1000;
    const std::vector<std::string> files = generateSite(site.tree, 1000);
    site.run();
    EXPECT_EQ(site.sink.count("Error "), 0u) << server.log();
    EXPECT_EQ(site.sink.count("OK "), 1000u);
    EXPECT_EQ(site.sink.uploads.size(), 1000u);
    EXPECT_EQ(compareTrees(site.tree.root(), server.pathOf("www")), std::vector<std::string>());
    EXPECT_EQ(site.fileList().size(), 1000u);
    const bool warned = std::any_of(site.sink.lines.begin(), site.sink.lines.end(),
        [](const std::string& line) { return line.find("took 2 of 4 connections") != std::string::npos; });
    EXPECT_EQ(warned, GetParam().perAddress == 2);

    // Every STOR belongs to the put that opened its block.
    std::string block;
    size_t stores = 0;
    for (const std::string& line : site.sink.lines) {
        if (line.rfind("--------------- put ", 0) == 0) {
            const size_t serverPath = line.rfind(" \"");
            block = line.substr(serverPath + 2, line.size() - serverPath - 4);
        } else if (line.rfind("STOR ", 0) == 0) {
            ++stores;
            const std::string name = block.substr(block.rfind('/') + 1);
            EXPECT_NE(line.find(name), std::string::npos) << line << " in the block of " << block;
        }
    }
    EXPECT_GE(stores, 1000u);
    // The subfolders were made by this run: nothing in them to protect or archive, no rename.
    EXPECT_EQ(std::count_if(site.sink.lines.begin(), site.sink.lines.end(),
                  [](const std::string& line) {
                      return line.rfind("RNFR ", 0) == 0 && std::count(line.begin(), line.end(), '/') > 2;
                  }),
        0);

    // Replacements and deletions: each previous version goes to the archive once.
    for (int index = 0; index < 50; ++index)
        site.tree.add(
            files[static_cast<size_t>(index * 7)], "new " + std::to_string(index), TestTree::kDefaultTime + 5000);
    for (int index = 0; index < 20; ++index)
        ASSERT_TRUE(fs::remove(site.tree.path(files[static_cast<size_t>(index * 7 + 3)])));
    site.run();
    EXPECT_EQ(site.sink.count("Error "), 0u) << server.log();
    EXPECT_EQ(compareTrees(site.tree.root(), server.pathOf("www")), std::vector<std::string>());
    EXPECT_EQ(listFiles(server.pathOf("archive")).size(), 70u);
    EXPECT_EQ(site.fileList().size(), 980u);

    // A stop while the connections are busy: what the server confirmed is recorded, and the
    // next run sends exactly the rest.
    for (const std::string& file : listFiles(site.tree.root()))
        site.tree.setTime(file, TestTree::kDefaultTime + 9000);
    site.project.archivdir.clear();
    site.sink.afterUploadBegins = [&](size_t count) {
        if (count == 300)
            site.project.requestCancel();
    };
    site.run();
    site.sink.afterUploadBegins = nullptr;
    const size_t arrived = site.sink.count("OK ");
    EXPECT_GE(arrived, 300u);
    EXPECT_LT(arrived, 980u);
    EXPECT_EQ(site.sink.count("Error "), 0u);
    site.run();
    EXPECT_EQ(site.sink.uploads.size(), 980u - arrived);
    EXPECT_EQ(site.sink.count("Error "), 0u) << testing::PrintToString(site.sink.lines);
    EXPECT_EQ(compareTrees(site.tree.root(), server.pathOf("www")), std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(Servers, UploadRunParallel,
    testing::Values(ParallelCase { FtpServer::Kind::Pyftpdlib, 0 }, ParallelCase { FtpServer::Kind::Pyftpdlib, 2 },
        ParallelCase { FtpServer::Kind::Vsftpd, 0 }, ParallelCase { FtpServer::Kind::Vsftpd, 2 }),
    [](const testing::TestParamInfo<ParallelCase>& info) {
        return std::string(FtpServer::nameOf(info.param.kind)) + (info.param.perAddress > 0 ? "TwoPerAddress" : "");
    });

// Over TLS the extra connections resume the session of the run's own (the handshake itself
// is tested with the client): the run's own keeps a ticket for its data connections, so no
// connection logs in again for want of tickets, and every file arrives.
TEST(UploadRunParallelTls, MoreConnectionsOverTlsSendEverythingWithoutFreshLogins)
{
    for (FtpServer::Kind kind : { FtpServer::Kind::Vsftpd, FtpServer::Kind::Pyftpdlib }) {
        SCOPED_TRACE(FtpServer::nameOf(kind));
        if (!skipReason(kind).empty())
            continue;
        Project site;
        ASSERT_TRUE(FtpServer::makeCertificate(site.tree.base(), "server.pem", "localhost"));
        chmod(site.tree.base().c_str(), 0755);
        FtpServer server(
            kind, FtpServer::Setup { "127.0.0.1", FtpServer::Tls::Explicit, site.tree.base() + "/server.pem" });
        ASSERT_TRUE(startServer(server));
        {
            MachineOptions options;
            FtpClient probe(options);
            EXPECT_FALSE(probe.connect(server.url(), server.user(), server.password()));
            // The run reads trusted fingerprints from the project's data directory.
            ASSERT_TRUE(TrustedCertificates(site.project.dataDirectory + "trusted-certs.txt")
                            .trust(server.hostAndPort(), probe.serverCertificate().fingerprint));
        }
        site.addSite(server, "www");
        generateSite(site.tree, 120);
        site.run();
        EXPECT_EQ(site.sink.count("Error "), 0u) << server.log();
        EXPECT_EQ(site.sink.count("OK "), 120u);
        EXPECT_EQ(compareTrees(site.tree.root(), server.pathOf("www")), std::vector<std::string>());
        const auto logged = [&](const std::string& text) {
            return std::count_if(site.sink.lines.begin(), site.sink.lines.end(),
                [&](const std::string& line) { return line.find(text) != std::string::npos; });
        };
        EXPECT_EQ(logged("TLS TLSv1."), 1) << "the run's own connection; the others log their blocks only";
        EXPECT_EQ(logged("TLS session tickets used up"), 0);
    }
}

// What one small file costs on the wire, command by command, in a project with an archive.
// SIZE and MFMT ride in the STOR's write; pyftpdlib answers them before the transfer ends,
// so the connection's first file asks them again behind the 226 (and later ones only there).
// a folder holding recorded files gets no MKD, a file the list does not know gets no archive
// move, and only a replaced file pays for moving its previous version; a file in a folder the
// run has just made has nothing live to protect and goes straight to its name.
TEST(UploadRunCommands, OneSmallFileSendsOnlyWhatItNeeds)
{
    FtpServer server;
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    site.project.archivdir = "/_archiv_";
    site.tree.add("sub/page.html", "p1");
    site.run();
    ASSERT_EQ(site.sink.count("OK "), 1u);

    struct Row {
        const char* name;
        const char* file;
        std::vector<std::string> commands; // after the put line, {ARCHIVE} for the archive name
    };
    const std::string part = "/sub/.page.html.tarnwick-part";
    const std::string newPart = "/sub/.new.html.tarnwick-part";
    const Row rows[] = {
        { "a replaced file: its old version goes to the archive just before the part replaces it", "sub/page.html",
            { "EPSV", "STOR " + part, "SIZE " + part, "MFMT {TIME} " + part, "SIZE " + part, "MFMT {TIME} " + part,
                "RNFR /sub/page.html", "RNTO {ARCHIVE}", "RNFR " + part, "RNTO /sub/page.html" } },
        { "a new file in a known folder: no MKD, no archive move", "sub/new.html",
            { "EPSV", "STOR " + newPart, "SIZE " + newPart, "MFMT {TIME} " + newPart, "SIZE " + newPart,
                "MFMT {TIME} " + newPart, "RNFR " + newPart, "RNTO /sub/new.html" } },
        { "a file in a folder made just now: no part, no rename", "made/new.html",
            { "EPSV", "STOR /made/new.html", "SIZE /made/new.html", "MFMT {TIME} /made/new.html", "SIZE /made/new.html",
                "MFMT {TIME} /made/new.html", "EPSV", "MLSD /_archiv_", "bye" } },
    };
    int64_t time = TestTree::kDefaultTime;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        site.tree.add(row.file, std::string("content of ") + row.file, time += 100);
        site.run();
        ASSERT_EQ(site.sink.count("OK "), 1u) << testing::PrintToString(site.sink.lines);
        // From the put line to the rename onto the live name.
        std::vector<std::string> sent;
        bool inPut = false;
        for (const std::string& line : site.sink.lines) {
            if (line.rfind("--------------- put ", 0) == 0)
                inPut = true;
            else if (inPut && line.ends_with("\r\n") && line.rfind("TYPE", 0) != 0)
                sent.push_back(
                    std::regex_replace(std::regex_replace(line.substr(0, line.size() - 2),
                                           std::regex("^RNTO /_archiv_/_sub_page\\d{12}\\.html$"), "RNTO {ARCHIVE}"),
                        std::regex("^MFMT \\d{14} "), "MFMT {TIME} "));
            if (inPut && (line == "RNTO /" + std::string(row.file) + "\r\n" || line == "bye\r\n"))
                break;
        }
        EXPECT_EQ(sent, row.commands);
        EXPECT_EQ(std::count_if(site.sink.lines.begin(), site.sink.lines.end(),
                      [](const std::string& line) { return line.rfind("MKD /sub", 0) == 0; }),
            0);
    }
}

// The site's cap holds for all its connections together: 20 MiB at 4 MiB/s over four
// connections cannot arrive in much under five seconds. The upper bound only keeps a stalled
// run from passing.
TEST(UploadRunRateCap, ConnectionsShareTheSiteCap)
{
    FtpServer server;
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    site.project.sites[0].connections = 4;
    site.project.sites[0].uploadRateLimit = 4 << 20;
    for (int i = 0; i < 20; ++i)
        site.tree.add("media/clip" + std::to_string(i) + ".bin", std::string(1 << 20, static_cast<char>('a' + i)));
    const auto started = std::chrono::steady_clock::now();
    site.run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(site.sink.count("OK "), 20u);
    EXPECT_EQ(site.sink.bytes.load(), 20 << 20);
    EXPECT_GE(seconds, 4.5);
    EXPECT_LE(seconds, 6.0);
    EXPECT_EQ(compareTrees(site.tree.root(), server.root()), std::vector<std::string>());
}

TEST(UploadRun, ArchivesReplacedAndDeletedFilesAndPrunesTheArchive)
{
    FtpServer server;
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    site.project.archivdir = "/_archiv_";
    site.project.archmax = 4;
    site.project.deleteRemoved = 1;
    site.tree.add("index.html", "v1");
    site.tree.add("sub/page.html", "p1");
    site.tree.add("sub/gone.html", "g1");
    site.tree.add("README", "r1");
    site.run();
    ASSERT_EQ(site.sink.count("OK "), 4u);

    // Old archived versions from earlier years: the oldest must go first.
    for (int year = 0; year < 4; ++year) {
        std::string old = server.pathOf("_archiv_/old" + std::to_string(year) + ".html");
        std::ofstream(old) << "old";
        utimbuf times { 1'500'000'000 + year * 40'000'000, 1'500'000'000 + year * 40'000'000 };
        ASSERT_EQ(::utime(old.c_str(), &times), 0);
    }
    site.tree.add("index.html", "v2", TestTree::kDefaultTime + 50);
    site.tree.add("sub/page.html", "p2", TestTree::kDefaultTime + 50);
    site.tree.add("README", "r2", TestTree::kDefaultTime + 50);
    ASSERT_TRUE(fs::remove(site.tree.path("sub/gone.html")));
    site.run();

    // The old version goes into the archive only once the new one is whole on the server,
    // so the live name is never empty while it travels.
    const auto at = [&site](const std::string& prefix) {
        return std::find_if(site.sink.lines.begin(), site.sink.lines.end(), [&](const std::string& line) {
            return line.rfind(prefix, 0) == 0;
        }) - site.sink.lines.begin();
    };
    EXPECT_LT(at("STOR /.index.html.tarnwick-part"), at("RNFR /index.html"));
    EXPECT_LT(at("RNFR /index.html"), at("RNFR /.index.html.tarnwick-part"));
    EXPECT_EQ(readText(server.pathOf("index.html")), "v2");
    EXPECT_EQ(readText(server.pathOf("sub/page.html")), "p2");
    EXPECT_FALSE(fs::exists(server.pathOf("sub/gone.html")));
    std::vector<std::string> archive = listFiles(server.pathOf("_archiv_"));
    // Four new archive entries (three replaced, one deleted) and two of the old ones beat
    // archmax 4: the four newest stay, and those are the ones this run made.
    ASSERT_EQ(archive.size(), 4u) << testing::PrintToString(archive);
    const std::regex stamped("(index|_sub_page|_sub_gone)[0-9]{12}\\.html|README[0-9]{12}");
    for (const std::string& name : archive)
        EXPECT_TRUE(std::regex_match(name, stamped)) << name;
    for (const std::string& name : archive) {
        std::string text = readText(server.pathOf("_archiv_/" + name));
        EXPECT_TRUE(text == "v1" || text == "p1" || text == "g1" || text == "r1") << name << ": " << text;
    }
}

TEST(UploadRun, UploadsTheReportListingTheRun)
{
    FtpServer server;
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    site.project.htmlreport = "/report.html";
    site.tree.add("index.html", "home");
    site.tree.add("news/today.html", "news");
    site.run();
    std::string report = readText(server.pathOf("report.html"));
    EXPECT_NE(report.find("today.html"), std::string::npos) << report;
    EXPECT_NE(report.find("index.html"), std::string::npos) << report;
    EXPECT_EQ(compareTrees(site.tree.root(), server.root(), { "report.html" }), std::vector<std::string>());
}

TEST(UploadRun, ServesTwoSitesWithTheirOwnStartDirectoriesAndTranscripts)
{
    FtpServer first;
    FtpServer second;
    ASSERT_TRUE(startServer(first));
    ASSERT_TRUE(startServer(second));
    fs::create_directories(first.pathOf("www"));
    fs::create_directories(second.pathOf("pub/site"));
    Project site;
    site.addSite(first, "www");
    site.addSite(second, "pub/site");
    generateSite(site.tree, 30, 7);
    site.run();
    EXPECT_EQ(site.sink.count("OK "), 30u);
    EXPECT_EQ(compareTrees(site.tree.root(), first.pathOf("www")), std::vector<std::string>()) << first.log();
    EXPECT_EQ(compareTrees(site.tree.root(), second.pathOf("pub/site")), std::vector<std::string>()) << second.log();
    // Both transcripts show the lines as queued, before the start directory went in.
    EXPECT_EQ(site.transcript(1), site.transcript(2));
    EXPECT_EQ(site.transcript(1).find("/www"), std::string::npos);
    EXPECT_TRUE(site.transcript(2).ends_with("quit\n"));
    ASSERT_EQ(site.project.siteOutcomes.size(), 2u);
    EXPECT_EQ(site.project.siteOutcomes[1].uploaded, 30);

    // The second site gone: what each site confirmed is counted on its own.
    second.stop();
    site.tree.add("late.html", "late");
    site.run();
    ASSERT_EQ(site.project.siteOutcomes.size(), 2u);
    EXPECT_EQ(site.project.siteOutcomes[0].uploaded, 1);
    EXPECT_EQ(site.project.siteOutcomes[0].failed, 0);
    EXPECT_EQ(site.project.siteOutcomes[1].uploaded, 0);
    EXPECT_EQ(site.project.siteOutcomes[1].failed, 1);
}

TEST(UploadRun, ASiteThatCannotBeReachedFailsEveryFileAndRecordsNothing)
{
    FtpServer server;
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    site.project.sites[0].pass = "wrong";
    site.tree.add("a.html", "a");
    site.tree.add("b/c.html", "c");
    site.project.htmlreport = "/report.html";
    site.run();
    EXPECT_EQ(site.project.unreachableSites, 1);
    EXPECT_EQ(site.sink.count("Error "), 2u);
    EXPECT_TRUE(site.fileList().empty());
    EXPECT_EQ(site.transcript(1), "quit\n");
    EXPECT_TRUE(listFiles(server.root()).empty());
}

// The server dies a third of the way into a 1,000-file run: the run ends, every file is
// settled, the file list names only files that arrived whole, and the next run sends
// exactly the rest.
TEST(UploadRunFaults, ServerKilledMidRunLosesNothing)
{
    FtpServer server;
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    site.project.clientBudgetMilliseconds = 5000;
    generateSite(site.tree, 1000, 3);
    site.sink.afterUploadBegins = [&](size_t count) {
        if (count == 330)
            server.kill();
    };
    site.run();
    site.sink.afterUploadBegins = nullptr;
    EXPECT_EQ(site.sink.results.size(), 1000u);
    EXPECT_GT(site.sink.count("Error "), 0u);
    std::map<std::string, int64_t> recorded = site.fileList();
    EXPECT_GE(recorded.size(), 300u);
    EXPECT_LT(recorded.size(), 1000u);
    for (const auto& [path, time] : recorded) {
        std::string relative = path.substr(site.tree.root().size() + 1);
        ASSERT_EQ(readText(server.pathOf(relative)), readText(path)) << relative;
    }

    ASSERT_TRUE(server.restart()) << server.error();
    site.run();
    EXPECT_EQ(site.sink.uploads.size(), 1000u - recorded.size());
    EXPECT_EQ(site.sink.count("Error "), 0u);
    EXPECT_EQ(compareTrees(site.tree.root(), server.root()), std::vector<std::string>()) << server.log();
    EXPECT_EQ(site.fileList().size(), 1000u);
}

// A stop (Ctrl-C, the Stop button) in the middle of a transfer ends the run at once and
// records what arrived; a run killed outright leaves the same in its journal. Either way
// the next run sends only the rest.
TEST(UploadRunFaults, StoppedOrKilledRunsKeepWhatArrived)
{
    FtpServer server;
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    // One connection, so "the 20th file" is the one in flight; the parallel run's stop is
    // the subject of UploadRunParallel.
    site.project.sites.front().connections = 1;
    generateSite(site.tree, 60, 5);
    site.tree.add("first.html", "x");
    site.run();
    ASSERT_EQ(site.fileList().size(), 61u);
    const auto touchAll = [&](int64_t offset) {
        for (const std::string& file : listFiles(site.tree.root()))
            site.tree.setTime(file, TestTree::kDefaultTime + offset);
    };

    // Stopped while the 20th file is on its way.
    touchAll(9999);
    site.sink.afterUploadBegins = [&](size_t count) {
        if (count == 20)
            site.project.requestCancel();
    };
    site.run();
    site.sink.afterUploadBegins = nullptr;
    EXPECT_EQ(site.sink.uploads.size(), 20u);
    EXPECT_EQ(site.sink.count("Error "), 0u);
    const size_t arrived = site.sink.count("OK ");
    EXPECT_EQ(arrived, 19u);
    // The upload in flight left its part on the server, and the journal knows it.
    std::vector<std::string> parts;
    for (const std::string& file : listFiles(server.root()))
        if (file.ends_with(".tarnwick-part"))
            parts.push_back(file);
    ASSERT_EQ(parts.size(), 1u) << testing::PrintToString(listFiles(server.root()));
    EXPECT_TRUE(fs::exists(site.project.journalPath()));
    // Its file is gone before the next run: nothing will take the part over, so the run
    // removes it, without a listing.
    const size_t slash = parts[0].rfind('/') == std::string::npos ? 0 : parts[0].rfind('/') + 1;
    const std::string unfinished = parts[0].substr(0, slash)
        + parts[0].substr(slash + 1, parts[0].size() - slash - 1 - std::string(".tarnwick-part").size());
    ASSERT_TRUE(fs::remove(site.tree.path(unfinished))) << unfinished;
    site.project.deleteRemoved = 1;
    site.run();
    EXPECT_EQ(site.sink.uploads.size(), 60u - arrived);
    EXPECT_FALSE(fs::exists(server.pathOf(parts[0]))) << server.log();
    EXPECT_EQ(compareTrees(site.tree.root(), server.root()), std::vector<std::string>());
    EXPECT_FALSE(fs::exists(site.project.journalPath()));

    // Killed after the 30th file: the list is still the one from before, the journal holds
    // what was confirmed by then.
    touchAll(20000);
    const std::string listBefore = readText(site.project.filelist);
    std::string journalAtKill;
    site.sink.afterUploadBegins = [&](size_t count) {
        if (count == 31)
            journalAtKill = readText(site.project.journalPath());
    };
    site.run();
    site.sink.afterUploadBegins = nullptr;
    ASSERT_FALSE(journalAtKill.empty());
    ASSERT_TRUE(writeFileAtomically(site.project.filelist, listBefore));
    ASSERT_TRUE(writeFileAtomically(site.project.journalPath(), journalAtKill));
    site.run();
    EXPECT_EQ(site.sink.uploads.size(), 30u);
    EXPECT_EQ(site.sink.count("Error "), 0u);
    EXPECT_FALSE(fs::exists(site.project.journalPath()));
    EXPECT_EQ(site.fileList().size(), 60u);
    site.run();
    EXPECT_TRUE(site.sink.uploads.empty());
}

// Running as root, permissions do not stop reads: the file is swapped for something that
// cannot be sent after detection saw it.
TEST(UploadRunFaults, AnUnreadableFileFailsAloneAndIsRetried)
{
    struct Case {
        const char* name;
        std::function<void(const std::string&)> spoil;
    };
    const Case cases[] = {
        { "replaced by a folder",
            [](const std::string& path) {
                fs::remove(path);
                fs::create_directory(path);
            } },
        { "replaced by a dangling link",
            [](const std::string& path) {
                fs::remove(path);
                fs::create_symlink(path + ".nowhere", path);
            } },
    };
    for (const Case& spoiler : cases) {
        SCOPED_TRACE(spoiler.name);
        FtpServer server;
        ASSERT_TRUE(startServer(server));
        Project site;
        site.addSite(server);
        site.tree.add("ok1.html", "one");
        site.tree.add("sub/bad.html", "bad");
        site.tree.add("sub/ok2.html", "two");
        const std::string bad = site.tree.path("sub/bad.html");
        site.run([&] { spoiler.spoil(bad); });
        EXPECT_EQ(site.sink.count("OK "), 2u);
        ASSERT_EQ(site.sink.count("Error "), 1u);
        EXPECT_NE(
            std::find(site.sink.results.begin(), site.sink.results.end(), "Error " + bad), site.sink.results.end());
        EXPECT_EQ(readText(server.pathOf("sub/ok2.html")), "two");
        EXPECT_FALSE(site.fileList().contains(bad));

        fs::remove(bad);
        site.tree.add("sub/bad.html", "bad");
        site.run();
        EXPECT_EQ(site.sink.uploads, std::vector<std::string> { bad });
        EXPECT_EQ(readText(server.pathOf("sub/bad.html")), "bad");
    }
}

// Strategy 1: a file that went up has its archive mark cleared and is not sent again; one
// edited after detection keeps its mark and goes up next time.
// A site generator rebuilds everything: every file written again with a new time, five with
// new bytes (two of them keeping their size). Exactly those five go up and into the archive;
// the next run does not even connect; an old version put back with its old time (cp -p) goes
// up again.
TEST(UploadRunContent, ARebuiltSiteSendsOnlyWhatItsBytesChanged)
{
    FtpServer server;
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    site.project.strategy = ProjectSettings::kContentStrategy;
    site.project.archivdir = "/_archiv_";
    site.project.archmax = 50;
    const std::vector<std::string> files = generateSite(site.tree, 200);
    site.run();
    ASSERT_EQ(site.sink.count("OK "), 200u) << testing::PrintToString(site.sink.lines);

    // Non-empty files: the first two keep their size, the others grow.
    std::vector<std::string> edited;
    for (size_t index = 3; index < files.size() && edited.size() < 5; index += 37)
        if (!readText(site.tree.path(files[index])).empty())
            edited.push_back(files[index]);
    ASSERT_EQ(edited.size(), 5u);
    const std::string backup = site.tree.base() + "/backup";
    ASSERT_TRUE(fs::copy_file(site.tree.path(edited[0]), backup));
    copyTimes(site.tree.path(edited[0]), backup);
    for (size_t index = 0; index < files.size(); ++index) {
        std::string content = readText(site.tree.path(files[index]));
        const auto position = std::find(edited.begin(), edited.end(), files[index]);
        if (position - edited.begin() < 2)
            content.front() = static_cast<char>(content.front() ^ 0x20);
        else if (position != edited.end())
            content += " edited";
        site.tree.add(files[index], content, TestTree::kDefaultTime + 10'000'000 + static_cast<int64_t>(index));
    }
    site.run();
    std::vector<std::string> expected;
    for (const std::string& file : edited)
        expected.push_back(site.tree.path(file));
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> uploaded = site.sink.uploads;
    std::sort(uploaded.begin(), uploaded.end());
    EXPECT_EQ(uploaded, expected);
    EXPECT_EQ(site.sink.count("OK "), 5u);
    EXPECT_EQ(listFiles(server.pathOf("_archiv_")).size(), 5u);
    EXPECT_EQ(compareTrees(site.tree.root(), server.root(), { "_archiv_" }), std::vector<std::string>());

    // Nothing changed since: with the server gone a connection attempt would fail every file.
    server.stop();
    site.run();
    EXPECT_TRUE(site.sink.uploads.empty());
    EXPECT_TRUE(site.sink.results.empty());
    ASSERT_TRUE(server.restart()) << server.error();

    ASSERT_TRUE(fs::copy_file(backup, site.tree.path(edited[0]), fs::copy_options::overwrite_existing));
    copyTimes(backup, site.tree.path(edited[0]));
    site.run();
    EXPECT_EQ(site.sink.uploads, std::vector<std::string> { site.tree.path(edited[0]) });
    EXPECT_EQ(compareTrees(site.tree.root(), server.root(), { "_archiv_" }), std::vector<std::string>());
    EXPECT_EQ(listFiles(server.pathOf("_archiv_")).size(), 6u);
}

// A folder of large files moved locally: each is renamed on the server, its new folder made
// first, and none is sent again or archived; small files are simply sent. One whose old copy
// is no longer on the server is sent instead.
TEST(UploadRunContent, MovedFilesAreRenamedOnTheServerNotSentAgain)
{
    FtpServer server;
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    site.project.strategy = ProjectSettings::kContentStrategy;
    site.project.deleteRemoved = 1;
    site.project.archivdir = "/_archiv_";
    site.project.htmlreport = "/report.html";
    // 20 files of 1 MiB, and one more whose server copy goes missing.
    for (unsigned index = 0; index <= 20; ++index)
        site.tree.add("media/big" + std::to_string(index) + ".bin", patternBytes(1024 * 1024 + index, index + 1));
    site.tree.add("media/small.txt", "small");
    site.tree.add("index.html", "home");
    site.run();
    ASSERT_EQ(site.sink.count("OK "), 23u) << testing::PrintToString(site.sink.lines);

    fs::create_directories(site.tree.path("assets"));
    fs::rename(site.tree.path("media"), site.tree.path("assets/media"));
    ASSERT_TRUE(fs::remove(server.pathOf("media/big20.bin")));
    const RunPlan plan = planRun(site.project);
    ASSERT_EQ(plan.sites.size(), 1u);
    EXPECT_EQ(std::count_if(plan.sites[0].steps.begin(), plan.sites[0].steps.end(),
                  [](const PlannedStep& step) { return step.action == PlannedAction::Move; }),
        21);
    site.run();
    std::vector<std::string> uploaded = site.sink.uploads;
    std::sort(uploaded.begin(), uploaded.end());
    EXPECT_EQ(uploaded,
        (std::vector<std::string> { site.project.projectPath + ".html", site.tree.path("assets/media/big20.bin"),
            site.tree.path("assets/media/small.txt") }));
    EXPECT_EQ(site.sink.count("Error "), 0u) << testing::PrintToString(site.sink.lines);
    EXPECT_EQ(compareTrees(site.tree.root(), server.root(), { "_archiv_", "report.html" }), std::vector<std::string>());
    EXPECT_EQ(listFiles(server.pathOf("_archiv_")).size(), 1u) << "only small.txt, deleted, is archived";
    EXPECT_NE(site.transcript(1).find("mv \"/media/big0.bin\" \"/assets/media/big0.bin\""), std::string::npos)
        << site.transcript(1);
    // The report names each move once, under its new name, and the old names are no deletions.
    size_t moves = 0;
    size_t deletions = 0;
    for (const ReportRow& row : readReportRows(site.project.projectPath + ".report")) {
        moves += row.movedFrom.empty() ? 0 : 1;
        deletions += row.time == -1 ? 1 : 0;
    }
    EXPECT_EQ(moves, 20u);
    EXPECT_EQ(deletions, 2u) << "big20.bin, whose rename failed, and small.txt";
    EXPECT_NE(readText(site.project.projectPath + ".html").find("Moved from /media/big"), std::string::npos);
    site.run();
    EXPECT_TRUE(site.sink.results.empty());
}

// A file written again between the scan and its upload reaches the server as written then,
// not as its digest says. Were that digest recorded, putting the scanned bytes back would
// look like no change, and the server would keep the other version.
TEST(UploadRunContent, AFileWrittenAfterTheScanIsNotRecordedWithTheScannedDigest)
{
    FtpServer server;
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    site.project.strategy = ProjectSettings::kContentStrategy;
    site.tree.add("page.html", "first");
    site.run();
    site.tree.add("page.html", "second", TestTree::kDefaultTime + 10);
    site.run([&site] { site.tree.add("page.html", "third!", TestTree::kDefaultTime + 20); });
    EXPECT_EQ(readText(server.pathOf("page.html")), "third!");
    site.tree.add("page.html", "second", TestTree::kDefaultTime + 30);
    site.run();
    EXPECT_EQ(site.sink.uploads, std::vector<std::string> { site.tree.path("page.html") });
    EXPECT_EQ(readText(server.pathOf("page.html")), "second");
}

TEST(UploadRun, ClearsArchiveMarksOnlyForFilesSentAsDetected)
{
    FtpServer server;
    ASSERT_TRUE(startServer(server));
    Project site;
    ArchiveMarkStore marks(site.tree.base() + "/archive.marks");
    site.project.fileAttributes = &marks;
    site.project.strategy = 1;
    site.addSite(server);
    site.tree.add("a.html", "a");
    site.tree.add("b.html", "b");
    site.run([&] { site.tree.add("b.html", "b edited during the run", TestTree::kDefaultTime + 77); });
    EXPECT_EQ(site.sink.count("OK "), 2u);

    site.run();
    EXPECT_EQ(site.sink.uploads, std::vector<std::string> { site.tree.path("b.html") });
    EXPECT_EQ(readText(server.pathOf("b.html")), "b edited during the run");
    site.run();
    EXPECT_TRUE(site.sink.uploads.empty());
}

} // namespace

namespace {

// A deletion is done only when the server confirms it; one refused (a folder the server
// account may not write) or never sent (the site unreachable) stays recorded, is reported,
// and goes out with a later run.
TEST(UploadRunFaults, RefusedAndUnsentDeletionsAreRetried)
{
    if (std::string reason = skipReason(FtpServer::Kind::Vsftpd); !reason.empty())
        GTEST_SKIP() << reason; // pyftpdlib runs as root here: nothing would be refused
    FtpServer server(FtpServer::Kind::Vsftpd);
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    site.project.deleteRemoved = 1;
    site.tree.add("a.html", "a");
    site.tree.add("locked/b.html", "b");
    site.tree.add("c.html", "c");
    site.tree.add("keep.html", "k");
    site.run();
    ASSERT_EQ(site.sink.count("OK "), 4u);

    ASSERT_TRUE(fs::remove(site.tree.path("locked/b.html")));
    ASSERT_TRUE(fs::remove(site.tree.path("c.html")));
    ASSERT_EQ(::chmod(server.pathOf("locked").c_str(), 0555), 0);
    site.run();
    EXPECT_EQ(site.sink.results,
        (std::vector<std::string> { "OK " + site.tree.path("c.html"), "Error " + site.tree.path("locked/b.html") }));
    EXPECT_TRUE(fs::exists(server.pathOf("locked/b.html")));
    EXPECT_FALSE(fs::exists(server.pathOf("c.html")));
    EXPECT_EQ(site.fileList().count(site.tree.path("locked/b.html")), 1u);

    ASSERT_EQ(::chmod(server.pathOf("locked").c_str(), 0755), 0);
    ASSERT_TRUE(fs::remove(site.tree.path("a.html")));
    server.stop();
    site.run();
    EXPECT_EQ(site.sink.count("Error "), 2u);
    EXPECT_EQ(site.fileList().size(), 3u);

    ASSERT_TRUE(server.restart()) << server.error();
    site.run();
    EXPECT_EQ(site.sink.count("Error "), 0u);
    EXPECT_EQ(site.sink.count("OK "), 2u);
    EXPECT_EQ(listFiles(server.root()), std::vector<std::string> { "keep.html" });
    EXPECT_EQ(site.fileList().size(), 1u);
}

// Removed between the scan and its upload: reported as failed, kept in the record with the
// time it went up last, and deleted from the server by the next run.
TEST(UploadRunFaults, AFileThatVanishesBeforeItsUploadIsNeitherSentNorForgotten)
{
    FtpServer server;
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    site.project.deleteRemoved = 1;
    site.tree.add("page.html", "v1");
    site.tree.add("other.html", "o");
    site.run();
    ASSERT_EQ(site.sink.count("OK "), 2u);

    site.tree.add("page.html", "v2", TestTree::kDefaultTime + 60);
    site.run([&] { ASSERT_TRUE(fs::remove(site.tree.path("page.html"))); });
    EXPECT_EQ(site.sink.results, std::vector<std::string> { "Error " + site.tree.path("page.html") });
    EXPECT_EQ(readText(server.pathOf("page.html")), "v1");
    EXPECT_EQ(site.fileList().count(site.tree.path("page.html")), 1u);

    site.run();
    EXPECT_EQ(site.sink.results, std::vector<std::string> { "OK " + site.tree.path("page.html") });
    EXPECT_FALSE(fs::exists(server.pathOf("page.html")));
    EXPECT_EQ(site.fileList().size(), 1u);
}

// Replacements within one minute, two of them within one second: every previous version
// keeps a name of its own in the archive.
TEST(UploadRun, ReplacementsWithinOneMinuteKeepEveryArchivedVersion)
{
    FtpServer server;
    ASSERT_TRUE(startServer(server));
    Project site;
    site.addSite(server);
    site.project.archivdir = "/_archiv_";
    site.project.archmax = 10;
    int64_t now = TestTree::kDefaultTime;
    site.project.clock = [&now] { return now; };
    site.tree.add("index.html", "v0");
    site.tree.add("README", "r0");
    site.run();
    const int64_t offsets[] = { 1, 11, 21, 21 };
    for (int version = 1; version <= 4; ++version) {
        now = TestTree::kDefaultTime + offsets[version - 1];
        site.tree.add("index.html", "v" + std::to_string(version), TestTree::kDefaultTime + version);
        site.tree.add("README", "r" + std::to_string(version), TestTree::kDefaultTime + version);
        site.run();
        ASSERT_EQ(site.sink.count("OK "), 2u);
    }
    std::vector<std::string> archive = listFiles(server.pathOf("_archiv_"));
    ASSERT_EQ(archive.size(), 8u) << testing::PrintToString(archive);
    std::set<std::string> contents;
    for (const std::string& name : archive)
        contents.insert(readText(server.pathOf("_archiv_/" + name)));
    EXPECT_EQ(contents, (std::set<std::string> { "r0", "r1", "r2", "r3", "v0", "v1", "v2", "v3" }));
    EXPECT_EQ(readText(server.pathOf("index.html")), "v4");
}

} // namespace

namespace {

// Pruning against a listing no real server gives on demand: ages come from the stamps in the
// names (the server's times say the opposite here), links and VMS versions are deleted by
// their bare names, and a name that would leave the archive folder is never sent.
TEST(UploadRunPruning, OrdersByStampAndSendsOnlyBareSafeNames)
{
    FakeFtpServer server;
    const std::string listing = "-rw-r--r-- 1 u g 5 Jan 01  2001 index071206153045.html\r\n"
                                "-rw-r--r-- 1 u g 5 Jan 01  2020 index061206153045.html\r\n"
                                "lrwxrwxrwx 1 u g 5 Jan 01  2020 link051206153045.html -> /etc/passwd\r\n"
                                "OLD041206153045.HTML;3  2 30-DEC-2019 12:00 [X] (RWED)\r\n"
                                "drwxr-xr-x 1 u g 5 Jan 01  2000 ..\r\n"
                                "-rw-r--r-- 1 u g 5 Jan 01  2000 esc\x1b[2J031206153045.html\r\n";
    server.on("LIST", FakeFtpServer::Answer::sending("150 Here\r\n", listing, "226 Done\r\n"));
    server.on("DELE", "250 Deleted\r\n");
    ASSERT_TRUE(server.start());
    MachineOptions options = activeModeOptions();
    FtpClient client(options);
    ASSERT_TRUE(client.connect(server.url(), "", ""));
    WebProject project;
    project.archivdir = "/_archiv_";
    project.archmax = 2;
    project.PruneArchive(client);
    client.quit();
    std::vector<std::string> deletions;
    for (const std::string& command : server.commands())
        if (command.rfind("DELE ", 0) == 0 || command.rfind("dele ", 0) == 0)
            deletions.push_back(command);
    EXPECT_EQ(deletions,
        (std::vector<std::string> { "dele /_archiv_/link051206153045.html", "dele /_archiv_/OLD041206153045.HTML" }));
}

} // namespace

// The same run rules over FTP and SFTP: archive moves and deletions are read from what the
// client answered, whichever protocol spoke.
enum class Protocol { Ftp, Sftp };

class RunSeams : public testing::TestWithParam<Protocol> {
protected:
    void SetUp() override
    {
        if (GetParam() == Protocol::Ftp) {
            ASSERT_TRUE(startServer(ftp));
            site.addSite(ftp, "www");
            return;
        }
        SKIP_UNLESS_SERVER_RUNS(SshServer::unavailableReason());
        ASSERT_TRUE(ssh.start()) << ssh.error();
        ASSERT_TRUE(TrustedCertificates(site.project.dataDirectory + "trusted-host-keys.txt")
                        .trust(ssh.hostAndPort(), ssh.hostKeyFingerprint()));
        site.addSite("sftp://" + ssh.hostAndPort(), ssh.user(), "", "www").keyfile = ssh.keyFile();
    }
    // A file put on the server by hand, owned by the server's user.
    void putOnServer(const std::string& relative, const std::string& content) const
    {
        if (GetParam() == Protocol::Sftp) {
            ssh.putFile(relative, content);
            return;
        }
        fs::create_directories(fs::path(ftp.pathOf(relative)).parent_path());
        std::ofstream(ftp.pathOf(relative)) << content;
    }
    [[nodiscard]] std::string onServer(const std::string& relative) const
    {
        return GetParam() == Protocol::Ftp ? ftp.pathOf(relative) : ssh.pathOf(relative);
    }
    [[nodiscard]] std::vector<std::string> errorLines() const
    {
        std::vector<std::string> errors;
        for (const std::string& line : site.sink.lines)
            if (line.find("Error") != std::string::npos)
                errors.push_back(line);
        return errors;
    }

    FtpServer ftp;
    SshServer ssh;
    Project site;
};

TEST_P(RunSeams, ArchiveKeepsArchmaxVersionsAndAFirstRunSaysNoError)
{
    site.project.archivdir = "/_archive";
    site.project.archmax = 2;
    // An hour between runs, so the stamps in the archived names tell the versions apart.
    int64_t now = 1'700'000'000;
    site.project.clock = [&now] { return now; };
    site.tree.add("a.html", "v0");
    site.tree.add("sub/b.html", "b");
    site.run();
    // Nothing can be on the server yet: the tried archive moves find nothing, and say nothing.
    EXPECT_EQ(errorLines(), std::vector<std::string>());
    EXPECT_EQ(site.sink.count("OK "), 2u);
    for (int round = 1; round <= 6; ++round) {
        site.tree.add("a.html", "v" + std::to_string(round), TestTree::kDefaultTime + 100 * round);
        now += 3600;
        site.run();
        ASSERT_EQ(site.sink.results, std::vector<std::string> { "OK " + site.tree.path("a.html") }) << round;
    }
    EXPECT_EQ(readText(onServer("www/a.html")), "v6");
    const std::vector<std::string> archive = listFiles(onServer("_archive"));
    ASSERT_EQ(archive.size(), 2u) << testing::PrintToString(archive);
    std::set<std::string> kept;
    for (const std::string& name : archive)
        kept.insert(readText(onServer("_archive/" + name)));
    EXPECT_EQ(kept, (std::set<std::string> { "v4", "v5" }));
    EXPECT_EQ(errorLines(), std::vector<std::string>());
}

TEST_P(RunSeams, AServerFolderIsNeverReplacedByAFileOfItsName)
{
    putOnServer("www/docs/page.html", "page");
    site.tree.add("docs", "a file now");
    site.tree.add("index.html", "i");
    site.run();
    EXPECT_EQ(site.sink.results,
        (std::vector<std::string> { "Error " + site.tree.path("docs"), "OK " + site.tree.path("index.html") }));
    EXPECT_EQ(readText(onServer("www/docs/page.html")), "page");
    const std::vector<std::string> errors = errorLines();
    EXPECT_TRUE(std::any_of(errors.begin(), errors.end(), [](const std::string& line) {
        return line.find("docs is a folder on the server") != std::string::npos;
    })) << testing::PrintToString(errors);
    EXPECT_EQ(site.fileList().count(site.tree.path("docs")), 0u);
    EXPECT_EQ(listFiles(onServer("www")), (std::vector<std::string> { "docs/page.html", "index.html" }));

    // Still not recorded: the next run tries again, and the folder stays.
    site.run();
    EXPECT_EQ(site.sink.results, std::vector<std::string> { "Error " + site.tree.path("docs") });
    EXPECT_EQ(readText(onServer("www/docs/page.html")), "page");
}

TEST_P(RunSeams, AFileWrittenWhileItIsSentIsNotPublished)
{
    // Larger than what goes out right behind its STOR, so the write lands while it travels.
    const std::string before(3 * 1024 * 1024, 'o');
    const std::string after(before.size(), 'n');
    site.tree.add("video.bin", before);
    site.tree.add("page.html", "p1");
    site.run();
    ASSERT_EQ(site.sink.count("OK "), 2u);

    site.tree.add("video.bin", std::string(before.size(), 'm'), TestTree::kDefaultTime + 60);
    bool written = false;
    site.sink.afterUploadBegins = [&](size_t) {
        // A copy over the file in place: same size, same inode, a new time.
        if (!std::exchange(written, true))
            std::fstream(site.tree.path("video.bin"), std::ios::in | std::ios::out | std::ios::binary) << after;
    };
    site.run();
    EXPECT_EQ(site.sink.results, std::vector<std::string> { "Error " + site.tree.path("video.bin") });
    EXPECT_EQ(readText(onServer("www/video.bin")), before);
    EXPECT_EQ(listFiles(onServer("www")), (std::vector<std::string> { "page.html", "video.bin" }));
    EXPECT_EQ(site.fileList().at(site.tree.path("video.bin")), TestTree::kDefaultTime);

    site.run();
    EXPECT_EQ(site.sink.results, std::vector<std::string> { "OK " + site.tree.path("video.bin") });
    EXPECT_EQ(readText(onServer("www/video.bin")), after);
}

TEST_P(RunSeams, ARunThatCannotKeepItsRecordSendsNothing)
{
    site.tree.add("index.html", "i");
    // What an unwritable data folder does to the journal, also for root.
    fs::create_directories(site.project.journalPath());
    site.run();
    EXPECT_EQ(site.sink.results, std::vector<std::string> { "Error " + site.tree.path("index.html") });
    EXPECT_EQ(site.sink.uploads, std::vector<std::string>());
    EXPECT_FALSE(fs::exists(onServer("www/index.html")));
    ASSERT_EQ(site.project.runErrors.size(), 1u);
    EXPECT_NE(site.project.runErrors[0].find("cannot write " + site.project.journalPath()), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Protocols, RunSeams, testing::Values(Protocol::Ftp, Protocol::Sftp),
    [](const testing::TestParamInfo<Protocol>& info) { return info.param == Protocol::Ftp ? "Ftp" : "Sftp"; });
