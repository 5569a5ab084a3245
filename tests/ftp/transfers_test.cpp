#include "ftp/ftp_client.h"

#include "platform/file_utils.h"
#include "session/upload_names.h"
#include "support/fake_ftp_server.h"
#include "support/ftp_recording_sink.h"
#include "support/ftp_server.h"
#include "support/required_server.h"
#include "support/temp_dir.h"
#include "support/upload_site.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <strings.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Answer = FakeFtpServer::Answer;

std::string contentOf(const std::string& path)
{
    return readWholeFile(path).value_or("<missing>");
}

MachineOptions withPassive(bool passive)
{
    MachineOptions options;
    options.passive = passive;
    return options;
}

// Each real server in passive and in active mode.
class RealServerTransfers : public ::testing::TestWithParam<std::tuple<FtpServer::Kind, bool>> {
protected:
    void SetUp() override
    {
        SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(std::get<0>(GetParam())));
        ASSERT_TRUE(server.start()) << server.error();
        client.setEventSink(&sink);
        ASSERT_TRUE(client.connect(server.url(), server.user(), server.password()));
        ASSERT_TRUE(client.setLocalDirectory(local.path()));
    }

    MachineOptions options = withPassive(std::get<1>(GetParam()));
    FtpServer server { std::get<0>(GetParam()) };
    TempDir local;
    FtpClient client { options };
    FtpRecordingSink sink;
};

