#include "ftp/ftp_client.h"

#include "platform/file_utils.h"
#include "support/fake_ftp_server.h"
#include "support/ftp_recording_sink.h"
#include "support/ftp_server.h"
#include "support/required_server.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <strings.h>
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
        EXPECT_EQ(client.upload(c.name, c.name), 226);
        EXPECT_TRUE(contentOf(server.pathOf(c.name)) == bytes);
        std::string back = std::string("back-") + c.name;
        EXPECT_EQ(client.download(c.name, back), 226);
        EXPECT_TRUE(contentOf(local.file(back)) == bytes);
    }
    EXPECT_TRUE(sink.failedTransfers.empty());
}

TEST_P(RealServerTransfers, SizeCheckResendsAFileTruncatedBehindTheClientsBack)
{
    std::string bytes = patternBytes(100000);
    local.writeFile("page.bin", bytes);
    bool truncated = false;
    sink.lineHook = [&](const std::string& line) {
        if (!truncated && line.rfind("226", 0) == 0 && sink.count("STOR") == 1) {
            truncated = true;
            ASSERT_EQ(truncate(server.pathOf("page.bin").c_str(), 10), 0);
        }
    };
    options.checkFileSize = true;
    EXPECT_EQ(client.uploadWithRetry("page.bin", "page.bin"), 226);
    EXPECT_TRUE(truncated);
    EXPECT_EQ(sink.count("STOR"), 2);
    EXPECT_TRUE(contentOf(server.pathOf("page.bin")) == bytes);

    options.checkFileSize = false;
    int listsBefore = sink.count("LIST");
    EXPECT_EQ(client.uploadWithRetry("page.bin", "page.bin"), 226);
    EXPECT_EQ(sink.count("LIST"), listsBefore);
}

TEST_P(RealServerTransfers, UploadCreatesTheMissingFolderAndRetries)
{
    local.writeFile("x.html", "<p>x</p>");
    EXPECT_EQ(client.uploadWithRetry("/new/deeper/x.html", "x.html"), 226);
    EXPECT_EQ(contentOf(server.pathOf("new/deeper/x.html")), "<p>x</p>");
}

TEST_P(RealServerTransfers, UnreadableLocalFileNeverReplacesTheServerCopy)
{
    std::filesystem::create_directories(server.root() + "/folder.html");
    std::ofstream(server.pathOf("keep.html")) << "good";
    local.makeDirectory("folder.html");
    for (const char* localName : { "missing.html", "folder.html" }) {
        SCOPED_TRACE(localName);
        EXPECT_EQ(client.uploadWithRetry("keep.html", localName), FtpClient::kTransferNotCarriedOut);
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
    EXPECT_EQ(client.download("index.html", "index.html"), FtpClient::kTransferNotCarriedOut);
    EXPECT_EQ(contentOf(local.file("index.html")), "mine");
    EXPECT_EQ(std::count(sink.lines.begin(), sink.lines.end(), "File Error 11\n"), 1);

    EXPECT_EQ(client.download("absent.html", "absent.html"), 0);
    EXPECT_FALSE(std::filesystem::exists(local.file("absent.html")));
    EXPECT_EQ(sink.count("RETR"), 1);
}

TEST_P(RealServerTransfers, TypeFollowsTheAsciiExtensions)
{
    local.writeFile("page.HTML", "<html>\n</html>\n");
    local.writeFile("archive.tar.gz", "gz");
    local.writeFile("README", "plain");
    EXPECT_EQ(client.upload("a.html", "page.HTML"), 226);
    client.loadAsciiExtensions(local.file("no-such-ascii.ini"));
    EXPECT_EQ(client.upload("b.html", "page.HTML"), 226);
    EXPECT_EQ(client.upload("c.tar.gz", "archive.tar.gz"), 226);
    EXPECT_EQ(client.upload("README", "README"), 226); // TYPE I is still in effect
    EXPECT_EQ(client.runScriptLine("type a"), 0); // changed behind the transfers' back
    EXPECT_EQ(client.upload("README", "README"), 226);
    std::vector<std::string> types;
    for (const std::string& command : sink.commands()) {
        if (strncasecmp(command.c_str(), "TYPE", 4) == 0)
            types.push_back(command);
    }
    EXPECT_EQ(types, (std::vector<std::string> { "TYPE I", "TYPE A", "TYPE I", "type a", "TYPE I" }));
    EXPECT_EQ(contentOf(server.pathOf("b.html")), "<html>\n</html>\n");
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerTransfers,
    ::testing::Combine(::testing::Values(FtpServer::Kind::Pyftpdlib, FtpServer::Kind::Vsftpd, FtpServer::Kind::Proftpd),
        ::testing::Bool()),
    [](const auto& info) {
        return std::string(FtpServer::nameOf(std::get<0>(info.param)))
            + (std::get<1>(info.param) ? "_passive" : "_active");
    });

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
    EXPECT_EQ(client.uploadWithRetry("sub/x.html", "x.html"), FtpClient::kTransferNotCarriedOut);
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
    EXPECT_EQ(client.uploadWithRetry("x.bin", "x.bin"), FtpClient::kTransferNotCarriedOut);
    EXPECT_EQ(sink.count("STOR"), 5);
    EXPECT_EQ(server.received(), std::vector<std::string>(5, "12345"));
    EXPECT_EQ(sink.failedTransfers, std::vector<std::string> { "x.bin" });
    // Ascii mode is never verified.
    EXPECT_EQ(client.uploadWithRetry("x.bin", "x.bin", TransferMode::Ascii), 226);
    EXPECT_EQ(sink.count("STOR"), 6);
    // Once the server keeps what it gets, the same file goes up in one send.
    EXPECT_EQ(client.uploadWithRetry("x.bin", "x.bin"), 226);
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
    EXPECT_EQ(client.download("gone.html", "gone.html"), 0);
    EXPECT_FALSE(std::filesystem::exists(local.file("gone.html")));
    EXPECT_EQ(client.list("/"), 0);
    EXPECT_EQ(client.lastListing(), "");
    EXPECT_EQ(sink.failedTransfers, std::vector<std::string> { "gone.html" });
}

