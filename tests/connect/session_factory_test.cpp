#include "connect/session_factory.h"

#include "ftp/ftp_client.h"
#include "sftp/sftp_session.h"
#include "support/fake_ftp_server.h"
#include "support/ftp_recording_sink.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

TEST(SessionFactory, MakesTheSessionOfTheProtocolTheUrlNames)
{
    struct Row {
        const char* url;
        bool sftp;
    };
    const Row rows[] = {
        { "ftp.example.org", false },
        { "ftp.example.org:2121", false },
        { "ftpes://ftp.example.org", false },
        { "ftps://[::1]:990", false },
        { "sftp://example.org", true },
        { "SFTP://example.org:2222", true },
        { "", false },
    };
    const MachineOptions options;
    SessionFactory factory(options);
    for (const Row& row : rows) {
        const std::unique_ptr<RemoteSession> session = factory.make(row.url);
        ASSERT_NE(session, nullptr) << row.url;
        EXPECT_EQ(dynamic_cast<SftpSession*>(session.get()) != nullptr, row.sftp) << row.url;
        EXPECT_EQ(session->ftp() != nullptr, !row.sftp) << row.url;
    }
}

TEST(SessionFactory, SessionsRefuseAnUrlOfTheOtherProtocol)
{
    const MachineOptions options;
    FtpRecordingSink sink;
    FtpClient ftp(options);
    ftp.setEventSink(&sink);
    EXPECT_EQ(ftp.connect("sftp://127.0.0.1:1", "user", "").failure, Failure::GiveUpSite);
    SftpSession sftp;
    sftp.setEventSink(&sink);
    EXPECT_EQ(sftp.connect("127.0.0.1:1", "user", "").failure, Failure::GiveUpSite);
    EXPECT_EQ(std::count_if(sink.lines.begin(), sink.lines.end(),
                  [](const std::string& line) { return line.rfind("Error connect.sftp", 0) == 0; }),
        2);
}

TEST(SessionFactory, ConfiguredDialUpWithoutTheServiceStillConnects)
{
    if (system("command -v nmcli >/dev/null 2>&1") == 0)
        GTEST_SKIP() << "nmcli is installed here; dialing would touch the real network setup";
    FakeFtpServer server;
    ASSERT_TRUE(server.start());
    MachineOptions options;
    options.dialUpEntry = "Office";
    options.disconnect = true;
    SessionFactory factory(options);
    const std::unique_ptr<RemoteSession> session = factory.make(server.url());
    EXPECT_TRUE(session->connect(server.url(), "", ""));
    factory.hangUpIfDialed();
    EXPECT_EQ(session->ftp()->command("NOOP"), 200);
}

} // namespace