TEST_P(RealServerTransfers, FilesTravelBothWaysByteForByte)
{
    struct Case {
        const char* name;
        size_t size;
    };
    const Case cases[] = { { "empty.bin", 0 }, { "small.txt", 1000 }, { "block-edge.bin", 256 * 1024 },
        { "large.bin", 50 * 1000 * 1000 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = patternBytes(c.size);
        local.writeFile(c.name, bytes);
        EXPECT_EQ(client.upload(c.name, c.name).code, 226);
        EXPECT_TRUE(contentOf(server.pathOf(c.name)) == bytes);
        std::string back = std::string("back-") + c.name;
        EXPECT_EQ(client.download(c.name, back).code, 226);
        EXPECT_TRUE(contentOf(local.file(back)) == bytes);
    }
    EXPECT_TRUE(sink.failedTransfers.empty());
}

// The size is asked together with the transfer's end, so the server's copy is replaced
// once the server has opened it: what it stores then never reaches the name.
TEST_P(RealServerTransfers, SizeCheckResendsAFileLostBehindTheClientsBack)
{
    std::string bytes = patternBytes(100000);
    local.writeFile("page.bin", bytes);
    bool removed = false;
    sink.lineHook = [&](const std::string& line) {
        if (!removed && (line.rfind("150", 0) == 0 || line.rfind("125", 0) == 0) && sink.count("STOR") == 1) {
            removed = true;
            ASSERT_EQ(unlink(server.pathOf("page.bin").c_str()), 0);
            std::ofstream(server.pathOf("page.bin")) << "another";
            std::filesystem::permissions(server.pathOf("page.bin"), std::filesystem::perms::all);
        }
    };
    options.checkFileSize = true;
    EXPECT_EQ(client.uploadWithRetry("page.bin", "page.bin").code, 226) << testing::PrintToString(sink.lines);
    EXPECT_TRUE(removed);
    EXPECT_EQ(sink.count("STOR"), 2);
    EXPECT_TRUE(contentOf(server.pathOf("page.bin")) == bytes);

    options.checkFileSize = false;
    int listsBefore = sink.count("LIST");
    EXPECT_EQ(client.uploadWithRetry("page.bin", "page.bin").code, 226);
    EXPECT_EQ(sink.count("LIST"), listsBefore);
}

// Where the server can set it, the server copy keeps the local time through the part's
// rename; elsewhere the upload goes on without it.
TEST_P(RealServerTransfers, UploadsKeepTheLocalModificationTime)
{
    const auto kind = std::get<0>(GetParam());
    EXPECT_EQ(client.features().mfmt, kind != FtpServer::Kind::Vsftpd) << FtpServer::nameOf(kind);
    client.setAtomicUploads(true);
    options.checkFileSize = true;
    const time_t stamps[] = { 1704164645, 946684800 }; // a new file, then one replaced
    for (const time_t stamp : stamps) {
        SCOPED_TRACE(stamp);
        local.writeFile("dated.html", "<p>" + std::to_string(stamp) + "</p>");
        struct timespec times[2] {};
        times[0].tv_sec = times[1].tv_sec = stamp;
        ASSERT_EQ(::utimensat(AT_FDCWD, local.file("dated.html").c_str(), times, 0), 0);
        ASSERT_EQ(client.uploadWithRetry("dated.html", "dated.html").code, 226);
        struct stat status { };
        ASSERT_EQ(stat(server.pathOf("dated.html").c_str(), &status), 0);
        if (client.features().mfmt) {
            EXPECT_EQ(status.st_mtime, stamp) << testing::PrintToString(sink.lines);
        } else {
            EXPECT_GT(status.st_mtime, stamp);
        }
    }
    EXPECT_TRUE(sink.failedTransfers.empty());
}

TEST_P(RealServerTransfers, UploadCreatesTheMissingFolderAndRetries)
{
    local.writeFile("x.html", "<p>x</p>");
    EXPECT_EQ(client.uploadWithRetry("/new/deeper/x.html", "x.html").code, 226) << testing::PrintToString(sink.lines);
    EXPECT_EQ(contentOf(server.pathOf("new/deeper/x.html")), "<p>x</p>");
}

TEST_P(RealServerTransfers, UnreadableLocalFileNeverReplacesTheServerCopy)
{
    std::filesystem::create_directories(server.root() + "/folder.html");
    std::ofstream(server.pathOf("keep.html")) << "good";
    local.makeDirectory("folder.html");
    for (const char* localName : { "missing.html", "folder.html" }) {
        SCOPED_TRACE(localName);
        EXPECT_EQ(client.uploadWithRetry("keep.html", localName).code, FtpClient::kTransferNotCarriedOut);
        EXPECT_EQ(contentOf(server.pathOf("keep.html")), "good");
    }
    // Nothing to retry: no folder is made and each file fails once.
    EXPECT_EQ(sink.count("STOR"), 0);
    EXPECT_EQ(sink.count("MKD"), 0);
    EXPECT_EQ(sink.failedTransfers.size(), 2u);
}

TEST_P(RealServerTransfers, DownloadLeavesExistingAndPartialFilesAlone)
{
    std::ofstream(server.pathOf("index.html")) << "server";
    local.writeFile("index.html", "mine");
    EXPECT_EQ(client.download("index.html", "index.html").code, FtpClient::kTransferNotCarriedOut);
    EXPECT_EQ(contentOf(local.file("index.html")), "mine");
    EXPECT_EQ(std::count(sink.lines.begin(), sink.lines.end(), "File Error 11\n"), 1);

    EXPECT_EQ(client.download("absent.html", "absent.html").code, 0);
    EXPECT_FALSE(std::filesystem::exists(local.file("absent.html")));
    EXPECT_EQ(sink.count("RETR"), 1);
}

TEST_P(RealServerTransfers, TypeFollowsTheAsciiExtensions)
{
    local.writeFile("page.HTML", "<html>\n</html>\n");
    local.writeFile("archive.tar.gz", "gz");
    local.writeFile("README", "plain");
    EXPECT_EQ(client.upload("a.html", "page.HTML").code, 226);
    client.loadAsciiExtensions(local.file("no-such-ascii.ini"));
    EXPECT_EQ(client.upload("b.html", "page.HTML").code, 226);
    EXPECT_EQ(client.upload("c.tar.gz", "archive.tar.gz").code, 226);
    EXPECT_EQ(client.upload("README", "README").code, 226); // TYPE I is still in effect
    EXPECT_EQ(client.command("type a"), 200); // changed behind the transfers' back
    EXPECT_EQ(client.upload("README", "README").code, 226);
    std::vector<std::string> types;
    for (const std::string& command : sink.commands()) {
        if (strncasecmp(command.c_str(), "TYPE", 4) == 0)
            types.push_back(command);
    }
    EXPECT_EQ(types, (std::vector<std::string> { "TYPE I", "TYPE A", "TYPE I", "type a", "TYPE I" }));
    EXPECT_EQ(contentOf(server.pathOf("b.html")), "<html>\n</html>\n");
}

// The live name changes once, to the complete file: the size check looks at the part, and a
// re-send replaces the part. Turned off, STOR goes to the live name as before.
TEST_P(RealServerTransfers, AtomicUploadsReplaceThroughAHiddenPart)
{
    std::ofstream(server.pathOf("page.bin"), std::ios::binary) << "old version";
    std::filesystem::permissions(server.pathOf("page.bin"), std::filesystem::perms::all);
    std::string bytes = patternBytes(300000);
    local.writeFile("page.bin", bytes);
    client.setAtomicUploads(true);
    options.checkFileSize = true;
    bool removed = false;
    sink.lineHook = [&](const std::string& line) {
        if (!removed && (line.rfind("150", 0) == 0 || line.rfind("125", 0) == 0) && sink.count("STOR") == 1) {
            removed = true;
            EXPECT_EQ(contentOf(server.pathOf("page.bin")), "old version");
            ASSERT_EQ(unlink(server.pathOf(".page.bin.tarnwick-part").c_str()), 0);
            std::ofstream(server.pathOf(".page.bin.tarnwick-part")) << "another";
            std::filesystem::permissions(server.pathOf(".page.bin.tarnwick-part"), std::filesystem::perms::all);
        }
    };
    EXPECT_EQ(client.uploadWithRetry("page.bin", "page.bin").code, 226);
    sink.lineHook = nullptr;
    EXPECT_TRUE(removed);
    EXPECT_EQ(sink.count("STOR .page.bin.tarnwick-part"), 2);
    EXPECT_EQ(sink.count("RNTO page.bin"), 1);
    EXPECT_TRUE(contentOf(server.pathOf("page.bin")) == bytes);

    local.writeFile("x.html", "<p>x</p>");
    EXPECT_EQ(client.uploadWithRetry("/new/deeper/x.html", "x.html").code, 226);
    EXPECT_EQ(sink.count("STOR /new/deeper/.x.html.tarnwick-part"), 2);
    EXPECT_EQ(client.upload("x.html", "x.html").code, 226);
    EXPECT_EQ(listFiles(server.root()), (std::vector<std::string> { "new/deeper/x.html", "page.bin", "x.html" }));
    EXPECT_EQ(contentOf(server.pathOf("new/deeper/x.html")), "<p>x</p>");
    EXPECT_TRUE(sink.failedTransfers.empty());

    client.setAtomicUploads(false);
    const int renames = sink.count("RNFR");
    local.writeFile("x.html", "<p>y</p>");
    EXPECT_EQ(client.uploadWithRetry("x.html", "x.html").code, 226);
    EXPECT_EQ(sink.count("STOR x.html"), 1);
    EXPECT_EQ(sink.count("RNFR"), renames);
    EXPECT_EQ(contentOf(server.pathOf("x.html")), "<p>y</p>");
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerTransfers,
    ::testing::Combine(::testing::Values(FtpServer::Kind::Pyftpdlib, FtpServer::Kind::Vsftpd, FtpServer::Kind::Proftpd),
        ::testing::Bool()),
    [](const auto& info) {
        return std::string(FtpServer::nameOf(std::get<0>(info.param)))
            + (std::get<1>(info.param) ? "_passive" : "_active");
    });

// Holds the upload still once `pauseAfter` bytes are sent, until the test lets it go on.
class PausingSink : public FtpRecordingSink {
public:
    int64_t pauseAfter = 0;
    std::promise<void> reached;
    std::promise<void> released;

    void onBytes(int64_t count) override
    {
        FtpRecordingSink::onBytes(count);
        if (!paused_ && bytes >= pauseAfter) {
            paused_ = true;
            reached.set_value();
            (void)released.get_future().wait_for(std::chrono::seconds(60));
        }
    }

private:
    bool paused_ = false;
};

class KilledDuringReplacement : public ::testing::TestWithParam<FtpServer::Kind> { };

// The server dies while a 30 MB replacement is on its way: the live name still holds the old
// file, byte for byte, and the next upload replaces the part that was cut off.
TEST_P(KilledDuringReplacement, LiveFileKeepsItsOldBytes)
{
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(GetParam()));
    constexpr size_t kSize = 30 * 1000 * 1000;
    FtpServer server(GetParam());
    ASSERT_TRUE(server.start()) << server.error();
    const std::string oldBytes = patternBytes(kSize, 7);
    const std::string newBytes = patternBytes(kSize, 8);
    ASSERT_NE(oldBytes, newBytes);
    std::ofstream(server.pathOf("big.bin"), std::ios::binary) << oldBytes;
    std::filesystem::permissions(server.pathOf("big.bin"), std::filesystem::perms::all);
    const std::string part = server.pathOf(uploadPartName("big.bin"));
    TempDir local;
    local.writeFile("big.bin", newBytes);

    MachineOptions options;
    PausingSink sink;
    sink.pauseAfter = 8 * 1000 * 1000;
    FtpClient client(options, std::chrono::milliseconds(5000));
    client.setEventSink(&sink);
    client.setAtomicUploads(true);
    ASSERT_TRUE(client.connect(server.url(), server.user(), server.password()));
    ASSERT_TRUE(client.setLocalDirectory(local.path()));

    int code = 0;
    std::future<void> reached = sink.reached.get_future();
    {
        std::jthread uploader([&] { code = client.uploadWithRetry("big.bin", "big.bin").code; });
        // Lets the upload go on however this block is left.
        struct Release {
            PausingSink& sink;
            ~Release() { sink.released.set_value(); }
        } release { sink };
        ASSERT_EQ(reached.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        std::error_code error;
        for (int poll = 0; poll < 2000 && std::filesystem::file_size(part, error) < 1000 * 1000; ++poll)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_GE(std::filesystem::file_size(part, error), 1000u * 1000u) << "the part never grew";
        server.kill();
    }
    EXPECT_EQ(code, FtpClient::kTransferNotCarriedOut);
    EXPECT_EQ(sink.failedTransfers, std::vector<std::string> { "big.bin" });
    EXPECT_TRUE(contentOf(server.pathOf("big.bin")) == oldBytes) << "the live file changed";
    EXPECT_LT(std::filesystem::file_size(part), kSize);

    ASSERT_TRUE(server.restart()) << server.error();
    FtpClient again(options, std::chrono::milliseconds(5000));
    again.setAtomicUploads(true);
    ASSERT_TRUE(again.connect(server.url(), server.user(), server.password()));
    ASSERT_TRUE(again.setLocalDirectory(local.path()));
    EXPECT_EQ(again.uploadWithRetry("big.bin", "big.bin").code, 226);
    EXPECT_TRUE(contentOf(server.pathOf("big.bin")) == newBytes);
    EXPECT_EQ(listFiles(server.root()), std::vector<std::string> { "big.bin" });
}

INSTANTIATE_TEST_SUITE_P(Servers, KilledDuringReplacement,
    ::testing::Values(FtpServer::Kind::Pyftpdlib, FtpServer::Kind::Vsftpd),
    [](const auto& info) { return std::string(FtpServer::nameOf(info.param)); });

TEST(AsciiExtensions, FileLinesAreAppendedInOrder)
{
    TempDir folder;
    folder.writeFile("ascii.ini", "txt\r\nphp\n");
    MachineOptions options;
    FtpClient client(options);
    client.loadAsciiExtensions(folder.file("ascii.ini"));
    EXPECT_EQ(client.asciiExtensions(), (std::vector<std::string> { "txt", "php" }));
    EXPECT_EQ(client.transferType("x.PHP"), 'A');
    EXPECT_EQ(client.transferType("dir.txt/file"), 'I');
}

// Scripted server: refusals and replies that real servers do not give on demand.
class ScriptedTransfers : public ::testing::Test {
protected:
    void connect()
    {
        ASSERT_TRUE(server.start());
        client.setEventSink(&sink);
        ASSERT_TRUE(client.connect(server.url(), "", ""));
        ASSERT_TRUE(client.setLocalDirectory(local.path()));
    }
    std::vector<std::string> finish()
    {
        client.quit();
        server.join();
        std::vector<std::string> commands;
        for (const std::string& command : server.commands())
            commands.push_back(command.rfind("PORT ", 0) == 0 ? "PORT" : command);
        return commands;
    }

    FakeFtpServer server;
    // These scripts follow the active-mode command sequence.
    MachineOptions options = activeModeOptions();
    FtpClient client { options };
    FtpRecordingSink sink;
    TempDir local;
};

TEST_F(ScriptedTransfers, RefusedStorMakesTheFolderAndTriesOnceMore)
{
    server.on("STOR", "553 Could not create file\r\n");
    connect();
    local.writeFile("x.html", "x");
    EXPECT_EQ(client.uploadWithRetry("sub/x.html", "x.html").code, FtpClient::kTransferNotCarriedOut);
    // One outcome per file, whatever the attempts in between.
    EXPECT_EQ(sink.failedTransfers, (std::vector<std::string> { "x.html" }));
    EXPECT_EQ(finish(),
        (std::vector<std::string> {
            "TYPE I", "PORT", "STOR sub/x.html", "MKD sub", "PORT", "STOR sub/x.html", "bye" }));
}

TEST_F(ScriptedTransfers, SizeThatKeepsDifferingIsSentFiveTimes)
{
    server.on("STOR", Answer::receiving("150 Ok\r\n", "226 Done\r\n"));
    for (int attempt = 0; attempt < FtpClient::kUploadAttempts; ++attempt)
        server.on("LIST", Answer::sending("150 Here\r\n", "-rw-r--r-- 1 u g 1 Jan 01 2020 x.bin\r\n", "226 Done\r\n"));
    server.on("LIST", Answer::sending("150 Here\r\n", "-rw-r--r-- 1 u g 5 Jan 01 2020 x.bin\r\n", "226 Done\r\n"));
    connect();
    local.writeFile("x.bin", "12345");
    // The server kept one byte of five and said 226 each time: that is no success.
    EXPECT_EQ(client.uploadWithRetry("x.bin", "x.bin").code, FtpClient::kTransferNotCarriedOut);
    EXPECT_EQ(sink.count("STOR"), 5);
    EXPECT_EQ(server.received(), std::vector<std::string>(5, "12345"));
    EXPECT_EQ(sink.failedTransfers, std::vector<std::string> { "x.bin" });
    // Ascii mode is never verified.
    EXPECT_EQ(client.uploadWithRetry("x.bin", "x.bin", TransferMode::Ascii).code, 226);
    EXPECT_EQ(sink.count("STOR"), 6);
    // Once the server keeps what it gets, the same file goes up in one send.
    EXPECT_EQ(client.uploadWithRetry("x.bin", "x.bin").code, 226);
    EXPECT_EQ(sink.count("STOR"), 7);
}

// What a command about a listed entry must name: the entry alone, as each format's rules cut
// it, while `name` keeps what the browser shows and follows.
TEST_F(ScriptedTransfers, ListedEntriesKnowTheirBareNames)
{
    struct Row {
        const char* line;
        const char* name;
        const char* fileName;
    };
    const Row rows[] = {
        { "-rw-r--r--   1 u g 5 Jan 01  2020 plain file.html", "plain file.html", "plain file.html" },
        { "lrwxrwxrwx   1 u g 9 Jan 01  2020 up -> ../..", "up -> ../..", "up" },
        { "V2001.HTML;1  2 30-DEC-2001 12:00 [X] (RWED)", "V2001.HTML;1  2 30-DEC-2001 12:00 [X] (RWED)",
            "V2001.HTML" },
        { "SUB.DIR;1  1 19-NOV-2001 21:41 [root,root] (RWE,RWE,RE,RE)",
            "SUB.DIR;1  1 19-NOV-2001 21:41 [root,root] (RWE,RWE,RE,RE)", "SUB" },
        { "04-06-00  03:47PM                  589 dos file.htm", "dos file.htm", "dos file.htm" },
        { "+i8388621.48594,m825718503,r,s280,up755\teplf file", "eplf file", "eplf file" },
    };
    std::string listing;
    for (const Row& row : rows)
        listing += std::string(row.line) + "\r\n";
    server.on("LIST", Answer::sending("150 Here\r\n", listing, "226 Done\r\n"));
    connect();
    std::vector<RemoteEntry> entries = client.listEntries("/");
    ASSERT_EQ(entries.size(), std::size(rows));
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].name, rows[i].name);
        EXPECT_EQ(entries[i].fileName, rows[i].fileName);
    }
}

