// When a broken upload may be continued rather than sent again.

#include "engine/upload_resume.h"

#include "ftp/ftp_client.h"
#include "session/trusted_certificates.h"
#include "session/upload_names.h"
#include "support/required_server.h"
#include "support/run_project.h"
#include "support/ssh_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

constexpr int64_t kBigFile = 200 * 1024 * 1024;

// Every 8-byte word holds its own offset mixed with `seed`: a piece sent from the wrong
// offset, or twice, shows as a difference.
void writeCountingFile(const std::string& path, uint64_t seed)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> block(128 * 1024);
    for (int64_t offset = 0; offset < kBigFile; offset += static_cast<int64_t>(block.size() * 8)) {
        for (size_t word = 0; word < block.size(); ++word)
            block[word] = (static_cast<uint64_t>(offset) + word * 8) * 0x9e3779b97f4a7c15 ^ seed;
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
    }
}

bool sameBytes(const std::string& a, const std::string& b)
{
    std::ifstream first(a, std::ios::binary);
    std::ifstream second(b, std::ios::binary);
    std::vector<char> one(1 << 20);
    std::vector<char> two(1 << 20);
    while (first && second) {
        first.read(one.data(), static_cast<std::streamsize>(one.size()));
        second.read(two.data(), static_cast<std::streamsize>(two.size()));
        if (first.gcount() != second.gcount() || !std::equal(one.begin(), one.begin() + first.gcount(), two.begin()))
            return false;
    }
    return first.eof() && second.eof();
}

// One kind of real server behind the few calls the test needs.
struct ServerUnderTest {
    std::string unavailable;
    std::function<bool()> start;
    std::function<void()> kill;
    std::function<bool()> restart;
    std::function<std::string(const std::string&)> pathOf;
    std::function<void(Project&)> addSite;
    std::function<std::string()> log;
};

ServerUnderTest ftpServer(FtpServer::Kind kind, FtpServer::Tls tls = FtpServer::Tls::None)
{
    struct Held {
        TempDir keys;
        std::unique_ptr<FtpServer> server;
    };
    auto held = std::make_shared<Held>();
    return { FtpServer::unavailableReason(kind),
        [held, kind, tls] {
            FtpServer::Setup setup;
            if (tls != FtpServer::Tls::None) {
                if (!FtpServer::makeCertificate(held->keys.path(), "server.pem", "localhost"))
                    return false;
                chmod(held->keys.path().c_str(), 0755);
                setup.tls = tls;
                setup.certificate = held->keys.file("server.pem");
            }
            held->server = std::make_unique<FtpServer>(kind, setup);
            return held->server->start();
        },
        [held] { held->server->kill(); }, [held] { return held->server->restart(); },
        [held](const std::string& relative) { return held->server->pathOf(relative); },
        [held, tls](Project& site) {
            site.addSite(*held->server);
            if (tls == FtpServer::Tls::None)
                return;
            // The run trusts what the project's data directory holds.
            const MachineOptions options;
            FtpClient probe(options);
            EXPECT_FALSE(probe.connect(held->server->url(), held->server->user(), held->server->password()));
            EXPECT_TRUE(TrustedCertificates(site.project.dataDirectory + "trusted-certs.txt")
                            .trust(held->server->hostAndPort(), probe.serverCertificate().fingerprint));
        },
        [held] { return held->server->log(); } };
}

ServerUnderTest sshServer()
{
    auto server = std::make_shared<std::unique_ptr<SshServer>>();
    return { SshServer::unavailableReason(),
        [server] {
            *server = std::make_unique<SshServer>();
            return (*server)->start();
        },
        [server] { (*server)->kill(); }, [server] { return (*server)->restart(); },
        [server](const std::string& relative) { return (*server)->pathOf(relative); },
        [server](Project& site) {
            EXPECT_TRUE(TrustedCertificates(site.project.dataDirectory + "trusted-host-keys.txt")
                            .trust((*server)->hostAndPort(), (*server)->hostKeyFingerprint()));
            site.addSite("sftp://" + (*server)->hostAndPort(), (*server)->user(), "").keyfile = (*server)->keyFile();
        },
        [server] { return (*server)->log(); } };
}