TEST_F(ScriptedTransfers, ReplyAfterTheDataDecidesAndPartialDownloadsAreRemoved)
{
    server.on("RETR", Answer::sending("150 Opening\r\n", "partial", "426 Connection closed; transfer aborted\r\n"));
    connect();
    EXPECT_EQ(client.download("a.bin", "a.bin"), 426);
    EXPECT_FALSE(std::filesystem::exists(local.file("a.bin")));
}

TEST_F(ScriptedTransfers, TwoRepliesInOnePacketKeepLaterCommandsInStep)
{
    server.on("RETR", Answer::sending("150 Opening\r\n226 Done\r\n", "payload", ""));
    server.on("PWD", "257 \"/web\" is current\r\n");
    connect();
    EXPECT_EQ(client.download("a.bin", "a.bin"), 226);
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
    EXPECT_EQ(client.upload("x.bin", "x.bin"), FtpClient::kTransferNotCarriedOut);
    EXPECT_TRUE(client.timedOut());
    EXPECT_EQ(client.failureCount(), 1);
    EXPECT_EQ(std::count(sink.lines.begin(), sink.lines.end(), "Error receive.accept 110\n"), 1);
    EXPECT_EQ(client.currentDirectory(), "/web");
}

TEST_F(ScriptedTransfers, PortCarriesTheControlConnectionsAddressAndTheListeningPort)
{
    server.on("LIST", Answer::sending("150 Here\r\n", "+i8388621.29609,m824255902,/,\tdev\r\n", "226 Done\r\n"));
    connect();
    EXPECT_EQ(client.list(""), 226);
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

TEST_F(ScriptedTransfers, UnsafeLocalNamesAreRefusedBeforeAnythingIsSent)
{
    connect();
    for (const char* name : { "../escape.html", "sub/../../escape.html", ".." }) {
        SCOPED_TRACE(name);
        EXPECT_EQ(client.download("escape.html", name), FtpClient::kTransferNotCarriedOut);
    }
    EXPECT_EQ(client.download(std::string("a\0b", 3), "a"), FtpClient::kTransferNotCarriedOut);
    EXPECT_EQ(finish(), std::vector<std::string> { "bye" });
    EXPECT_EQ(sink.failedTransfers.size(), 4u);
}

} // namespace