TEST_F(ScriptedTransfers, RefusedRetrAndListAnswerZero)
{
    server.on("RETR", "550 No such file\r\n");
    server.on("LIST", "450 Not now\r\n");
    connect();
    EXPECT_EQ(client.download("gone.html", "gone.html").code, 0);
    EXPECT_FALSE(std::filesystem::exists(local.file("gone.html")));
    EXPECT_EQ(client.list("/").code, 0);
    EXPECT_EQ(client.lastListing(), "");
    EXPECT_EQ(sink.failedTransfers, std::vector<std::string> { "gone.html" });
}

TEST_F(ScriptedTransfers, ReplyAfterTheDataDecidesAndPartialDownloadsAreRemoved)
{
    server.on("RETR", Answer::sending("150 Opening\r\n", "partial", "426 Connection closed; transfer aborted\r\n"));
    connect();
    EXPECT_EQ(client.download("a.bin", "a.bin").code, 426);
    EXPECT_FALSE(std::filesystem::exists(local.file("a.bin")));
}

TEST_F(ScriptedTransfers, TwoRepliesInOnePacketKeepLaterCommandsInStep)
{
    server.on("RETR", Answer::sending("150 Opening\r\n226 Done\r\n", "payload", ""));
    server.on("PWD", "257 \"/web\" is current\r\n");
    connect();
    EXPECT_EQ(client.download("a.bin", "a.bin").code, 226);
    EXPECT_EQ(contentOf(local.file("a.bin")), "payload");
    EXPECT_EQ(client.currentDirectory(), "/web");
    EXPECT_EQ(sink.downloadsBegun, std::vector<std::string> { "a.bin" });
    EXPECT_EQ(sink.bytes, 7);
}

