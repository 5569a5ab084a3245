// First runs over explicit TLS against servers that differ in what they make of session
// resumption on data connections: every file arrives, and the client logs in again for
// fresh tickets only where the server insists on resuming.

#include "ftp/ftp_client.h"
#include "session/trusted_certificates.h"
#include "support/ftp_server.h"
#include "support/required_server.h"
#include "support/run_project.h"
#include "support/upload_site.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

namespace {

using Versions = FtpServer::Setup::Versions;

struct TlsRunCase {
    const char* name;
    FtpServer::Kind kind;
    Versions versions;
    bool sessionTickets;
    bool passive;
    const char* version; // what the client logs for the control connection
    bool ticketsIssued; // after the login, under TLS 1.3
    int loginsPer100Files; // fresh logins for tickets, at most
    const char* skip = nullptr; // why the row cannot run here
};

class TlsUploadRun : public testing::TestWithParam<TlsRunCase> { };

TEST_P(TlsUploadRun, AFirstRunOf200FilesArrivesWithoutNeedlessLogins)
{
    const TlsRunCase& c = GetParam();
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(c.kind));
    if (c.skip)
        GTEST_SKIP() << c.skip;
    Project site;
    ASSERT_TRUE(FtpServer::makeCertificate(site.tree.base(), "server.pem", "localhost"));
    chmod(site.tree.base().c_str(), 0755);
    FtpServer::Setup setup { "127.0.0.1", FtpServer::Tls::Explicit, site.tree.base() + "/server.pem", c.versions };
    setup.sessionTickets = c.sessionTickets;
    FtpServer server(c.kind, setup);
    ASSERT_TRUE(server.start()) << server.error();
    MachineOptions options;
    options.passive = c.passive;
    {
        // The run reads trusted fingerprints from the project's data directory.
        FtpClient probe(options);
        EXPECT_FALSE(probe.connect(server.url(), server.user(), server.password()));
        ASSERT_TRUE(TrustedCertificates(site.project.dataDirectory + "trusted-certs.txt")
                        .trust(server.hostAndPort(), probe.serverCertificate().fingerprint));
        FtpClient client(options);
        client.setTrustedCertificatesPath(site.project.dataDirectory + "trusted-certs.txt");
        ASSERT_TRUE(client.connect(server.url(), server.user(), server.password())) << server.log();
        // The first of the server's tickets is kept for the client's own data connections.
        EXPECT_EQ(static_cast<bool>(client.shareControlSession()), c.ticketsIssued);
        client.quit();
    }
    site.project.machineOptions = &options;
    site.addSite(server, "www");
    generateSite(site.tree, 200);
    site.run();

    const auto logged = [&](const std::string& text) {
        return std::count_if(site.sink.lines.begin(), site.sink.lines.end(),
            [&](const std::string& line) { return line.find(text) != std::string::npos; });
    };
    const auto sent = [&](const std::string& prefix) {
        return std::count_if(site.sink.lines.begin(), site.sink.lines.end(),
            [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    };
    EXPECT_GE(logged(std::string("TLS ") + c.version + " "), 1) << "the run's own connection";
    EXPECT_EQ(logged(std::string("TLS ") + c.version + " "), logged("TLS TLSv1."));
    EXPECT_EQ(site.sink.count("Error "), 0u) << server.log().substr(0, 4000);
    EXPECT_EQ(site.sink.count("OK "), 200u);
    EXPECT_EQ(compareTrees(site.tree.root(), server.pathOf("www")), std::vector<std::string>());
    EXPECT_EQ(site.fileList().size(), 200u);
    EXPECT_EQ(site.project.unreachableSites, 0);
    const long logins = logged("TLS session tickets used up");
    RecordProperty("fresh_logins", static_cast<int>(logins));
    RecordProperty("user_commands", static_cast<int>(sent("USER ")));
    EXPECT_LE(logins, c.loginsPer100Files * 2) << sent("USER ") << " USER commands";
    // The other connections log their blocks only, not their logins.
    EXPECT_EQ(sent("USER "), 1 + logins);
}

// proftpd takes each ticket once and issues none on data connections (nor accepts one from
// another control connection): two tickets per login serve two files, and never fewer.
INSTANTIATE_TEST_SUITE_P(Servers, TlsUploadRun,
    testing::Values(TlsRunCase { "pyftpdlib_tls13_no_tickets_passive", FtpServer::Kind::Pyftpdlib, Versions::Default,
                        false, true, "TLSv1.3", false, 0 },
        TlsRunCase { "pyftpdlib_tls13_no_tickets_active", FtpServer::Kind::Pyftpdlib, Versions::Default, false, false,
            "TLSv1.3", false, 0 },
        TlsRunCase { "proftpd_tls13_reuse_required_passive", FtpServer::Kind::Proftpd, Versions::Default, true, true,
            "TLSv1.3", true, 50 },
        TlsRunCase { "proftpd_tls13_reuse_required_active", FtpServer::Kind::Proftpd, Versions::Default, true, false,
            "TLSv1.3", true, 50 },
        TlsRunCase {
            "proftpd_tls12_passive", FtpServer::Kind::Proftpd, Versions::Tls12Only, true, true, "TLSv1.2", true, 0 },
        TlsRunCase {
            "proftpd_tls12_active", FtpServer::Kind::Proftpd, Versions::Tls12Only, true, false, "TLSv1.2", true, 0 }),
    [](const testing::TestParamInfo<TlsRunCase>& info) { return std::string(info.param.name); });

} // namespace
