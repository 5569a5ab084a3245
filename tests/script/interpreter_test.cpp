#include "ftp/ftp_client.h"
#include "script/interpreter.h"

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

namespace {

using Answer = FakeFtpServer::Answer;

std::vector<std::string> serverFiles(const std::string& root)
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            files.push_back(std::filesystem::relative(entry.path(), root).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class InterpreterOnRealServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
        ASSERT_TRUE(server.start()) << server.error();
        client.setEventSink(&sink);
        ASSERT_TRUE(client.connect(server.url(), server.user(), server.password()));
    }

    MachineOptions options;
    FtpServer server;
    TempDir local;
    FtpClient client { options };
    FtpRecordingSink sink;
};

TEST_F(InterpreterOnRealServer, RunsAQueuedUploadScript)
{
    std::string web = local.makeDirectory("web");
    local.writeFile("web/index.html", "<h1>home</h1>");
    local.writeFile("web/sub/a b.html", "blank in name");
    local.writeFile("web/sub/x.css", "new css");
    std::filesystem::create_directories(server.pathOf("sub"));
    std::ofstream(server.pathOf("sub/x.css")) << "old css";
    std::ofstream(server.pathOf("gone.html")) << "gone";

    struct Step {
        std::string line;
        int result;
    };
    const Step steps[] = {
        { "mkdir /_archiv_", 257 },
        { "cd /", 250 },
        { "put \"" + web + "/index.html\" \"/index.html\"", 226 },
        { "mkdir /sub", 550 },
        { "mv \"/sub/x.css\" \"/_archiv_/_sub_x0712061530.css\"", 250 },
        { "put \"" + web + "/sub/a b.html\" \"/sub/a b.html\"", 226 },
        { "put \"" + web + "/sub/x.css\" \"/sub/x.css\"", 226 },
        { "dele /gone.html", 250 },
        { "dele \"/sub/never there.html\"", 550 },
        { "put \"" + web + "/missing.html\" \"/missing.html\"", FtpClient::kTransferNotCarriedOut },
    };
    for (const Step& step : steps)
        EXPECT_EQ(runScriptLine(client, step.line), step.result) << step.line;

    EXPECT_EQ(serverFiles(server.root()),
        (std::vector<std::string> { "_archiv_/_sub_x0712061530.css", "index.html", "sub/a b.html", "sub/x.css" }));
    EXPECT_EQ(readWholeFile(server.pathOf("sub/x.css")), "new css");
    EXPECT_EQ(readWholeFile(server.pathOf("_archiv_/_sub_x0712061530.css")), "old css");
    EXPECT_EQ(std::count(sink.lines.begin(), sink.lines.end(), "--------------- cd /\n"), 1);
}

TEST_F(InterpreterOnRealServer, WildcardPutSendsMatchingFilesToTheCurrentFolder)
{
    local.writeFile("a.htm", "a");
    local.writeFile("b.htm", "b");
    local.writeFile("c.txt", "c");
    local.writeFile("d.htm/e.htm", "e"); // a folder that matches is entered with /s
    local.writeFile("other/f.htm", "f");
    local.writeFile("x[1].htm", "brackets");
    ASSERT_EQ(runScriptLine(client, "lcd " + local.path()), 0);
    ASSERT_EQ(runScriptLine(client, "mkdir /flat"), 257);
    ASSERT_EQ(runScriptLine(client, "cd /flat"), 250);
    EXPECT_EQ(runScriptLine(client, "put *.htm"), 0);
    ASSERT_EQ(runScriptLine(client, "mkdir /deep"), 257);
    ASSERT_EQ(runScriptLine(client, "cd /deep"), 250);
    EXPECT_EQ(runScriptLine(client, "put /s *.htm"), 0);
    ASSERT_EQ(runScriptLine(client, "mkdir /literal"), 257);
    ASSERT_EQ(runScriptLine(client, "cd /literal"), 250);
    EXPECT_EQ(runScriptLine(client, "put x[1].htm"), 0);
    EXPECT_EQ(runScriptLine(client, "put ?.htm"), 0);

    EXPECT_EQ(serverFiles(server.root()),
        (std::vector<std::string> { "deep/a.htm", "deep/b.htm", "deep/e.htm", "deep/x[1].htm", "flat/a.htm",
            "flat/b.htm", "flat/x[1].htm", "literal/a.htm", "literal/b.htm", "literal/x[1].htm" }));
    EXPECT_EQ(readWholeFile(server.pathOf("deep/e.htm")), "e");
}

TEST_F(InterpreterOnRealServer, GetAndTheLocalFolderCommands)
{
    std::ofstream(server.pathOf("index.html")) << "served";
    struct Step {
        std::string line;
        int result;
    };
    const Step steps[] = {
        { "lcd " + local.path(), 0 },
        { "lmd fetched", 0 },
        { "lmd fetched", -1 },
        { "lcd fetched", 0 },
        { "lcd no-such-folder", -1 },
        { "get index.html", 226 },
        { "get index.html", FtpClient::kTransferNotCarriedOut },
        { "get /s copy.html index.html", 226 }, // local name first
        { "get sub/index.html", FtpClient::kTransferNotCarriedOut },
    };
    for (const Step& step : steps)
        EXPECT_EQ(runScriptLine(client, step.line), step.result) << step.line;
    EXPECT_EQ(readWholeFile(local.file("fetched/index.html")), "served");
    EXPECT_EQ(readWholeFile(local.file("fetched/copy.html")), "served");
    EXPECT_EQ(client.localDirectory(), local.file("fetched") + "/");
}

TEST(InterpreterScripted, SendsWhatEachLineAsksFor)
{
    struct Case {
        std::string line;
        int result;
        std::vector<std::string> commands;
    };
    const Case cases[] = {
        { "pwd", 0, {} },
        { " , ,", 0, { " " } },
        { "site chmod 644 x", 0, { "site chmod 644 x" } },
        { "mv a b", 350, { "RNFR a", "RNTO b" } },
        { "PUT \"my file.htm\" b.htm", 226, { "TYPE I", "PORT", "STOR b.htm" } },
        { "list /web", 226, { "PORT", "LIST /web" } },
        { "cd \"/with blank\"", 250, { "CWD /with blank" } },
        { "MkDir /new", 257, { "MKD /new" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        FakeFtpServer server;
        server.on("RNTO", "350 odd but passed on\r\n");
        server.on("STOR", Answer::receiving("150 Ok\r\n", "226 Done\r\n"));
        server.on("LIST", Answer::sending("150 Here\r\n", "", "226 Done\r\n"));
        server.on("CWD", "250 Ok\r\n");
        server.on("MKD", "257 Made\r\n");
        ASSERT_TRUE(server.start());
        TempDir local;
        local.writeFile("my file.htm", "quoted");
        MachineOptions options;
        options.checkFileSize = false;
        options.passive = false;
        FtpClient client(options);
        ASSERT_TRUE(client.setLocalDirectory(local.path()));
        ASSERT_TRUE(client.connect(server.url(), "", ""));
        EXPECT_EQ(runScriptLine(client, c.line), c.result);
        client.quit();
        server.join();
        std::vector<std::string> commands;
        for (const std::string& command : server.commands())
            commands.push_back(command.rfind("PORT ", 0) == 0 ? "PORT" : command);
        commands.pop_back();
        EXPECT_EQ(commands, c.commands);
        if (c.line.rfind("PUT", 0) == 0) {
            EXPECT_EQ(server.received(), std::vector<std::string> { "quoted" });
        }
    }
}

} // namespace