TEST(ScriptedTransfersShortBudget, DataConnectionThatNeverComesKeepsRepliesInStep)
{
    FakeFtpServer server;
    server.on("STOR", Answer::replies({ "150 Ok\r\n", "425 Can't open data connection\r\n" }));
    server.on("PWD", "257 \"/web\"\r\n");
    ASSERT_TRUE(server.start());
    TempDir local;
    local.writeFile("x.bin", "x");
    MachineOptions options = activeModeOptions();
    FtpClient client(options, std::chrono::milliseconds(200));
    FtpRecordingSink sink;
    client.setEventSink(&sink);
    ASSERT_TRUE(client.setLocalDirectory(local.path()));
    ASSERT_TRUE(client.connect(server.url(), "", ""));
    EXPECT_EQ(client.upload("x.bin", "x.bin").code, FtpClient::kTransferNotCarriedOut);
    EXPECT_TRUE(client.timedOut());
    EXPECT_EQ(client.failureCount(), 1);
    EXPECT_EQ(std::count(sink.lines.begin(), sink.lines.end(), "Error receive.accept 110\n"), 1);
    EXPECT_EQ(client.currentDirectory(), "/web");
}

TEST_F(ScriptedTransfers, PortCarriesTheControlConnectionsAddressAndTheListeningPort)
{
    server.on("LIST", Answer::sending("150 Here\r\n", "+i8388621.29609,m824255902,/,\tdev\r\n", "226 Done\r\n"));
    connect();
    EXPECT_EQ(client.list("").code, 226);
    EXPECT_EQ(client.lastListing(), "+i8388621.29609,m824255902,/,\tdev\r\n");
    ASSERT_EQ(server.portArguments().size(), 1u);
    std::string expected = server.clientAddress();
    std::replace(expected.begin(), expected.end(), '.', ',');
    unsigned p1 = 0, p2 = 0;
    std::string arguments = server.portArguments()[0];
    ASSERT_EQ(arguments.rfind(expected + ",", 0), 0u) << arguments;
    ASSERT_EQ(sscanf(arguments.c_str() + expected.size(), ",%u,%u", &p1, &p2), 2);
    EXPECT_LT(p1, 256u);
    EXPECT_LT(p2, 256u);
    EXPECT_GT(p1 * 256 + p2, 0u);
    EXPECT_EQ(finish(), (std::vector<std::string> { "PORT", "LIST ", "bye" }));
}