// The server dies 60% into a large upload. Run again, the upload continues from what the
// server's part holds, and arrives whole; a local file edited in between is sent whole, never
// glued onto the part of its old version.
TEST(UploadResume, BrokenLargeUploadContinuesOnEveryServer)
{
    const std::pair<const char*, ServerUnderTest> servers[] = {
        { "pyftpdlib", ftpServer(FtpServer::Kind::Pyftpdlib) },
        { "vsftpd", ftpServer(FtpServer::Kind::Vsftpd) },
        { "proftpd", ftpServer(FtpServer::Kind::Proftpd) },
        { "vsftpd over explicit TLS", ftpServer(FtpServer::Kind::Vsftpd, FtpServer::Tls::Explicit) },
        { "proftpd over explicit TLS", ftpServer(FtpServer::Kind::Proftpd, FtpServer::Tls::Explicit) },
        { "sshd", sshServer() },
    };
    for (const auto& [name, server] : servers) {
        SCOPED_TRACE(name);
        if (leaveOutServer(server.unavailable))
            continue;
        ASSERT_TRUE(server.start());
        Project site;
        server.addSite(site);
        site.project.clientBudgetMilliseconds = 5000;
        for (const bool editedInBetween : { false, true }) {
            SCOPED_TRACE(editedInBetween ? "edited in between" : "unchanged");
            const std::string file = editedInBetween ? "edited.mp4" : "video.mp4";
            writeCountingFile(site.tree.path(file), editedInBetween ? 2 : 1);
            site.sink.afterBytes = [&server](int64_t sent) {
                if (sent >= kBigFile * 6 / 10)
                    server.kill();
            };
            site.run();
            site.sink.afterBytes = nullptr;
            EXPECT_EQ(site.sink.count("Error "), 1u);
            const std::string part = server.pathOf(uploadPartName(file));
            ASSERT_TRUE(fs::exists(part)) << server.log();
            EXPECT_FALSE(fs::exists(server.pathOf(file)));
            if (editedInBetween)
                writeCountingFile(site.tree.path(file), 3);

            ASSERT_TRUE(server.restart());
            site.run();
            EXPECT_EQ(site.sink.count("Error "), 0u) << testing::PrintToString(site.sink.lines);
            if (editedInBetween)
                EXPECT_EQ(site.sink.bytes.load(), kBigFile);
            else
                EXPECT_LE(site.sink.bytes.load(), kBigFile * 45 / 100);
            EXPECT_TRUE(sameBytes(site.tree.path(file), server.pathOf(file)));
            EXPECT_FALSE(fs::exists(part));
            fs::remove(site.tree.path(file));
            fs::remove(server.pathOf(file));
        }
    }
}

TEST(UploadResume, OnlyALargeFileProvablyAsBegunIsContinued)
{
    constexpr int64_t big = kResumeFromSize;
    const FileStamp now { 1700000000, 123456789, big, 77, 1 };
    RecordedFile asBegun = begunRecordOf(now);
    const auto changed = [&asBegun](auto change) {
        RecordedFile record = asBegun;
        change(record);
        return std::optional(record);
    };
    struct Row {
        const char* name;
        std::optional<RecordedFile> begun;
        FileStamp now;
        bool resumed;
    };
    const Row rows[] = {
        { "unchanged", asBegun, now, true },
        { "nothing known of the begin", std::nullopt, now, false },
        { "below the size worth it", begunRecordOf({ 1700000000, 123456789, big - 1, 77, 1 }),
            { 1700000000, 123456789, big - 1, 77, 1 }, false },
        { "grew", asBegun, { 1700000000, 123456789, big + 1, 77, 1 }, false },
        { "touched within the second", asBegun, { 1700000000, 123456790, big, 77, 1 }, false },
        { "saved through a new file", asBegun, { 1700000000, 123456789, big, 78, 1 }, false },
        { "inode not recorded", changed([](RecordedFile& r) { r.inode = 0; }), now, true },
        { "record without fraction", changed([](RecordedFile& r) { r.nanoseconds = -1; }), now, false },
        { "record without size", changed([](RecordedFile& r) { r.size = -1; }), now, false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(mayResume(row.begun, row.now), row.resumed);
    }
}

} // namespace
