#include "ftp/ftp_client.h"
#include "session/trusted_certificates.h"

#include "platform/file_utils.h"
#include "support/fake_ftp_server.h"
#include "support/ftp_recording_sink.h"
#include "support/ftp_server.h"
#include "support/required_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <sys/stat.h>

namespace {

struct TlsCase {
    const char* name;
    FtpServer::Kind kind;
    FtpServer::Tls tls;
    bool passive;
    const char* host;
    FtpServer::Setup::Versions versions = FtpServer::Setup::Versions::Default;
};

// The log lines the client wrote that hold `text`.
int logged(const FtpRecordingSink& sink, const std::string& text)
{
    int found = 0;
    for (const std::string& line : sink.lines)
        found += line.find(text) != std::string::npos ? 1 : 0;
    return found;
}

// A TLS server on loopback whose certificate the test's clients trust, and a local folder
// for what they send.
struct TrustedTlsServer {
    TempDir keys;
    TempDir local;
    std::unique_ptr<FtpServer> server;
    std::string trusted = keys.file("trusted-certs.txt");

    // Starts the server and trusts the certificate a first connect is refused for.
    [[nodiscard]] bool start(FtpServer::Kind kind, FtpServer::Setup setup)
    {
        if (!FtpServer::makeCertificate(keys.path(), "server.pem", "localhost"))
            return false;
        chmod(keys.path().c_str(), 0755);
        setup.certificate = keys.file("server.pem");
        server = std::make_unique<FtpServer>(kind, setup);
        EXPECT_TRUE(server->start()) << server->error();
        if (!server->isRunning())
            return false;
        MachineOptions options;
        FtpClient probe(options);
        probe.setTrustedCertificatesPath(trusted);
        EXPECT_FALSE(probe.connect(server->url(), server->user(), server->password()));
        return TrustedCertificates(trusted).trust(server->hostAndPort(), probe.serverCertificate().fingerprint);
    }
    [[nodiscard]] bool connect(FtpClient& client, FtpRecordingSink& sink, TlsSession resume) const
    {
        client.setTrustedCertificatesPath(trusted);
        client.setEventSink(&sink);
        client.setControlResumption(std::move(resume));
        return client.connect(server->url(), server->user(), server->password()).ok()
            && client.setLocalDirectory(local.path());
    }
};

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
        server = std::make_unique<FtpServer>(
            c.kind, FtpServer::Setup { c.host, c.tls, keys.file("server.pem"), c.versions });
        ASSERT_TRUE(server->start()) << server->error();
        options.passive = c.passive;
    }

    // Connects a fresh client; false when the connect fails.
    bool connect(FtpClient& client)
    {
        client.setTrustedCertificatesPath(keys.file("trusted-certs.txt"));
        client.setEventSink(&sink);
        return client.connect(server->url(), server->user(), server->password()).ok();
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
            EXPECT_EQ(client.uploadWithRetry(name, name).code, 226) << server->log();
            EXPECT_TRUE(readWholeFile(server->pathOf(name)).value_or("") == bytes)
                << readWholeFile(server->pathOf(name)).value_or("").size();
            EXPECT_EQ(client.download(name, "back-" + name).code, 226);
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
        TlsCase { "vsftpd_explicit_ipv6_active", FtpServer::Kind::Vsftpd, FtpServer::Tls::Explicit, false, "::1" },
        TlsCase { "proftpd_explicit_passive", FtpServer::Kind::Proftpd, FtpServer::Tls::Explicit, true, "127.0.0.1" },
        TlsCase { "proftpd_explicit_active", FtpServer::Kind::Proftpd, FtpServer::Tls::Explicit, false, "127.0.0.1" },
        TlsCase { "proftpd_explicit_tls12_passive", FtpServer::Kind::Proftpd, FtpServer::Tls::Explicit, true,
            "127.0.0.1", FtpServer::Setup::Versions::Tls12Only }),
    [](const auto& info) { return std::string(info.param.name); });