// Servers that rename badly. Every row sends x.html through its part; RNFR answers 350
// unless the row says otherwise. RNTO goes out with its RNFR in one round trip; after a
// refused RNFR it renames nothing.
TEST(ScriptedAtomicUploads, RenameRefusalsNeverLeaveAPartUnderTheLiveName)
{
    const std::string part = ".x.html.tarnwick-part";
    const std::string old = ".x.html.tarnwick-old";
    const std::vector<std::string> sent = { "TYPE I", "PORT", "STOR " + part, "RNFR " + part };
    const auto then = [&](std::vector<std::string> rest) {
        std::vector<std::string> all = sent;
        all.insert(all.end(), rest.begin(), rest.end());
        all.emplace_back("bye");
        return all;
    };
    struct Row {
        const char* name;
        std::vector<std::pair<std::string, std::string>> replies; // verb, reply; in order per verb
        int code;
        std::vector<std::string> commands;
        const char* message; // in the sink's lines, or nullptr
    };
    const Row rows[] = {
        { "a plain rename", {}, 226, then({ "RNTO x.html" }), nullptr },
        { "a server that drops an RNTO sent behind its RNFR is asked one line at a time",
            { { "RNTO", "503 Bad sequence\r\n" }, { "RNTO", "250 Ok\r\n" } }, 226,
            then({ "RNTO x.html", "RNFR " + part, "RNTO x.html" }), nullptr },
        { "no rename onto an existing name: the old file steps aside",
            { { "RNTO", "553 File exists\r\n" }, { "RNTO", "250 Ok\r\n" } }, 226,
            then({ "RNTO x.html", "SIZE x.html", "RNFR x.html", "RNTO " + old, "RNFR " + part, "RNTO x.html",
                "DELE " + old }),
            nullptr },
        { "a stale old file from a killed run is removed first",
            { { "RNTO", "550 Exists\r\n" }, { "RNTO", "553 Exists\r\n" }, { "RNTO", "250 Ok\r\n" } }, 226,
            then({ "RNTO x.html", "SIZE x.html", "RNFR x.html", "RNTO " + old, "DELE " + old, "RNFR x.html",
                "RNTO " + old, "RNFR " + part, "RNTO x.html", "DELE " + old }),
            nullptr },
        { "the part cannot follow: the old file comes back",
            { { "RNTO", "553 Exists\r\n" }, { "RNTO", "250 Ok\r\n" }, { "RNTO", "553 No\r\n" },
                { "RNTO", "250 Ok\r\n" } },
            FtpClient::kTransferNotCarriedOut,
            then({ "RNTO x.html", "SIZE x.html", "RNFR x.html", "RNTO " + old, "RNFR " + part, "RNTO x.html",
                "RNFR " + old, "RNTO x.html", "DELE " + part }),
            "the server refused to replace x.html" },
        { "the old file cannot come back either: the message names it",
            { { "RNTO", "553 Exists\r\n" }, { "RNTO", "250 Ok\r\n" }, { "RNTO", "553 No\r\n" } },
            FtpClient::kTransferNotCarriedOut,
            then({ "RNTO x.html", "SIZE x.html", "RNFR x.html", "RNTO " + old, "RNFR " + part, "RNTO x.html",
                "RNFR " + old, "RNTO x.html", "DELE " + part }),
            "x.html is kept as .x.html.tarnwick-old" },
        { "a folder under the live name never steps aside",
            { { "RNTO", "553 No\r\n" }, { "SIZE", "550 Not a regular file\r\n" } }, FtpClient::kTransferNotCarriedOut,
            then({ "RNTO x.html", "SIZE x.html", "DELE " + part }), "x.html is a folder on the server" },
        { "RNTO refused and no live file to move aside",
            { { "RNTO", "553 No\r\n" }, { "RNFR", "350 Ok\r\n" }, { "RNFR", "550 Not found\r\n" } },
            FtpClient::kTransferNotCarriedOut, then({ "RNTO x.html", "SIZE x.html", "RNFR x.html", "DELE " + part }),
            "the server refused to replace x.html (RNTO answered 553)" },
        // Falling back to STOR under the live name would bring the truncated files back.
        { "no rename at all: fails and says how to turn it off", { { "RNFR", "502 Not implemented\r\n" } },
            FtpClient::kTransferNotCarriedOut, then({ "RNTO x.html", "DELE " + part }), "set atomic=0 for this site" },
        { "RNFR answering 200 is no go-ahead", { { "RNFR", "200 Whatever\r\n" } }, FtpClient::kTransferNotCarriedOut,
            then({ "RNTO x.html", "DELE " + part }), "RNFR answered 200" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeFtpServer server;
        server.on("STOR", Answer::receiving("150 Ok\r\n", "226 Done\r\n"));
        bool rnfrScripted = false;
        for (const auto& [verb, reply] : row.replies) {
            server.on(verb, reply);
            rnfrScripted = rnfrScripted || verb == "RNFR";
        }
        if (!rnfrScripted)
            server.on("RNFR", "350 Ready\r\n");
        if (std::none_of(
                row.replies.begin(), row.replies.end(), [](const auto& reply) { return reply.first == "SIZE"; }))
            server.on("SIZE", "213 1\r\n");
        MachineOptions options = activeModeOptions();
        options.checkFileSize = false;
        FtpClient client(options);
        FtpRecordingSink sink;
        TempDir local;
        local.writeFile("x.html", "x");
        ASSERT_TRUE(server.start());
        client.setEventSink(&sink);
        client.setAtomicUploads(true);
        ASSERT_TRUE(client.connect(server.url(), "", ""));
        ASSERT_TRUE(client.setLocalDirectory(local.path()));
        EXPECT_EQ(client.uploadWithRetry("x.html", "x.html").code, row.code);
        EXPECT_EQ(sink.failedTransfers.size(), row.code == 226 ? 0u : 1u);
        client.quit();
        server.join();
        std::vector<std::string> commands;
        for (const std::string& command : server.commands())
            commands.push_back(command.rfind("PORT ", 0) == 0 ? "PORT" : command);
        EXPECT_EQ(commands, row.commands);
        if (row.message) {
            EXPECT_TRUE(std::any_of(sink.lines.begin(), sink.lines.end(), [&](const std::string& line) {
                return line.find(row.message) != std::string::npos;
            })) << testing::PrintToString(sink.lines);
        }
    }
}

// SIZE and MFMT go out in the STOR's own write, ahead of the bytes, and once the server has
// shown that it answers them only after the transfer, the next EPSV goes along too. A part is
// renamed only once a size that agrees was read in its own place: a disagreeing size, or a
// server that answers the trailer before the transfer, never gets an unproven part published.
TEST(ScriptedAtomicUploads, TheSizeSentWithTheTransferDecidesTheRename)
{
    const std::string part = "sub/.x.html.tarnwick-part";
    const std::string stamp = "MFMT 20240102030405 " + part;
    const std::vector<std::string> first = { "STOR " + part, "SIZE " + part, stamp };
    const std::vector<std::string> early = { "STOR " + part, "SIZE " + part, stamp, "EPSV" };
    const auto sequence = [&](std::vector<std::vector<std::string>> pieces) {
        std::vector<std::string> all = { "USER u", "FEAT", "TYPE I", "EPSV" };
        for (const auto& piece : pieces)
            all.insert(all.end(), piece.begin(), piece.end());
        all.emplace_back("bye");
        return all;
    };
    const std::vector<std::string> rename = { "RNFR " + part, "RNTO sub/x.html" };
    const std::vector<std::string> passive = { "EPSV" };
    struct Row {
        const char* name;
        std::vector<Answer> stor;
        std::vector<std::string> size; // replies to SIZE, in order
        std::string mfmt;
        int code;
        std::vector<std::string> commands;
    };
    const Answer stored = Answer::receiving("150 Ok\r\n", "226 Done\r\n");
    const Row rows[] = {
        { "a size that agrees costs no question of its own", { stored }, { "213 2\r\n" }, "213 Modify=x\r\n", 226,
            sequence({ first, rename, passive }) },
        { "a size that disagrees sends again before anything is renamed", { stored }, { "213 9\r\n", "213 2\r\n" },
            "213 Modify=x\r\n", 226, sequence({ first, passive, early, rename }) },
        { "a missing part sends again", { stored }, { "550 No such file\r\n", "213 2\r\n" }, "213 Modify=x\r\n", 226,
            sequence({ first, passive, early, rename }) },
        { "a size that never agrees fails and removes the part", { stored }, { "213 9\r\n" }, "213 Modify=x\r\n",
            FtpClient::kTransferNotCarriedOut,
            sequence({ first, passive, early, early, early, early, { "DELE " + part } }) },
        { "a trailer answered before the transfer's end goes again behind its reply",
            { Answer::receiving("150 Ok\r\n", "213 2\r\n") }, { "226 Done\r\n", "213 2\r\n" }, "200 Ok\r\n", 226,
            sequence({ first, { "SIZE " + part, stamp, "EPSV" }, rename }) },
        { "a time refused before the transfer's end is no refused transfer",
            { Answer::receiving("150 Ok\r\n", "501 Operation not permitted\r\n") }, { "213 2\r\n" }, "226 Done\r\n",
            226, sequence({ first, { "SIZE " + part, stamp, "EPSV" }, rename }) },
        { "a STOR refused for a missing folder keeps the replies in step",
            { Answer::replies({ "550 No such folder\r\n" }), stored }, { "213 2\r\n" }, "213 Modify=x\r\n", 226,
            sequence({ first, { "MKD sub" }, passive, first, rename, passive }) },
        { "a server that does not know MFMT after all is not asked again", { stored }, { "213 9\r\n", "213 2\r\n" },
            "500 Unknown command\r\n", 226,
            sequence({ first, passive, { "STOR " + part, "SIZE " + part, "EPSV" }, rename }) },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeFtpServer server;
        server.on("USER", "230 Logged in\r\n");
        server.on("FEAT", "211-Features:\r\n SIZE\r\n MFMT\r\n211 End\r\n");
        for (const Answer& answer : row.stor)
            server.on("STOR", answer);
        for (const std::string& reply : row.size)
            server.on("SIZE", reply);
        server.on("MFMT", row.mfmt);
        server.on("RNFR", "350 Ready\r\n");
        server.on("MKD", "257 Made\r\n");
        MachineOptions options;
        options.checkFileSize = true;
        FtpClient client(options);
        FtpRecordingSink sink;
        TempDir local;
        local.writeFile("x.html", "xy");
        struct timespec times[2] {};
        times[0].tv_sec = times[1].tv_sec = 1704164645;
        ASSERT_EQ(::utimensat(AT_FDCWD, local.file("x.html").c_str(), times, 0), 0);
        ASSERT_TRUE(server.start());
        client.setEventSink(&sink);
        client.setAtomicUploads(true);
        client.setPassiveAhead(true);
        ASSERT_TRUE(client.connect(server.url(), "u", ""));
        ASSERT_TRUE(client.setLocalDirectory(local.path()));
        EXPECT_EQ(client.uploadWithRetry("sub/x.html", "x.html").code, row.code) << testing::PrintToString(sink.lines);
        client.quit();
        server.join();
        EXPECT_EQ(server.commands(), row.commands);
        // Every file byte went out over a data connection of its own, none to the control one.
        for (const std::string& received : server.received())
            EXPECT_EQ(received, "xy");
    }
}

// A server that offers MLST tells a folder from a file by its type fact, which stands inside
// the reply: only a file steps aside for the part that replaces it.
TEST(ScriptedAtomicUploads, OnlyAFileStepsAsideWhereMlstTellsTheType)
{
    const struct {
        const char* fact;
        int code;
        const char* next; // what follows the MLST
    } rows[] = {
        { "type=file;size=1;", 226, "RNFR x.html" },
        { "type=dir;", FtpClient::kTransferNotCarriedOut, "DELE .x.html.tarnwick-part" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fact);
        FakeFtpServer server;
        server.on("USER", "230 Logged in\r\n");
        server.on("FEAT", "211-Features:\r\n MLST type*;size*;\r\n211 End\r\n");
        server.on("MLST", std::string("250-Listing x.html\r\n ") + row.fact + " /x.html\r\n250 End\r\n");
        server.on("STOR", Answer::receiving("150 Ok\r\n", "226 Done\r\n"));
        server.on("RNFR", "350 Ready\r\n");
        for (const char* reply : { "553 Exists\r\n", "250 Ok\r\n", "250 Ok\r\n" })
            server.on("RNTO", reply);
        MachineOptions options = activeModeOptions();
        options.checkFileSize = false;
        FtpClient client(options);
        FtpRecordingSink sink;
        TempDir local;
        local.writeFile("x.html", "x");
        ASSERT_TRUE(server.start());
        client.setEventSink(&sink);
        client.setAtomicUploads(true);
        ASSERT_TRUE(client.connect(server.url(), "user", "secret"));
        ASSERT_TRUE(client.setLocalDirectory(local.path()));
        EXPECT_EQ(client.uploadWithRetry("x.html", "x.html").code, row.code);
        client.quit();
        server.join();
        const std::vector<std::string> commands = server.commands();
        const auto mlst = std::find(commands.begin(), commands.end(), "MLST x.html");
        ASSERT_NE(mlst, commands.end()) << testing::PrintToString(commands);
        ASSERT_NE(mlst + 1, commands.end());
        EXPECT_EQ(*(mlst + 1), row.next) << testing::PrintToString(commands);
    }
}

// A transfer the server does not confirm, or a size that never agrees, leaves no part behind.
TEST_F(ScriptedTransfers, FailedAtomicUploadsRemoveTheirPart)
{
    server.on("STOR", Answer::receiving("150 Ok\r\n", "451 Disk full\r\n"));
    server.on("STOR", Answer::receiving("150 Ok\r\n", "226 Done\r\n"));
    server.on("LIST",
        Answer::sending("150 Here\r\n", "-rw-r--r-- 1 u g 1 Jan 01 2020 .x.bin.tarnwick-part\r\n", "226 Done\r\n"));
    connect();
    client.setAtomicUploads(true);
    local.writeFile("x.bin", "12345");
    EXPECT_EQ(client.upload("x.bin", "x.bin").code, 451);
    EXPECT_EQ(client.uploadWithRetry("x.bin", "x.bin").code, FtpClient::kTransferNotCarriedOut);
    std::vector<std::string> commands = finish();
    std::vector<std::string> expected = { "TYPE I", "PORT", "STOR .x.bin.tarnwick-part", "DELE .x.bin.tarnwick-part" };
    for (int attempt = 0; attempt < FtpClient::kUploadAttempts; ++attempt) {
        for (const char* command : { "PORT", "STOR .x.bin.tarnwick-part", "PORT", "LIST .x.bin.tarnwick-part" })
            expected.emplace_back(command);
    }
    expected.insert(expected.end(), { "DELE .x.bin.tarnwick-part", "bye" });
    EXPECT_EQ(commands, expected);
}

TEST_F(ScriptedTransfers, UnsafeLocalNamesAreRefusedBeforeAnythingIsSent)
{
    connect();
    for (const char* name : { "../escape.html", "sub/../../escape.html", ".." }) {
        SCOPED_TRACE(name);
        EXPECT_EQ(client.download("escape.html", name).code, FtpClient::kTransferNotCarriedOut);
    }
    EXPECT_EQ(client.download(std::string("a\0b", 3), "a").code, FtpClient::kTransferNotCarriedOut);
    EXPECT_EQ(finish(), std::vector<std::string> { "bye" });
    EXPECT_EQ(sink.failedTransfers.size(), 4u);
}

} // namespace

