#include "ftp/ftp_client.h"
#include "session/next_token.h"

#include "support/fake_ftp_server.h"
#include "support/ftp_recording_sink.h"
#include "support/ftp_server.h"
#include "support/required_server.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

namespace {

class RealServerDirectories : public ::testing::TestWithParam<FtpServer::Kind> {
protected:
    void SetUp() override
    {
        SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(GetParam()));
        ASSERT_TRUE(server.start()) << server.error();
        client.setEventSink(&sink);
        ASSERT_TRUE(client.connect(server.url(), server.user(), server.password()));
    }

    MachineOptions options;
    FtpServer server { GetParam() };
    FtpClient client { options };
    FtpRecordingSink sink;
};

TEST_P(RealServerDirectories, MakeDirectoryCreatesMissingParents)
{
    EXPECT_EQ(client.makeDirectory("/a/b/c").code, 257);
    EXPECT_TRUE(std::filesystem::is_directory(server.pathOf("a/b/c")));
    EXPECT_EQ(client.makeDirectory("/with blank/x").code, 257);
    EXPECT_TRUE(std::filesystem::is_directory(server.pathOf("with blank/x")));
}

TEST_P(RealServerDirectories, RenameDeleteAndRemoveChangeTheServerFolder)
{
    // Made through the server, so that its own user may change it.
    ASSERT_EQ(client.makeDirectory("/old").code, 257);
    std::ofstream(server.pathOf("old/page.html")) << "p";
    (void)client.rename("/old/page.html", "/old/renamed.html");
    EXPECT_TRUE(std::filesystem::exists(server.pathOf("old/renamed.html")));
    EXPECT_EQ(client.deleteFile("/old/renamed.html").code / 100, 2);
    EXPECT_FALSE(std::filesystem::exists(server.pathOf("old/renamed.html")));
    EXPECT_TRUE(client.removeDirectory("/old").ok());
    EXPECT_FALSE(std::filesystem::exists(server.pathOf("old")));
    // A rename whose source is missing sends no RNTO.
    (void)client.rename("/nothing", "/else");
    EXPECT_EQ(sink.count("RNTO"), 1);
}

TEST_P(RealServerDirectories, ChangeAndPrintTheCurrentDirectory)
{
    std::filesystem::create_directories(server.pathOf("web/sub"));
    EXPECT_EQ(client.currentDirectory(), "/");
    EXPECT_EQ(client.changeDirectory("/web/sub").code, 250);
    EXPECT_EQ(client.currentDirectory(), "/web/sub");
    EXPECT_EQ(client.changeDirectory("/missing").code / 100, 5);
}

TEST_P(RealServerDirectories, ListEntriesDescribesFilesAndFolders)
{
    std::filesystem::create_directories(server.pathOf("site/images"));
    std::ofstream(server.pathOf("site/index.html")) << std::string(1234, 'x');
    std::ofstream(server.pathOf("site/a name.txt")) << "abc";
    EXPECT_EQ(client.list("/site").code, 226);
    EXPECT_NE(client.lastListing().find("index.html"), std::string::npos);

    std::vector<RemoteEntry> entries = client.listEntries("/site");
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "a name.txt");
    EXPECT_EQ(entries[0].size, 3);
    EXPECT_FALSE(entries[0].isDirectory);
    EXPECT_EQ(entries[1].name, "images");
    EXPECT_TRUE(entries[1].isDirectory);
    EXPECT_EQ(entries[2].name, "index.html");
    EXPECT_EQ(entries[2].size, 1234);
    EXPECT_GT(entries[2].modificationTime, 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerDirectories,
    ::testing::Values(FtpServer::Kind::Pyftpdlib, FtpServer::Kind::Vsftpd, FtpServer::Kind::Proftpd),
    [](const auto& info) { return std::string(FtpServer::nameOf(info.param)); });

// Runs `action` against a scripted server and answers the commands it received.
std::vector<std::string> scripted(FakeFtpServer& server, const std::function<void(FtpClient&)>& action)
{
    EXPECT_TRUE(server.start());
    MachineOptions options;
    FtpClient client(options);
    EXPECT_TRUE(client.connect(server.url(), "", ""));
    action(client);
    client.quit();
    server.join();
    std::vector<std::string> commands = server.commands();
    commands.pop_back(); // bye
    return commands;
}

TEST(ScriptedDirectories, MakeDirectoryAfter550TriesEachLevel)
{
    FakeFtpServer server;
    server.on("MKD", "550 No such directory\r\n");
    int result = 0;
    auto commands = scripted(server, [&](FtpClient& client) { result = client.makeDirectory("/top/mid/leaf").code; });
    EXPECT_EQ(result, 550);
    EXPECT_EQ(
        commands, (std::vector<std::string> { "MKD /top/mid/leaf", "MKD /top", "MKD /top/mid", "MKD /top/mid/leaf" }));
}

TEST(ScriptedDirectories, ChangeDirectoryFollowsAListedLink)
{
    FakeFtpServer server;
    auto commands = scripted(server, [](FtpClient& client) {
        (void)client.changeDirectory(directoryArgument("\"www -> /var/www\""));
        (void)client.changeDirectory(directoryArgument("plain other"));
        (void)client.changeDirectory(directoryArgument("\"broken ->\""));
    });
    EXPECT_EQ(commands, (std::vector<std::string> { "CWD /var/www", "CWD plain", "CWD " }));
}

TEST(ScriptedDirectories, CurrentDirectoryReadsTheQuotedPath)
{
    struct Case {
        const char* reply;
        const char* path;
    };
    const Case cases[] = {
        { "257 \"/web/sub\" is the current directory\r\n", "/web/sub" },
        { "257 \"/it\"\"s\" quoted quote\r\n", "/it\"s" },
        { "257 no quotes at all\r\n", "" },
        { "257 \"unclosed\r\n", "" },
        { "550 Not allowed \"/x\"\r\n", "" },
    };
    for (const Case& c : cases) {
        FakeFtpServer server;
        server.on("PWD", c.reply);
        std::string path = "<unset>";
        scripted(server, [&](FtpClient& client) { path = client.currentDirectory(); });
        EXPECT_EQ(path, c.path) << c.reply;
    }
}

} // namespace
