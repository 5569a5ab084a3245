#include "ftp/ftp_client.h"
#include "ftp/trusted_certificates.h"

#include "platform/file_utils.h"
#include "support/fake_ftp_server.h"
#include "support/ftp_recording_sink.h"
#include "support/ftp_server.h"
#include "support/required_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

struct TlsCase {
    const char* name;
    FtpServer::Kind kind;
    FtpServer::Tls tls;
    bool passive;
    const char* host;
};

// The log lines the client wrote that hold `text`.
int logged(const FtpRecordingSink& sink, const std::string& text)
{
    int found = 0;
    for (const std::string& line : sink.lines)
        found += line.find(text) != std::string::npos ? 1 : 0;
    return found;
}

class RealTlsServers : public ::testing::TestWithParam<TlsCase> {
protected:
    void SetUp() override
    {
        const TlsCase& c = GetParam();
        SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(c.kind));
        if (std::string(c.host) == "::1") {
            if (std::string reason = FtpServer::ipv6UnavailableReason(); !reason.empty())
                GTEST_SKIP() << reason;
        }
        ASSERT_TRUE(FtpServer::makeCertificate(keys.path(), "server.pem", "localhost"));
        ASSERT_TRUE(FtpServer::makeCertificate(keys.path(), "other.pem", "localhost"));
        chmod(keys.path().c_str(), 0755);
        server = std::make_unique<FtpServer>(c.kind, FtpServer::Setup { c.host, c.tls, keys.file("server.pem") });
        ASSERT_TRUE(server->start()) << server->error();
        options.passive = c.passive;
    }

    // Connects a fresh client; false when the connect fails.
    bool connect(FtpClient& client)
    {
        client.setTrustedCertificatesPath(keys.file("trusted-certs.txt"));
        client.setEventSink(&sink);
        return client.connect(server->url(), server->user(), server->password());
    }

    TempDir keys;
    TempDir local;
    MachineOptions options;
    std::unique_ptr<FtpServer> server;
    FtpRecordingSink sink;
};