TEST(ScriptedOutcomes, FailureSaysWhatTheCallerShouldDoNext)
{
    struct Row {
        const char* name;
        const char* verb;
        FakeFtpServer::Answer answer;
        bool upload; // else a deletion
        const char* localName;
        Failure failure;
        int systemError;
    };
    FakeFtpServer::Answer dropped = FakeFtpServer::Answer::replies({});
    dropped.close = true;
    const Row rows[] = {
        { "refused file", "STOR", FakeFtpServer::Answer::replies({ "553 No\r\n" }), true, "x.html", Failure::RetryItem,
            0 },
        { "missing local file", "STOR", FakeFtpServer::Answer::replies({ "553 No\r\n" }), true, "absent.html",
            Failure::RetryItem, ENOENT },
        { "refused deletion", "DELE", FakeFtpServer::Answer::replies({ "550 No\r\n" }), false, "", Failure::RetryItem,
            0 },
        { "server shutting down", "DELE", FakeFtpServer::Answer::replies({ "421 Bye\r\n" }), false, "",
            Failure::Reconnect, 0 },
        { "connection dropped", "DELE", dropped, false, "", Failure::Reconnect, 0 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeFtpServer server;
        server.on(row.verb, row.answer);
        ASSERT_TRUE(server.start());
        MachineOptions options = activeModeOptions();
        FtpClient client(options);
        TempDir local;
        local.writeFile("x.html", "x");
        ASSERT_TRUE(client.setLocalDirectory(local.path()));
        ASSERT_TRUE(client.connect(server.url(), "", ""));
        const ClientResult result
            = row.upload ? client.uploadWithRetry("x.html", row.localName) : client.deleteFile("x");
        EXPECT_STREQ(failureName(result.failure), failureName(row.failure));
        EXPECT_EQ(result.systemError, row.systemError);
        client.quit();
        server.join();
    }
}

// Continuing a part: REST and STOR where the server takes them, APPE where it refuses REST,
// and a whole send where the part cannot be continued. Only a part whose size then agrees
// is renamed into place.
TEST_F(ScriptedTransfers, ResumedUploadContinuesThePartOrSendsTheWholeFile)
{
    const std::string part = uploadPartName("big.bin");
    struct Row {
        const char* name;
        std::vector<std::pair<std::string, std::vector<Answer>>> answers;
        std::vector<std::string> commands; // after TYPE I and the first SIZE of the part
        std::vector<std::string> received;
    };
    const Answer stored = Answer::receiving("150 Ok\r\n", "226 Done\r\n");
    const auto replies = [](const char* reply) { return Answer::replies({ reply }); };
    const auto then = [&part](std::vector<std::string> commands) {
        for (const std::string& placed :
            { "SIZE " + part, "RNFR " + part, std::string("RNTO big.bin"), std::string("bye") })
            commands.push_back(placed);
        return commands;
    };
    const Row rows[] = {
        { "rest and stor", { { "SIZE", { replies("213 4\r\n"), replies("213 10\r\n") } }, { "STOR", { stored } } },
            then({ "PORT", "REST 4", "STOR " + part }), { "456789" } },
        { "rest refused: append",
            { { "SIZE", { replies("213 4\r\n"), replies("213 10\r\n") } }, { "REST", { replies("502 No\r\n") } },
                { "APPE", { stored } } },
            then({ "PORT", "REST 4", "APPE " + part }), { "456789" } },
        { "both refused: whole",
            { { "SIZE", { replies("213 4\r\n"), replies("213 10\r\n") } },
                { "STOR", { replies("550 Restart not permitted\r\n"), stored } },
                { "APPE", { replies("550 No\r\n") } } },
            then({ "PORT", "REST 4", "STOR " + part, "REST 0", "APPE " + part, "PORT", "STOR " + part }),
            { "0123456789" } },
        { "no part left",
            { { "SIZE", { replies("550 No such file\r\n"), replies("213 10\r\n") } }, { "STOR", { stored } } },
            then({ "PORT", "STOR " + part }), { "0123456789" } },
        { "part larger than the file",
            { { "SIZE", { replies("213 20\r\n"), replies("213 10\r\n") } }, { "STOR", { stored } } },
            then({ "PORT", "STOR " + part }), { "0123456789" } },
        { "continued part does not add up",
            { { "SIZE", { replies("213 4\r\n"), replies("213 9\r\n"), replies("213 10\r\n") } },
                { "STOR", { stored } } },
            then({ "PORT", "REST 4", "STOR " + part, "SIZE " + part, "PORT", "STOR " + part }),
            { "456789", "0123456789" } },
    };
    local.writeFile("big.bin", "0123456789");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeFtpServer scripted;
        scripted.on("USER", "230 Logged in\r\n");
        scripted.on("FEAT", "211-Features:\r\n SIZE\r\n211 End\r\n");
        scripted.on("RNFR", "350 Ready\r\n");
        scripted.on("RNTO", "250 Renamed\r\n");
        for (const auto& [verb, answers] : row.answers)
            for (const Answer& answer : answers)
                scripted.on(verb, answer);
        if (std::none_of(
                row.answers.begin(), row.answers.end(), [](const auto& answer) { return answer.first == "REST"; }))
            scripted.on("REST", "350 Restarting\r\n");
        ASSERT_TRUE(scripted.start());
        FtpClient resuming { options };
        resuming.setEventSink(&sink);
        resuming.setAtomicUploads(true);
        ASSERT_TRUE(resuming.connect(scripted.url(), "u", ""));
        ASSERT_TRUE(resuming.setLocalDirectory(local.path()));
        EXPECT_EQ(resuming.resumeUpload("big.bin", "big.bin").code, 226);
        resuming.quit();
        scripted.join();
        std::vector<std::string> commands;
        for (const std::string& command : scripted.commands())
            if (command != "FEAT" && command != "USER u" && command.rfind("OPTS", 0) != 0)
                commands.push_back(command.rfind("PORT ", 0) == 0 ? "PORT" : command);
        std::vector<std::string> expected = { "TYPE I", "SIZE " + part };
        expected.insert(expected.end(), row.commands.begin(), row.commands.end());
        EXPECT_EQ(commands, expected);
        EXPECT_EQ(scripted.received(), row.received);
    }
}
