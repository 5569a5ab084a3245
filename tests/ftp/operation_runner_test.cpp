#include "ftp/ftp_client.h"

#include "platform/file_utils.h"
#include "support/fake_ftp_server.h"
#include "support/ftp_recording_sink.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using Answer = FakeFtpServer::Answer;
using Kind = FtpOperation::Kind;

class OperationRunner : public ::testing::Test {
protected:
    std::vector<std::string> run(const std::vector<FtpOperation>& operations)
    {
        server.on("RETR", Answer::sending("150 Opening\r\n", "remote bytes", "226 Done\r\n"));
        server.on("STOR", Answer::receiving("150 Ok\r\n", "226 Done\r\n"));
        EXPECT_TRUE(server.start());
        options.checkFileSize = false;
        FtpClient client(options);
        client.setEventSink(&sink);
        EXPECT_TRUE(client.setLocalDirectory(local.path()));
        EXPECT_TRUE(client.connect(server.url(), "", ""));
        EXPECT_EQ(client.runOperations(operations), 0);
        localDirectory = client.localDirectory();
        client.quit();
        server.join();
        std::vector<std::string> commands;
        for (const std::string& command : server.commands())
            commands.push_back(command.rfind("PORT ", 0) == 0 ? "PORT" : command);
        commands.pop_back();
        return commands;
    }

    FakeFtpServer server;
    // These scripts follow the active-mode command sequence.
    MachineOptions options = activeModeOptions();
    FtpRecordingSink sink;
    TempDir local;
    std::string localDirectory;
};

TEST_F(OperationRunner, CarriesOutEveryKindInOrder)
{
    local.writeFile("up/page.html", "local bytes");
    std::vector<FtpOperation> operations = {
        { Kind::ChangeDirectory, "/web", "", -1 },
        { Kind::MakeAndChangeDirectory, "new", "", -1 },
        { Kind::MakeLocalDirectory, "down", "", -1 },
        { Kind::ChangeLocalDirectory, "down", "", -1 },
        { Kind::Download, "page.html", "remote.html", -1 },
        { Kind::Upload, local.file("up/page.html"), "page.html", 11 },
        { Kind::DeleteFile, "old.html", "", -1 },
        { Kind::RemoveDirectory, "empty", "", -1 },
        { static_cast<Kind>(99), "ignored", "", -1 },
    };
    EXPECT_EQ(run(operations),
        (std::vector<std::string> { "CWD /web", "MKD new", "CWD new", "TYPE I", "PORT", "RETR remote.html", "PORT",
            "STOR page.html", "dele old.html", "RMD empty" }));
    EXPECT_EQ(readWholeFile(local.file("down/page.html")), "remote bytes");
    EXPECT_EQ(server.received(), std::vector<std::string> { "local bytes" });
    EXPECT_EQ(localDirectory, local.file("down") + "/");
    // The process's own working folder is never changed.
    EXPECT_NE(std::filesystem::current_path().string() + "/", localDirectory);
}

TEST_F(OperationRunner, StopRequestTakesEffectBetweenOperations)
{
    sink.stopFromQuestion = 3;
    std::vector<FtpOperation> operations;
    for (const char* folder : { "/1", "/2", "/3", "/4", "/5" })
        operations.push_back({ Kind::ChangeDirectory, folder, "", -1 });
    EXPECT_EQ(run(operations), (std::vector<std::string> { "CWD /1", "CWD /2" }));
    EXPECT_EQ(sink.stopQuestions, 3);
}

} // namespace
