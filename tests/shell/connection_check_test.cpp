#include "shell/connection_check.h"

#include "config/machine_options.h"
#include "session/trusted_certificates.h"
#include "support/ftp_server.h"
#include "support/required_server.h"
#include "support/ssh_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

ConnectionCheckRequest loginTo(const FtpServer& server)
{
    ConnectionCheckRequest request;
    request.url = server.url();
    request.user = server.user();
    request.password = server.password();
    return request;
}

} // namespace

TEST(ConnectionCheck, NamesTheStepThatFailed)
{
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    TempDir data;
    const TrustStores stores = TrustStores::inFolder(data.path() + "/");
    const MachineOptions options;
    struct Case {
        const char* name;
        void (*change)(ConnectionCheckRequest&);
        ConnectionOutcome outcome;
    } cases[] = {
        { "as given", [](ConnectionCheckRequest&) {}, ConnectionOutcome::Passed },
        { "wrong password", [](ConnectionCheckRequest& r) { r.password = "wrong"; }, ConnectionOutcome::ConnectFailed },
        { "missing start folder", [](ConnectionCheckRequest& r) { r.startDirectory = "missing"; },
            ConnectionOutcome::DataConnectionFailed },
        { "unreadable address", [](ConnectionCheckRequest& r) { r.url = "ftp://"; }, ConnectionOutcome::ConnectFailed },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConnectionCheckRequest request = loginTo(server);
        c.change(request);
        const ConnectionCheckResult result = checkConnection(options, stores, request);
        EXPECT_EQ(result.outcome, c.outcome) << result.transcript;
        EXPECT_FALSE(offersTrust(result));
        EXPECT_FALSE(trustOffered(result, stores));
        if (result.outcome != ConnectionOutcome::Passed) {
            EXPECT_FALSE(result.transcript.empty()) << "the message shows what the client reported";
        }
    }
}

TEST(ConnectionCheck, AnUnverifiedCertificateIsOfferedUntilTrusted)
{
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
    TempDir data;
    FtpServer::Setup setup;
    setup.tls = FtpServerTls::Explicit;
    ASSERT_TRUE(FtpServer::makeCertificate(data.path(), "server.pem", "localhost"));
    setup.certificate = data.path() + "/server.pem";
    FtpServer server(FtpServer::Kind::Pyftpdlib, setup);
    ASSERT_TRUE(server.start()) << server.error();
    const TrustStores stores = TrustStores::inFolder(data.path() + "/");
    const MachineOptions options;

    const ConnectionCheckResult refused = checkConnection(options, stores, loginTo(server));
    ASSERT_EQ(refused.outcome, ConnectionOutcome::UntrustedCertificate) << refused.transcript;
    EXPECT_EQ(refused.server, server.hostAndPort());
    EXPECT_FALSE(refused.certificate.fingerprint.empty());
    ASSERT_TRUE(trustOffered(refused, stores));
    EXPECT_TRUE(
        TrustedCertificates(stores.certificates).isTrusted(server.hostAndPort(), refused.certificate.fingerprint));

    EXPECT_EQ(checkConnection(options, stores, loginTo(server)).outcome, ConnectionOutcome::Passed);
    // Once trusted, the certificate is no longer the reason a login fails.
    ConnectionCheckRequest wrong = loginTo(server);
    wrong.password = "wrong";
    EXPECT_EQ(checkConnection(options, stores, wrong).outcome, ConnectionOutcome::ConnectFailed);
}

TEST(ConnectionCheck, AnUnknownHostKeyGoesToTheHostKeyStore)
{
    SKIP_UNLESS_SERVER_RUNS(SshServer::unavailableReason());
    SshServer server;
    ASSERT_TRUE(server.start()) << server.error();
    if (!server.passwordUnavailableReason().empty())
        GTEST_SKIP() << server.passwordUnavailableReason();
    TempDir data;
    const TrustStores stores = TrustStores::inFolder(data.path() + "/");
    const MachineOptions options;
    ConnectionCheckRequest request;
    request.url = "sftp://" + server.hostAndPort();
    request.user = server.user();
    request.password = server.password();

    const ConnectionCheckResult refused = checkConnection(options, stores, request);
    ASSERT_EQ(refused.outcome, ConnectionOutcome::UnknownHostKey) << refused.transcript;
    EXPECT_EQ(refused.hostKeyFingerprint, server.hostKeyFingerprint());
    ASSERT_TRUE(trustOffered(refused, stores));
    EXPECT_TRUE(TrustedCertificates(stores.hostKeys).isTrusted(refused.server, refused.hostKeyFingerprint));
    EXPECT_FALSE(TrustedCertificates(stores.certificates).isTrusted(refused.server, refused.hostKeyFingerprint));

    EXPECT_EQ(checkConnection(options, stores, request).outcome, ConnectionOutcome::Passed);
}