// proftpd's mod_tls refuses a data connection that does not resume the control connection's
// session, and under TLS 1.3 a ticket resumes once: a client that runs out of tickets, or
// offers one twice, gets 425 partway through a long run.
TEST(ProftpdSessionReuse, AThousandSmallFilesOnOneClientAllArrive)
{
    struct Case {
        const char* name;
        FtpServer::Setup::Versions versions;
        bool passive;
        int files;
        int newLogins; // at most: each login's two TLS 1.3 tickets serve two files
    };
    const Case cases[] = { { "tls13_passive", FtpServer::Setup::Versions::Default, true, 1000, 500 },
        { "tls12_active", FtpServer::Setup::Versions::Tls12Only, false, 100, 0 } };
    if (std::string reason = FtpServer::unavailableReason(FtpServer::Kind::Proftpd); !reason.empty())
        GTEST_SKIP() << reason;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir keys;
        TempDir local;
        ASSERT_TRUE(FtpServer::makeCertificate(keys.path(), "server.pem", "localhost"));
        chmod(keys.path().c_str(), 0755);
        FtpServer server(FtpServer::Kind::Proftpd,
            FtpServer::Setup { "127.0.0.1", FtpServer::Tls::Explicit, keys.file("server.pem"), c.versions });
        ASSERT_TRUE(server.start()) << server.error();
        MachineOptions options;
        options.passive = c.passive;
        FtpRecordingSink sink;
        std::string fingerprint;
        {
            FtpClient probe(options);
            probe.setTrustedCertificatesPath(keys.file("trusted-certs.txt"));
            EXPECT_FALSE(probe.connect(server.url(), server.user(), server.password()));
            fingerprint = probe.serverCertificate().fingerprint;
        }
        ASSERT_TRUE(TrustedCertificates(keys.file("trusted-certs.txt")).trust(server.hostAndPort(), fingerprint));
        FtpClient client(options);
        client.setTrustedCertificatesPath(keys.file("trusted-certs.txt"));
        client.setEventSink(&sink);
        ASSERT_TRUE(client.connect(server.url(), server.user(), server.password())) << server.log();
        ASSERT_TRUE(client.setLocalDirectory(local.path()));
        int refused = 0;
        int different = 0;
        for (int i = 0; i < c.files; ++i) {
            std::string name = "f" + std::to_string(i) + ".bin";
            std::string bytes = patternBytes(static_cast<size_t>(i % 97) * 13, static_cast<uint32_t>(i + 1));
            local.writeFile(name, bytes);
            if (client.upload(name, name).code != 226)
                ++refused;
            else if (readWholeFile(server.pathOf(name)).value_or("<missing>") != bytes)
                ++different;
        }
        EXPECT_EQ(refused, 0) << server.log().substr(0, 4000);
        EXPECT_EQ(different, 0);
        EXPECT_LE(logged(sink, "TLS session tickets used up"), c.newLogins);
        client.quit();
    }
}

