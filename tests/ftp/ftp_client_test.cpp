#include "ftp/ftp_client.h"

#include "ftp/reply_reader.h"
#include "support/fake_ftp_server.h"
#include "support/ftp_recording_sink.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Answer = FakeFtpServer::Answer;
using namespace std::chrono_literals;

TEST(FtpClientLogin, FollowsTheServersAnswers)
{
    struct Case {
        const char* name;
        std::vector<std::string> greeting;
        std::string userReply;
        std::string passReply;
        std::string user;
        bool loggedIn;
        std::vector<std::string> commands;
        Failure failure = Failure::None;
    };
    const Case cases[] = {
        { "331 then 230", { "220 hi\r\n" }, "331 Password\r\n", "230 In\r\n", "anna", true,
            { "USER anna", "PASS pw" } },
        { "230 to USER needs no PASS", { "220 hi\r\n" }, "230 In\r\n", "", "anna", true, { "USER anna" } },
        { "wrong password", { "220 hi\r\n" }, "331 Password\r\n", "530 Login incorrect\r\n", "anna", false,
            { "USER anna", "PASS pw" }, Failure::GiveUpSite },
        { "user refused", { "220 hi\r\n" }, "530 Not allowed\r\n", "", "anna", false, { "USER anna" },
            Failure::GiveUpSite },
        { "at its limit of connections", { "220 hi\r\n" }, "421 Too many connections\r\n", "", "anna", false,
            { "USER anna" }, Failure::Reconnect },
        { "no user name: connect only", { "220 hi\r\n" }, "", "", "", true, {} },
        { "multi-line greeting in pieces", { "220-Welcome\r\n22", "0-more\r\n220 ready\r\n" }, "331 Password\r\n",
            "230 In\r\n", "anna", true, { "USER anna", "PASS pw" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFtpServer server;
        server.greet(c.greeting);
        if (!c.userReply.empty())
            server.on("USER", c.userReply);
        if (!c.passReply.empty())
            server.on("PASS", c.passReply);
        ASSERT_TRUE(server.start());
        MachineOptions options;
        FtpClient client(options);
        FtpRecordingSink sink;
        client.setEventSink(&sink);
        const ClientResult result = client.connect(server.url(), c.user, "pw");
        EXPECT_EQ(result.ok(), c.loggedIn);
        EXPECT_STREQ(failureName(result.failure), failureName(c.failure));
        EXPECT_EQ(client.state() == FtpClient::State::LoggedIn, c.loggedIn && !c.user.empty());
        client.quit();
        server.join();
        std::vector<std::string> expected = c.commands;
        if (c.loggedIn && !c.user.empty())
            expected.push_back("FEAT");
        expected.push_back("bye");
        EXPECT_EQ(server.commands(), expected);
        for (const std::string& line : sink.lines)
            EXPECT_EQ(line.find("PASS pw"), std::string::npos) << "password reached the log";
    }
}

TEST(FtpClientLogin, LogsThePasswordMasked)
{
    FakeFtpServer server;
    server.on("USER", "331 Password\r\n");
    server.on("PASS", "530 Wrong\r\n");
    ASSERT_TRUE(server.start());
    MachineOptions options;
    FtpClient client(options);
    FtpRecordingSink sink;
    client.setEventSink(&sink);
    EXPECT_FALSE(client.connect(server.url(), "anna", "pw"));
    EXPECT_EQ(client.lastCommand(), "PASS ****\r\n");
    EXPECT_EQ(sink.count("PASS ****"), 1);
}

TEST(FtpClientLogin, ReportsConnectFailuresWithTheirCode)
{
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::string closedPort = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    close(probe);

    struct Case {
        std::string url;
        std::string message;
        Failure failure; // a server not listening may be back later; an unusable address not
    };
    const Case cases[] = {
        { closedPort, "Error 111 in connect.connect\n", Failure::Reconnect },
        { "127.0.0.1:99999", "Error 22 in connect.connect\n", Failure::GiveUpSite },
        { "", "Error 22 in connect.connect\n", Failure::GiveUpSite },
    };
    for (const Case& c : cases) {
        MachineOptions options;
        FtpClient client(options);
        FtpRecordingSink sink;
        client.setEventSink(&sink);
        const ClientResult result = client.connect(c.url, "anna", "pw");
        EXPECT_FALSE(result) << c.url;
        EXPECT_STREQ(failureName(result.failure), failureName(c.failure)) << c.url;
        EXPECT_EQ(sink.lines, std::vector<std::string> { c.message }) << c.url;
        // A client that never connected fails its operations without hanging.
        EXPECT_EQ(client.command("NOOP"), 0);
        EXPECT_EQ(client.currentDirectory(), "");
    }
}

TEST(FtpClientReplies, MultiLineReplyCutAnywhereKeepsCommandsInStep)
{
    const std::string reply = "211-Features:\r\n MDTM\r\n SIZE\r\n211 End\r\n";
    for (size_t cut = 1; cut < reply.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        FakeFtpServer server;
        server.on("FEAT", Answer::replies({ reply.substr(0, cut), reply.substr(cut) }));
        server.on("PWD", "257 \"/home\" is current\r\n");
        ASSERT_TRUE(server.start());
        MachineOptions options;
        FtpClient client(options);
        FtpRecordingSink sink;
        client.setEventSink(&sink);
        ASSERT_TRUE(client.connect(server.url(), "", ""));
        EXPECT_EQ(client.sendRaw("FEAT\r\n"), "211 End");
        EXPECT_EQ(client.currentDirectory(), "/home");
        EXPECT_EQ(std::count(sink.lines.begin(), sink.lines.end(), " MDTM"), 1);
    }
}

TEST(FtpClientReplies, SilentServerTimesOutAndBreaksTheClient)
{
    FakeFtpServer server;
    server.on("NOOP", Answer::silence());
    ASSERT_TRUE(server.start());
    MachineOptions options;
    FtpClient client(options, 200ms);
    FtpRecordingSink sink;
    client.setEventSink(&sink);
    ASSERT_TRUE(client.connect(server.url(), "", ""));
    ASSERT_FALSE(client.timedOut());

    EXPECT_EQ(client.command("NOOP"), 0);
    EXPECT_TRUE(client.timedOut());
    EXPECT_TRUE(client.isBroken());
    EXPECT_EQ(client.failureCount(), FtpClient::kBrokenAfterFailures + 1);
    EXPECT_EQ(client.state(), FtpClient::State::Disconnected);
    EXPECT_EQ(
        std::count(sink.lines.begin(), sink.lines.end(), "Receive.recv returned: 110 (Connection timed out)\n"), 1);
    // Later commands return at once: the connection is gone, so nothing is sent or read, and
    // the loss is not reported again.
    size_t reported = sink.lines.size();
    EXPECT_EQ(client.command("NOOP"), 0);
    EXPECT_EQ(sink.lines.size(), reported + 1);
    EXPECT_EQ(sink.lines.back(), "NOOP\r\n");
    EXPECT_EQ(client.failureCount(), FtpClient::kBrokenAfterFailures + 1);
}

TEST(FtpClientReplies, SilentGreetingFailsTheConnect)
{
    FakeFtpServer server;
    server.greet({});
    ASSERT_TRUE(server.start());
    MachineOptions options;
    FtpClient client(options, 100ms);
    EXPECT_FALSE(client.connect(server.url(), "", ""));
    EXPECT_TRUE(client.timedOut());
}

TEST(FtpClientReplies, ServerClosingTheConnectionEndsTheWait)
{
    FakeFtpServer server;
    Answer closing = Answer::replies({ "421 Bye\r\n" });
    closing.close = true;
    server.on("NOOP", closing);
    ASSERT_TRUE(server.start());
    MachineOptions options;
    FtpClient client(options);
    FtpRecordingSink sink;
    client.setEventSink(&sink);
    ASSERT_TRUE(client.connect(server.url(), "", ""));
    EXPECT_EQ(client.command("NOOP"), 421);
    EXPECT_EQ(client.command("NOOP"), 0);
    EXPECT_EQ(client.command("NOOP"), 0);
    EXPECT_EQ(client.list("").code, FtpClient::kTransferNotCarriedOut);
    EXPECT_FALSE(client.timedOut());
    EXPECT_TRUE(client.isBroken());
    const std::string lost = "Receive.recv returned: 0 (connection closed by the server)\n";
    auto diagnostics = [&sink] {
        return std::count_if(sink.lines.begin(), sink.lines.end(), [](const std::string& line) {
            return line.find("returned") != std::string::npos || line.find("SendCommand") != std::string::npos
                || line.starts_with("Error");
        });
    };
    EXPECT_EQ(std::count(sink.lines.begin(), sink.lines.end(), lost), 1);
    EXPECT_EQ(diagnostics(), 1) << "a lost connection is reported once";
    // A new connect starts counting again, and a new loss is reported again.
    FakeFtpServer second;
    second.on("NOOP", closing);
    ASSERT_TRUE(second.start());
    ASSERT_TRUE(client.connect(second.url(), "", ""));
    EXPECT_EQ(client.failureCount(), 0);
    EXPECT_EQ(client.command("NOOP"), 421);
    EXPECT_EQ(client.command("NOOP"), 0);
    EXPECT_EQ(std::count(sink.lines.begin(), sink.lines.end(), lost), 2);
}

TEST(FtpClientReplies, EndlessOrTricklingRepliesFailTheConnection)
{
    Answer endless = Answer::replies({ "211-endless\r\n" });
    endless.repeat = 2 * ReplyReader::kMaxReplyLines;
    Answer endlessLine = Answer::replies({ "211 ", std::string(8192, 'x') });
    endlessLine.repeat = 2 * ReplyReader::kMaxLineLength / 8192;
    Answer wide = Answer::replies({ "211-" + std::string(60 * 1024, 'w') + "\r\n" });
    wide.repeat = 40;
    Answer trickle = Answer::replies({ "211-a\r\n" });
    trickle.repeat = 1000; // 20 s at most: the client must give up long before
    trickle.pause = 20ms;
    struct Case {
        const char* name;
        Answer answer;
        std::string message;
        bool timedOut;
        // The limits must be reached before the budget ends, even in a slow sanitizer build;
        // only the trickle is meant to outlast it.
        std::chrono::milliseconds budget;
    };
    const Case cases[] = {
        { "endless multi-line reply", endless, "Error server sent a reply of more than 10000 lines 71\n", false,
            3000ms },
        { "endless line", endlessLine, "Error server sent a reply line longer than 64 KiB 71\n", false, 3000ms },
        { "reply over a mebibyte", wide, "Error server sent a reply of more than 1 MiB 71\n", false, 3000ms },
        { "a line every 20 ms", trickle, "Receive.recv returned: 110 (Connection timed out)\n", true, 300ms },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFtpServer server;
        server.on("NOOP", c.answer);
        ASSERT_TRUE(server.start());
        MachineOptions options;
        FtpClient client(options, c.budget);
        FtpRecordingSink sink;
        client.setEventSink(&sink);
        ASSERT_TRUE(client.connect(server.url(), "", ""));
        auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(client.command("NOOP"), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
        EXPECT_EQ(client.state(), FtpClient::State::Disconnected);
        EXPECT_TRUE(client.isBroken());
        EXPECT_EQ(client.timedOut(), c.timedOut);
        EXPECT_EQ(std::count(sink.lines.begin(), sink.lines.end(), c.message), 1);
        EXPECT_LE(sink.lines.size(), ReplyReader::kMaxReplyLines + 10);
        EXPECT_EQ(client.command("NOOP"), 0);
    }
}

TEST(FtpClientReplies, ServerTextIsShownWithItsControlCharactersEscaped)
{
    FakeFtpServer server;
    server.greet({ "220-\x1b]0;owned\x07 \xc3\xa4\r\n220 \x1b[2J\tready\r\n" });
    server.on("PWD", "257 \"/t\x1b[8m\" is current\r\n");
    ASSERT_TRUE(server.start());
    MachineOptions options;
    FtpClient client(options);
    FtpRecordingSink sink;
    client.setEventSink(&sink);
    ASSERT_TRUE(client.connect(server.url(), "", ""));
    // The name is taken as the server sent it; only what is shown is escaped.
    const std::string directory = client.currentDirectory();
    EXPECT_EQ(directory, "/t\x1b[8m");
    EXPECT_EQ(client.command("CWD %s", directory.c_str()), 200);
    const std::vector<std::string> expected = { "220-\\x1B]0;owned\\x07 \xc3\xa4", "220 \\x1B[2J\tready", "PWD\r\n",
        "257 \"/t\\x1B[8m\" is current", "CWD /t\\x1B[8m\r\n", "200 OK" };
    EXPECT_EQ(sink.lines, expected);
    client.quit();
    server.join();
    EXPECT_EQ(server.commands()[1], "CWD /t\x1b[8m");
}

TEST(FtpClientCommands, RefusesLineBreaksInsteadOfSendingTwoCommands)
{
    FakeFtpServer server;
    ASSERT_TRUE(server.start());
    MachineOptions options;
    FtpClient client(options);
    ASSERT_TRUE(client.connect(server.url(), "", ""));
    EXPECT_EQ(client.command("CWD %s", "a\r\nDELE b"), 0);
    EXPECT_EQ(client.deleteFile(std::string("x\0y", 3)).code, 0);
    EXPECT_EQ(client.command("NOOP"), 200);
    client.quit();
    server.join();
    EXPECT_EQ(server.commands(), (std::vector<std::string> { "NOOP", "bye" }));
}

TEST(FtpClientCommands, EventSinkCanBeSwappedAndRestored)
{
    MachineOptions options;
    FtpClient client(options);
    FtpRecordingSink first;
    FtpRecordingSink second;
    EXPECT_EQ(client.setEventSink(&first), nullptr);
    EXPECT_EQ(client.setEventSink(&second), &first);
    EXPECT_EQ(client.setEventSink(nullptr), &second);
    client.eventSink().message("x"); // the client's own sink swallows it
    EXPECT_TRUE(first.lines.empty());
    EXPECT_TRUE(second.lines.empty());
}

} // namespace
