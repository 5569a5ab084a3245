// "tarnwick --trust-cert": the store it picks and what it says, then the real program with a
// data folder of its own.

#include "shell/trust_command.h"

#include "session/trusted_certificates.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

const std::string kProgram = TARNWICK_BINARY_DIR "/src/app/tarnwick";
const std::string kFingerprint
    = "ab:cd:ef:01:23:45:67:89:ab:cd:ef:01:23:45:67:89:ab:cd:ef:01:23:45:67:89:ab:cd:ef:01:23:"
      "45:67:89";

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(TrustCommandTest, PicksTheStoreAndSaysWhatItDid)
{
    struct Row {
        const char* name;
        std::string server;
        std::string fingerprint;
        bool stored;
        TrustKind kind;
        std::string storedAs;
        const char* reportStart;
    };
    const std::vector<Row> rows = {
        { "certificate", "example.org:990", kFingerprint, true, TrustKind::Certificate, "example.org:990",
            "trusted AB:CD:EF:01:" },
        { "host key", "sftp://example.org", kFingerprint, true, TrustKind::HostKey, "example.org:22",
            "trusted AB:CD:EF:01:" },
        { "short fingerprint", "example.org:990", "ab:cd", false, TrustKind::Certificate, "example.org:990",
            "tarnwick: cannot trust example.org:990: " },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir data;
        const TrustStores stores = TrustStores::inFolder(data.path() + "/");
        const TrustResult result = trustServer(row.server, row.fingerprint, stores);
        EXPECT_EQ(result.stored, row.stored);
        EXPECT_EQ(result.kind, row.kind);
        EXPECT_EQ(result.server, row.storedAs);
        EXPECT_EQ(result.store, row.kind == TrustKind::HostKey ? stores.hostKeys : stores.certificates);
        EXPECT_EQ(TrustedCertificates(result.store).isTrusted(row.storedAs, kFingerprint), row.stored);
        const std::string report = trustReport(result, row.server);
        EXPECT_EQ(report.rfind(row.reportStart, 0), 0u) << report;
        EXPECT_EQ(report.find("SSH host key") != std::string::npos, row.kind == TrustKind::HostKey) << report;
    }
}

TEST(TrustCommandTest, SftpPrefixTrustsAHostKeyInItsOwnFile)
{
    if (!fs::exists(kProgram))
        GTEST_SKIP() << kProgram << " is not built";
    struct Row {
        const char* name;
        std::string server;
        const char* file;
        const char* otherFile;
        std::string storedAs;
    };
    const std::vector<Row> rows = {
        { "certificate", "example.org:990", "trusted-certs.txt", "trusted-host-keys.txt", "example.org:990" },
        { "host key", "sftp://example.org:2222", "trusted-host-keys.txt", "trusted-certs.txt", "example.org:2222" },
        { "host key without port", "sftp://example.org", "trusted-host-keys.txt", "trusted-certs.txt",
            "example.org:22" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir home;
        const std::string command = "XDG_DATA_HOME='" + home.path() + "' '" + kProgram + "' --trust-cert '" + row.server
            + "' " + kFingerprint + " >/dev/null 2>&1";
        int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
        const std::string data = home.path() + "/Tarnwick/";
        EXPECT_TRUE(TrustedCertificates(data + row.file).isTrusted(row.storedAs, kFingerprint))
            << readFile(data + row.file);
        EXPECT_FALSE(fs::exists(data + row.otherFile));
    }
}

} // namespace