TEST_P(RealTlsServers, UntrustedIsRefusedTrustedTravelsAndSecretsStayOutOfTheLog)
{
    std::string fingerprint;
    {
        FtpClient client(options);
        EXPECT_FALSE(connect(client));
        fingerprint = client.serverCertificate().fingerprint;
        ASSERT_EQ(fingerprint.size(), 95u);
        EXPECT_EQ(logged(sink, "Error connect.certificate"), 1);
        std::string hint = "tarnwick --trust-cert " + server->hostAndPort() + " " + fingerprint;
        bool hinted = false;
        for (const std::string& line : sink.lines)
            hinted = hinted || line.find(hint) != std::string::npos;
        EXPECT_TRUE(hinted) << "the refusal says what to trust and how";
        EXPECT_EQ(server->log().find("USER"), std::string::npos) << "nothing was sent to an untrusted server";
    }

    TrustedCertificates trusted(keys.file("trusted-certs.txt"));
    ASSERT_TRUE(trusted.trust(server->hostAndPort(), fingerprint));
    struct stat info { };
    ASSERT_EQ(stat(keys.file("trusted-certs.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    {
        FtpClient client(options);
        ASSERT_TRUE(connect(client)) << server->log();
        EXPECT_TRUE(client.isEncrypted());
        EXPECT_EQ(logged(sink, "TLS TLSv1."), 1);
        ASSERT_TRUE(client.setLocalDirectory(local.path()));
        for (size_t size : { size_t(0), size_t(1000), size_t(3 * 1000 * 1000 + 7) }) {
            SCOPED_TRACE(size);
            std::string name = "f" + std::to_string(size) + ".bin";
            std::string bytes = patternBytes(size, 88172645u);
            local.writeFile(name, bytes);
            EXPECT_EQ(client.uploadWithRetry(name, name), 226) << server->log();
            EXPECT_TRUE(readWholeFile(server->pathOf(name)).value_or("") == bytes)
                << readWholeFile(server->pathOf(name)).value_or("").size();
            EXPECT_EQ(client.download(name, "back-" + name), 226);
            EXPECT_TRUE(readWholeFile(local.file("back-" + name)).value_or("") == bytes);
        }
        std::vector<RemoteEntry> entries = client.listEntries("/");
        EXPECT_EQ(entries.size(), 3u);
        client.quit();
    }
    EXPECT_TRUE(sink.failedTransfers.empty()) << server->log();
    for (const std::string& line : sink.lines)
        EXPECT_EQ(line.find(server->password()), std::string::npos) << "password reached the log: " << line;

    // The server now shows another certificate than the one trusted.
    TrustedCertificates other(keys.file("trusted-certs.txt"));
    ASSERT_TRUE(other.trust(server->hostAndPort(), std::string(64, 'C')));
    FtpClient client(options);
    EXPECT_FALSE(connect(client));
}

INSTANTIATE_TEST_SUITE_P(Servers, RealTlsServers,
    ::testing::Values(TlsCase { "pyftpdlib_explicit_passive", FtpServer::Kind::Pyftpdlib, FtpServer::Tls::Explicit,
                          true, "127.0.0.1" },
        TlsCase {
            "pyftpdlib_explicit_active", FtpServer::Kind::Pyftpdlib, FtpServer::Tls::Explicit, false, "127.0.0.1" },
        TlsCase { "pyftpdlib_explicit_ipv6", FtpServer::Kind::Pyftpdlib, FtpServer::Tls::Explicit, true, "::1" },
        TlsCase { "vsftpd_explicit_passive", FtpServer::Kind::Vsftpd, FtpServer::Tls::Explicit, true, "127.0.0.1" },
        TlsCase { "vsftpd_explicit_active", FtpServer::Kind::Vsftpd, FtpServer::Tls::Explicit, false, "127.0.0.1" },
        TlsCase { "vsftpd_implicit_passive", FtpServer::Kind::Vsftpd, FtpServer::Tls::Implicit, true, "127.0.0.1" },
        TlsCase { "vsftpd_explicit_ipv6_active", FtpServer::Kind::Vsftpd, FtpServer::Tls::Explicit, false, "::1" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExplicitTls, RefusedAuthFailsWithoutFallingBack)
{
    FakeFtpServer server;
    server.on("AUTH", "500 AUTH not understood\r\n");
    ASSERT_TRUE(server.start());
    MachineOptions options;
    FtpClient client(options);
    FtpRecordingSink sink;
    client.setEventSink(&sink);
    EXPECT_FALSE(client.connect("ftpes://" + server.url(), "anna", "secret"));
    EXPECT_EQ(client.state(), FtpClient::State::Disconnected);
    EXPECT_EQ(logged(sink, "Error connect.auth server refused AUTH TLS 500"), 1);
    server.join();
    EXPECT_EQ(server.commands(), std::vector<std::string> { "AUTH TLS" });
}

} // namespace

TEST(TrustedCertificates, FingerprintsPerServer)
{
    TempDir dir;
    TrustedCertificates store(dir.file("trusted-certs.txt"));
    const std::string a = std::string(64, 'a');
    const std::string normalA = TrustedCertificates::normalFingerprint(a);
    ASSERT_EQ(normalA.size(), 95u);
    EXPECT_EQ(normalA.substr(0, 6), "AA:AA:");
    for (const char* bad : { "", "AA", "GG", "AA:BB" })
        EXPECT_TRUE(TrustedCertificates::normalFingerprint(bad).empty()) << bad;
    EXPECT_FALSE(store.isTrusted("h:21", a)) << "a missing file trusts nothing";

    ASSERT_TRUE(store.trust("h:21", a));
    ASSERT_TRUE(store.trust("[::1]:990", normalA));
    EXPECT_TRUE(store.isTrusted("h:21", normalA)) << "case and colons do not matter";
    EXPECT_FALSE(store.isTrusted("h:2121", a)) << "another port is another server";
    ASSERT_TRUE(store.trust("h:21", std::string(64, 'b')));
    EXPECT_FALSE(store.isTrusted("h:21", a)) << "a new fingerprint replaces the old one";
    EXPECT_TRUE(store.isTrusted("[::1]:990", a));
    EXPECT_FALSE(store.trust("h 21", a));
    EXPECT_FALSE(store.trust("h:21", "not-a-fingerprint"));
    EXPECT_FALSE(store.trust("", a));
}
