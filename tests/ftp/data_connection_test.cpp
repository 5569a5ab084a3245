#include "ftp/ftp_client.h"

#include "support/fake_ftp_server.h"
#include "support/ftp_recording_sink.h"
#include "support/ftp_server.h"
#include "support/required_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

using Answer = FakeFtpServer::Answer;

const char* const kListing = "-rw-r--r--   1 web web   5 Jan  1  2020 a.txt\r\n";

struct Session {
    FakeFtpServer server;
    MachineOptions options;
    FtpClient client { options };
    FtpRecordingSink sink;

    void connect(const std::string& user = "")
    {
        ASSERT_TRUE(server.start());
        client.setEventSink(&sink);
        ASSERT_TRUE(client.connect(server.url(), user, "pw"));
    }
    // Ends the session and answers the commands the server saw, before "bye".
    std::vector<std::string> finish()
    {
        client.quit();
        server.join();
        std::vector<std::string> commands = server.commands();
        if (!commands.empty() && commands.back() == "bye")
            commands.pop_back();
        return commands;
    }
};

} // namespace

TEST(PassiveDataConnection, RepliesTheClientMustNotFollow)
{
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> script;
        int result;
        std::vector<std::string> commands;
    };
    const Case cases[] = {
        { "EPSV names only a port", {}, 226, { "EPSV", "LIST " } },
        { "a 227 naming another host is connected at the control peer",
            { { "EPSV", "502 Not here\r\n" }, { "PASV", "227 Entering Passive Mode (127,0,0,2,{P1},{P2})\r\n" } }, 226,
            { "EPSV", "PASV", "LIST " } },
        { "garbage in 229", { { "EPSV", "229 Entering Extended Passive Mode (|||99999|)\r\n" } },
            FtpClient::kTransferNotCarriedOut, { "EPSV" } },
        { "garbage in 227",
            { { "EPSV", "500 What\r\n" }, { "PASV", "227 Entering Passive Mode (127,0,0,1,300,{P2})\r\n" } },
            FtpClient::kTransferNotCarriedOut, { "EPSV", "PASV" } },
        { "both refused", { { "EPSV", "500 What\r\n" }, { "PASV", "502 No\r\n" } }, FtpClient::kTransferNotCarriedOut,
            { "EPSV", "PASV" } },
        { "EPSV failing otherwise is no refusal", { { "EPSV", "421 Too many\r\n" } }, FtpClient::kTransferNotCarriedOut,
            { "EPSV" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session session;
        for (const auto& [verb, reply] : c.script)
            session.server.on(verb, reply);
        session.server.on("LIST", Answer::sending("150 Here\r\n", kListing, "226 Done\r\n"));
        session.connect();
        EXPECT_EQ(session.client.list("").code, c.result);
        EXPECT_EQ(session.client.lastListing(), c.result == 226 ? kListing : "");
        EXPECT_EQ(session.client.failureCount(), c.result == 226 ? 0 : 1);
        EXPECT_EQ(session.finish(), c.commands);
    }
}

TEST(PassiveDataConnection, RefusedEpsvIsAskedOncePerSession)
{
    Session session;
    session.server.on("EPSV", "500 Unknown command\r\n");
    session.server.on("LIST", Answer::sending("150 Here\r\n", kListing, "226 Done\r\n"));
    session.connect();
    EXPECT_EQ(session.client.list("/a").code, 226);
    EXPECT_EQ(session.client.list("/b").code, 226);
    EXPECT_EQ(session.server.passiveRequests(), (std::vector<std::string> { "EPSV", "PASV", "PASV" }));
    EXPECT_EQ(session.finish(), (std::vector<std::string> { "EPSV", "PASV", "LIST /a", "PASV", "LIST /b" }));
}

TEST(ServerFeatures, FeatDecidesSizeAndMlsd)
{
    const std::string feat = "211-Features:\r\n SIZE\r\n MLST type*;size*;modify*;\r\n mdtm\r\n211 End\r\n";
    struct Case {
        const char* name;
        std::string featReply;
        ServerFeatures features;
    };
    const Case cases[] = {
        { "both", feat, { true, true } },
        { "in lower case and one packet", "211-x\r\n size\r\n mlst type*;\r\n211 End\r\n", { true, true } },
        { "none", "211-Features:\r\n MDTM\r\n211 End\r\n", { false, false } },
        { "refused", "500 FEAT not understood\r\n", { false, false } },
        { "words at the line start are no features", "211-SIZE\r\nMLST\r\n211 End\r\n", { false, false } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session session;
        session.server.on("USER", "230 In\r\n");
        session.server.on("FEAT", c.featReply);
        session.connect("anna");
        EXPECT_EQ(session.client.features(), c.features);
        EXPECT_EQ(session.finish(), (std::vector<std::string> { "USER anna", "FEAT" }));
    }
}

TEST(ServerFeatures, SizeCheckUsesSizeInBinaryType)
{
    struct Case {
        const char* name;
        std::string sizeReply;
        bool same;
        std::vector<std::string> afterSize;
    };
    const Case cases[] = {
        { "same size", "213 5\r\n", true, {} },
        { "other size", "213 4\r\n", false, {} },
        { "missing file", "550 No such file\r\n", false, {} },
        { "SIZE refused after all: the listing tells", "502 Not now\r\n", true, { "EPSV", "LIST x.bin" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session session;
        TempDir local;
        local.writeFile("x.bin", "12345");
        ASSERT_TRUE(session.client.setLocalDirectory(local.path()));
        session.server.on("USER", "230 In\r\n");
        session.server.on("FEAT", "211-Features:\r\n SIZE\r\n211 End\r\n");
        session.server.on("SIZE", c.sizeReply);
        session.server.on("LIST", Answer::sending("150 Here\r\n", kListing, "226 Done\r\n"));
        session.connect("anna");
        EXPECT_EQ(session.client.sameSizeOnServer("x.bin", "x.bin"), c.same);
        std::vector<std::string> expected { "USER anna", "FEAT", "TYPE I", "SIZE x.bin" };
        expected.insert(expected.end(), c.afterSize.begin(), c.afterSize.end());
        EXPECT_EQ(session.finish(), expected);
    }
}

TEST(ServerFeatures, MlsdListsTheSameEntriesAsList)
{
    const std::string mlsd = "type=cdir;modify=20200101000000; .\r\n"
                             "type=file;size=5;modify=20200101000000; a.txt\r\n"
                             "type=dir;modify=20200101000000; sub\r\n";
    const std::string list = "-rw-r--r--   1 web web   5 Jan  1  2020 a.txt\r\n"
                             "drwxr-xr-x   2 web web   4096 Jan  1  2020 sub\r\n";
    struct Case {
        const char* name;
        const char* feat;
        Answer mlsdAnswer;
        std::string dataVerb;
    };
    const Case cases[] = {
        { "MLST offered", "211-Features:\r\n MLST type*;size*;modify*;\r\n211 End\r\n",
            Answer::sending("150 Here\r\n", mlsd, "226 Done\r\n"), "MLSD /web" },
        { "MLSD refused falls back to LIST", "211-Features:\r\n MLST type*;\r\n211 End\r\n",
            Answer::replies({ "500 No\r\n" }), "LIST /web" },
        { "not offered", "211-Features:\r\n SIZE\r\n211 End\r\n", Answer::replies({ "500 No\r\n" }), "LIST /web" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session session;
        session.server.on("USER", "230 In\r\n");
        session.server.on("FEAT", c.feat);
        session.server.on("MLSD", c.mlsdAnswer);
        session.server.on("LIST", Answer::sending("150 Here\r\n", list, "226 Done\r\n"));
        session.connect("anna");
        std::vector<RemoteEntry> entries = session.client.listEntries("/web");
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].name, "a.txt");
        EXPECT_EQ(entries[0].size, 5);
        EXPECT_FALSE(entries[0].isDirectory);
        EXPECT_EQ(entries[1].name, "sub");
        EXPECT_TRUE(entries[1].isDirectory);
        std::vector<std::string> commands = session.finish();
        EXPECT_NE(std::find(commands.begin(), commands.end(), c.dataVerb), commands.end());
    }
}

TEST(Ipv6DataConnections, EpsvAndEprtOnLoopback)
{
    std::string reason = FtpServer::ipv6UnavailableReason();
    if (!reason.empty())
        GTEST_SKIP() << reason;
    for (FtpServer::Kind kind : { FtpServer::Kind::Pyftpdlib, FtpServer::Kind::Vsftpd }) {
        if (leaveOutServer(FtpServer::unavailableReason(kind)))
            continue;
        for (bool passive : { true, false }) {
            SCOPED_TRACE(std::string(kind == FtpServer::Kind::Vsftpd ? "vsftpd" : "pyftpdlib")
                + (passive ? " passive" : " active"));
            FtpServer server(kind, FtpServer::Setup { "::1", FtpServer::Tls::None, "" });
            ASSERT_TRUE(server.start()) << server.error();
            EXPECT_EQ(server.url().rfind("[::1]:", 0), 0u);
            MachineOptions options;
            options.passive = passive;
            FtpClient client(options);
            FtpRecordingSink sink;
            client.setEventSink(&sink);
            TempDir local;
            local.writeFile("v6.html", "over IPv6");
            ASSERT_TRUE(client.setLocalDirectory(local.path()));
            ASSERT_TRUE(client.connect(server.url(), server.user(), server.password()));
            EXPECT_EQ(client.upload("v6.html", "v6.html").code, 226);
            std::vector<RemoteEntry> entries = client.listEntries("/");
            ASSERT_EQ(entries.size(), 1u);
            EXPECT_EQ(entries[0].name, "v6.html");
            EXPECT_EQ(entries[0].size, 9);
            EXPECT_EQ(sink.count(passive ? "EPSV" : "EPRT |2|::1|"), 2);
            EXPECT_EQ(sink.count("PORT"), 0);
        }
    }
}
