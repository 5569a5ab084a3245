// "tarnwick --trust-cert" run as the real program with a data folder of its own.

#include "ftp/trusted_certificates.h"
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