// More connections of one run resume the TLS session of the run's own control connection.
// Each row says whether the server takes the session back (proftpd keeps TLS 1.2 sessions
// per connection) and how often each client may log in again for fresh TLS 1.3 tickets
// (proftpd issues none on resumed data connections, so the ticket given away is one data
// connection less for the first client). Where the server declines or no longer knows the
// session, the connection gets a full handshake. Either way both clients keep transferring,
// and the server's certificate is judged on the resumed connection as well.
TEST(ControlSessionReuse, ASecondClientResumesTheFirstOnesSessionAndBothKeepTransferring)
{
    struct Case {
        const char* name;
        FtpServer::Kind kind;
        FtpServer::Tls tls;
        FtpServer::Setup::Versions versions;
        bool resumes;
        int firstLogins; // at most
        int secondLogins; // at most
    };
    using Versions = FtpServer::Setup::Versions;
    const Case cases[] = {
        { "vsftpd_explicit", FtpServer::Kind::Vsftpd, FtpServer::Tls::Explicit, Versions::Default, true, 0, 0 },
        { "vsftpd_implicit", FtpServer::Kind::Vsftpd, FtpServer::Tls::Implicit, Versions::Default, true, 0, 0 },
        { "proftpd_tls13", FtpServer::Kind::Proftpd, FtpServer::Tls::Explicit, Versions::Default, true, 2, 2 },
        { "proftpd_tls12", FtpServer::Kind::Proftpd, FtpServer::Tls::Explicit, Versions::Tls12Only, false, 0, 0 },
        { "pyftpdlib_explicit", FtpServer::Kind::Pyftpdlib, FtpServer::Tls::Explicit, Versions::Default, true, 0, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!FtpServer::unavailableReason(c.kind).empty())
            continue;
        TrustedTlsServer tls;
        ASSERT_TRUE(tls.start(c.kind, FtpServer::Setup { "127.0.0.1", c.tls, {}, c.versions }));
        FtpServer& server = *tls.server;
        TempDir& local = tls.local;
        MachineOptions options;
        const auto connected = [&tls](FtpClient& client, FtpRecordingSink& sink, TlsSession resume) {
            return tls.connect(client, sink, std::move(resume));
        };
        const auto sendThree = [&](FtpClient& client, const std::string& prefix) {
            for (int i = 0; i < 3; ++i) {
                SCOPED_TRACE(prefix + std::to_string(i));
                const std::string name = prefix + std::to_string(i) + ".bin";
                const std::string bytes
                    = patternBytes(1000 + static_cast<size_t>(i) * 77, static_cast<uint32_t>(i + 3));
                local.writeFile(name, bytes);
                EXPECT_EQ(client.upload(name, name).code, 226) << server.log().substr(0, 4000);
                EXPECT_TRUE(readWholeFile(server.pathOf(name)).value_or("<missing>") == bytes);
            }
        };

        // A resumed session does not stand in for the trust store.
        {
            FtpRecordingSink donorSink;
            FtpClient donor(options);
            ASSERT_TRUE(connected(donor, donorSink, {}));
            FtpClient stranger(options);
            stranger.setTrustedCertificatesPath(tls.keys.file("nothing-trusted.txt"));
            stranger.setControlResumption(donor.shareControlSession());
            EXPECT_FALSE(stranger.connect(server.url(), server.user(), server.password()));
            EXPECT_EQ(stranger.state(), FtpClient::State::Disconnected);
            EXPECT_EQ(stranger.serverCertificate().fingerprint, donor.serverCertificate().fingerprint);
            donor.quit();
        }

        FtpRecordingSink firstSink;
        FtpClient first(options);
        ASSERT_TRUE(connected(first, firstSink, {})) << server.log();
        EXPECT_FALSE(first.controlSessionReused());
        FtpRecordingSink secondSink;
        FtpClient second(options);
        ASSERT_TRUE(connected(second, secondSink, first.shareControlSession())) << server.log();
        EXPECT_EQ(second.controlSessionReused(), c.resumes);
        EXPECT_EQ(logged(secondSink, "(resumed)"), c.resumes ? 1 : 0);
        EXPECT_EQ(second.serverCertificate().fingerprint, first.serverCertificate().fingerprint);
        EXPECT_FALSE(second.serverCertificate().verified) << "a self-signed certificate, resumed or not";

        sendThree(second, "second");
        sendThree(first, "first");
        EXPECT_EQ(first.listEntries("/").size(), 6u);
        EXPECT_EQ(second.listEntries("/").size(), 6u);
        EXPECT_LE(logged(firstSink, "TLS session tickets used up"), c.firstLogins);
        EXPECT_LE(logged(secondSink, "TLS session tickets used up"), c.secondLogins);

        // A server that no longer knows the session (restarted, new ticket keys) answers with
        // a full handshake, and the connection goes on as without the offer.
        first.quit();
        second.quit();
        TlsSession stale;
        {
            FtpRecordingSink donorSink;
            FtpClient donor(options);
            ASSERT_TRUE(connected(donor, donorSink, {}));
            stale = donor.shareControlSession();
            EXPECT_TRUE(stale);
            donor.quit();
        }
        server.stop();
        ASSERT_TRUE(server.restart()) << server.error();
        FtpRecordingSink thirdSink;
        FtpClient third(options);
        ASSERT_TRUE(connected(third, thirdSink, std::move(stale))) << server.log();
        EXPECT_FALSE(third.controlSessionReused());
        sendThree(third, "third");
        third.quit();
    }
}

// What a client learns about a TLS 1.3 server's data connections, and hands on with its
// session: a server that takes a full handshake is never made to wait for tickets; one that
// refuses it gets the refused upload once more after a login for tickets, so nothing fails;
// a second client starts out knowing what the first one learned.
TEST(DataResumption, LearnedFromTheFirstUnresumedDataConnectionAndHandedOn)
{
    struct Case {
        const char* name;
        FtpServer::Kind kind;
        FtpServer::Setup::Versions versions;
        bool tickets;
        TlsResumption learned;
        int refusals; // by the first client; the second one never sees one
        // After the uploads, a ticket to spare: taken in from the data connections, where the
        // server sends them and needs none.
        bool ticketToSpare;
    };
    using Versions = FtpServer::Setup::Versions;
    const Case cases[] = {
        { "pyftpdlib_tls13_no_tickets", FtpServer::Kind::Pyftpdlib, Versions::Default, false, TlsResumption::NotNeeded,
            0, false },
        { "pyftpdlib_tls13_tickets", FtpServer::Kind::Pyftpdlib, Versions::Default, true, TlsResumption::Unknown, 0,
            true },
        { "proftpd_tls13", FtpServer::Kind::Proftpd, Versions::Default, true, TlsResumption::Required, 1, false },
        { "proftpd_tls12", FtpServer::Kind::Proftpd, Versions::Tls12Only, true, TlsResumption::Unknown, 0, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (leaveOutServer(FtpServer::unavailableReason(c.kind)))
            continue;
        FtpServer::Setup setup { "127.0.0.1", FtpServer::Tls::Explicit, {}, c.versions };
        setup.sessionTickets = c.tickets;
        TrustedTlsServer tls;
        ASSERT_TRUE(tls.start(c.kind, setup));
        FtpServer& server = *tls.server;
        TempDir& local = tls.local;
        MachineOptions options;
        const auto connected = [&tls](FtpClient& client, FtpRecordingSink& sink, TlsSession resume) {
            return tls.connect(client, sink, std::move(resume));
        };
        // More files than one login brings tickets for.
        const auto sendFive = [&](FtpClient& client, const std::string& prefix) {
            for (int i = 0; i < 5; ++i) {
                const std::string name = prefix + std::to_string(i) + ".bin";
                const std::string bytes = patternBytes(500 + static_cast<size_t>(i) * 31, static_cast<uint32_t>(i + 9));
                local.writeFile(name, bytes);
                EXPECT_EQ(client.upload(name, name).code, 226) << name << "\n" << server.log().substr(0, 4000);
                EXPECT_TRUE(readWholeFile(server.pathOf(name)).value_or("<missing>") == bytes) << name;
            }
        };
        const std::string refused = "Data connection refused without TLS session resumption";

        FtpRecordingSink firstSink;
        FtpClient first(options);
        ASSERT_TRUE(connected(first, firstSink, {})) << server.log();
        EXPECT_EQ(first.dataResumption(), TlsResumption::Unknown);
        sendFive(first, "first");
        EXPECT_EQ(first.listEntries("/").size(), 5u);
        EXPECT_EQ(first.dataResumption(), c.learned);
        EXPECT_EQ(logged(firstSink, refused), c.refusals);
        EXPECT_TRUE(firstSink.failedTransfers.empty());

        TlsSession shared = first.shareControlSession();
        EXPECT_EQ(static_cast<bool>(shared), c.ticketToSpare);
        FtpRecordingSink secondSink;
        FtpClient second(options);
        ASSERT_TRUE(connected(second, secondSink, std::move(shared))) << server.log();
        EXPECT_EQ(second.dataResumption(), c.learned);
        sendFive(second, "second");
        EXPECT_EQ(logged(secondSink, refused), 0);
        EXPECT_EQ(second.dataResumption(), c.learned);
        if (c.learned != TlsResumption::Required) {
            EXPECT_EQ(logged(firstSink, "TLS session tickets used up"), 0);
            EXPECT_EQ(logged(secondSink, "TLS session tickets used up"), 0);
        }
        first.quit();
        second.quit();
    }
}

TEST(ImplicitTls, APlainFtpPortIsNamedAsSuchAndExplicitTlsSuggested)
{
    for (FtpServer::Kind kind : { FtpServer::Kind::Pyftpdlib, FtpServer::Kind::Vsftpd, FtpServer::Kind::Proftpd }) {
        SCOPED_TRACE(FtpServer::nameOf(kind));
        if (!FtpServer::unavailableReason(kind).empty())
            continue;
        FtpServer server(kind);
        ASSERT_TRUE(server.start()) << server.error();
        MachineOptions options;
        FtpClient client(options);
        FtpRecordingSink sink;
        client.setEventSink(&sink);
        EXPECT_FALSE(client.connect("ftps://" + server.hostAndPort(), server.user(), server.password()));
        EXPECT_EQ(client.state(), FtpClient::State::Disconnected);
        EXPECT_EQ(logged(sink, "Error connect.tls " + server.hostAndPort() + " answered in plain FTP, not TLS"), 1);
        EXPECT_EQ(logged(sink, "use ftpes://" + server.hostAndPort()), 1);
    }
}

// A refused AUTH and a server that hangs up after agreeing to it both fail the connect:
// no fallback to plain FTP, and the hang-up is not taken for a plain FTP answer.
TEST(ExplicitTls, RefusedOrBrokenOffAuthFailsWithoutFallingBack)
{
    struct Row {
        const char* name;
        FakeFtpServer::Answer auth;
        const char* logged;
    };
    FakeFtpServer::Answer hangUp = FakeFtpServer::Answer::replies({ "234 go ahead\r\n" });
    hangUp.close = true;
    const Row rows[] = {
        { "hangs up after 234", hangUp, "Error connect.tls" },
        { "refuses AUTH", FakeFtpServer::Answer::replies({ "500 AUTH not understood\r\n" }),
            "Error connect.auth server refused AUTH TLS 500" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeFtpServer server;
        server.on("AUTH", row.auth);
        ASSERT_TRUE(server.start());
        MachineOptions options;
        FtpClient client(options);
        FtpRecordingSink sink;
        client.setEventSink(&sink);
        EXPECT_FALSE(client.connect("ftpes://" + server.url(), "anna", "secret"));
        EXPECT_EQ(client.state(), FtpClient::State::Disconnected);
        EXPECT_EQ(logged(sink, row.logged), 1);
        EXPECT_EQ(logged(sink, "plain FTP"), 0);
        server.join();
        EXPECT_EQ(server.commands(), std::vector<std::string> { "AUTH TLS" });
    }
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
