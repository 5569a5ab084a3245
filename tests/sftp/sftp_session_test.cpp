// SftpSession against the distribution's OpenSSH server on 127.0.0.1.

#include "platform/stop_signal.h"
#include "session/trusted_certificates.h"
#include "session/upload_names.h"
#include "sftp/sftp_session.h"
#include "support/ftp_recording_sink.h"
#include "support/required_server.h"
#include "support/ssh_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A sink that can act in the middle of a transfer.
class HookedSink : public FtpRecordingSink {
public:
    std::function<void()> bytesHook;
    void onBytes(int64_t count) override
    {
        FtpRecordingSink::onBytes(count);
        if (bytesHook)
            std::exchange(bytesHook, {})();
    }
    [[nodiscard]] std::string transcript() const
    {
        std::string all;
        for (const std::string& line : lines)
            all += line;
        return all;
    }
};

class SftpSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_UNLESS_SERVER_RUNS(SshServer::unavailableReason());
        ASSERT_TRUE(server.start()) << server.error();
        knownHosts = local.file("known_hosts");
        trustedKeys = local.file("trusted-host-keys.txt");
    }

    // A session that trusts the server through Tarnwick's own store.
    std::unique_ptr<SftpSession> session(std::chrono::milliseconds budget = 10s)
    {
        auto made = std::make_unique<SftpSession>(budget);
        made->setKnownHostsPath(knownHosts);
        made->setTrustedHostKeysPath(trustedKeys);
        made->setEventSink(&sink);
        return made;
    }
    std::unique_ptr<SftpSession> loggedIn(std::chrono::milliseconds budget = 10s)
    {
        EXPECT_TRUE(TrustedCertificates(trustedKeys).trust(server.hostAndPort(), server.hostKeyFingerprint()));
        auto made = session(budget);
        ClientResult result = made->login(server.host(), server.port(), server.user(), "", server.keyFile());
        EXPECT_TRUE(result.ok()) << failureName(result.failure) << "\n" << sink.transcript() << server.log();
        return made;
    }

    SshServer server;
    TempDir local;
    HookedSink sink;
    std::string knownHosts;
    std::string trustedKeys;
};

TEST_F(SftpSessionTest, HostKeyIsTrustedOnlyThroughKnownHostsOrTheOwnStore)
{
    enum class Known { Nothing, RealKey, OtherKey };
    struct Row {
        const char* name;
        Known knownHosts;
        bool ownStoreTrusts;
        Failure expected;
        std::vector<std::string> messages;
    };
    const std::string trustCommand
        = "tarnwick --trust-cert sftp://" + server.hostAndPort() + " " + server.hostKeyFingerprint();
    const std::vector<Row> rows = {
        { "unknown key", Known::Nothing, false, Failure::GiveUpSite, { trustCommand } },
        { "trusted in the own store", Known::Nothing, true, Failure::None, {} },
        { "in known_hosts", Known::RealKey, false, Failure::None, {} },
        { "changed against known_hosts, own store cannot override", Known::OtherKey, true, Failure::GiveUpSite,
            { "CHANGED", "possible attack", server.hostKeyFingerprint() } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(knownHosts);
        fs::remove(trustedKeys);
        if (row.knownHosts != Known::Nothing)
            std::ofstream(knownHosts) << (row.knownHosts == Known::RealKey ? server.knownHostsLine()
                                                                           : server.knownHostsLineWithOtherKey());
        if (row.ownStoreTrusts) {
            ASSERT_TRUE(TrustedCertificates(trustedKeys).trust(server.hostAndPort(), server.hostKeyFingerprint()));
        }
        sink.lines.clear();
        auto client = session();
        ClientResult result = client->login(server.host(), server.port(), server.user(), "", server.keyFile());
        EXPECT_EQ(result.failure, row.expected) << sink.transcript();
        EXPECT_EQ(client->hostKeyFingerprint(), server.hostKeyFingerprint());
        for (const std::string& message : row.messages)
            EXPECT_NE(sink.transcript().find(message), std::string::npos) << message << "\n" << sink.transcript();
        EXPECT_EQ(client->link() == SftpSession::Link::Ready, row.expected == Failure::None);
    }
}

TEST_F(SftpSessionTest, LogsInWithPasswordOrKeyAndRefusesAWrongPassword)
{
    struct Row {
        const char* name;
        bool needsPassword;
        std::string password;
        std::string keyFile;
        Failure expected;
    };
    const std::vector<Row> rows = {
        { "key file", false, "", server.keyFile(), Failure::None },
        { "password", true, server.password(), "", Failure::None },
        { "wrong password", true, "not-" + server.password(), "", Failure::GiveUpSite },
        { "password wins over the key", true, "not-" + server.password(), server.keyFile(), Failure::GiveUpSite },
        { "unreadable key file", false, "", local.file("no-such-key"), Failure::GiveUpSite },
    };
    ASSERT_TRUE(TrustedCertificates(trustedKeys).trust(server.hostAndPort(), server.hostKeyFingerprint()));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsPassword && !server.passwordUnavailableReason().empty()) {
            std::cout << "[ SKIPPED  ] " << row.name << ": " << server.passwordUnavailableReason() << "\n";
            continue;
        }
        sink.lines.clear();
        auto client = session();
        const auto started = std::chrono::steady_clock::now();
        ClientResult result = client->login(server.host(), server.port(), server.user(), row.password, row.keyFile);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 8s);
        EXPECT_EQ(result.failure, row.expected) << sink.transcript() << server.log();
        if (!row.password.empty()) {
            EXPECT_EQ(sink.transcript().find(row.password), std::string::npos) << "the password reached the transcript";
        }
        if (result.ok()) {
            EXPECT_EQ(client->currentDirectory(), "/");
        }
    }
    if (!server.passwordUnavailableReason().empty())
        GTEST_SKIP() << "password rows: " << server.passwordUnavailableReason();
}

TEST_F(SftpSessionTest, AtomicUploadReplacesTheLiveFileAfterTheBeforeReplaceStep)
{
    struct Row {
        const char* name;
        std::string deniedRequests;
        int renames; // as the transcript shows them
    };
    const std::vector<Row> rows = {
        { "posix-rename replaces in one step", "", 1 },
        // The old file steps aside and is removed once the part is live.
        { "posix-rename offered but refused", "posix-rename", 3 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SshServer target(row.deniedRequests);
        ASSERT_TRUE(target.start()) << target.error();
        target.putFile("www/a.html", "old version");
        ASSERT_TRUE(TrustedCertificates(trustedKeys).trust(target.hostAndPort(), target.hostKeyFingerprint()));
        sink.lines.clear();
        sink.uploadsBegun.clear();
        sink.bytes = 0;
        auto client = session();
        ASSERT_TRUE(client->login(target.host(), target.port(), target.user(), "", target.keyFile()).ok());
        client->setAtomicUploads(true);
        std::string seenLive;
        bool partComplete = false;
        client->setBeforeReplace([&] {
            seenLive = readFile(target.pathOf("www/a.html"));
            partComplete = readFile(target.pathOf(uploadPartName("www/a.html"))) == "new version";
        });
        const std::string source = local.writeFile("a.html", "new version");
        ClientResult result = client->upload("/www/a.html", source, TransferMode::Image, 11);
        ASSERT_TRUE(result.ok()) << sink.transcript() << target.log();
        EXPECT_EQ(seenLive, "old version");
        EXPECT_TRUE(partComplete);
        EXPECT_EQ(readFile(target.pathOf("www/a.html")), "new version");
        EXPECT_FALSE(fs::exists(target.pathOf(uploadPartName("www/a.html"))));
        EXPECT_FALSE(fs::exists(target.pathOf(uploadOldName("www/a.html"))));
        EXPECT_EQ(sink.uploadsBegun, std::vector<std::string> { source });
        EXPECT_EQ(sink.bytes, 11);
        EXPECT_EQ(sink.count("rename"), row.renames) << sink.transcript();

        // The step belongs to one upload; a failed send leaves the live file alone.
        int steps = 0;
        client->setBeforeReplace([&] { ++steps; });
        ClientResult missing = client->upload("/www/a.html", local.file("no-such-file"));
        EXPECT_EQ(missing.failure, Failure::RetryItem);
        EXPECT_EQ(missing.systemError, ENOENT);
        EXPECT_EQ(sink.failedTransfers.back(), local.file("no-such-file"));
        const std::string second = local.writeFile("b.html", "third version");
        ASSERT_TRUE(client->upload("/www/a.html", second).ok());
        EXPECT_EQ(steps, 0);
        EXPECT_EQ(readFile(target.pathOf("www/a.html")), "third version");
        ASSERT_TRUE(client->renameFile("/www/a.html", "/www/b.html").ok());
        EXPECT_EQ(readFile(target.pathOf("www/b.html")), "third version");
    }
}

// Names of the part and old files anywhere below `root`.
std::vector<std::string> leftovers(const std::string& root)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (isUploadLeftover(entry.path().string()))
            found.push_back(entry.path().string());
    return found;
}

TEST_F(SftpSessionTest, UploadsKeepTheLocalModificationTimeWhereTheServerAllows)
{
    constexpr int64_t kLocalTime = 1000000000; // 2001, far from now
    struct Row {
        const char* name;
        std::string deniedRequests;
        bool atomic;
        size_t size;
        bool timeKept;
    };
    const std::vector<Row> rows = {
        { "one write, part renamed", "", true, 100, true },
        { "several writes, part renamed", "", true, 600 * 1024, true },
        // OpenSSH's limit per write, taken by the session: the largest file sent in one write.
        { "exactly one full write", "", true, 255 * 1024, true },
        { "empty file", "", true, 0, true },
        { "one write, straight to the live name", "", false, 100, true },
        { "several writes, straight to the live name", "", false, 600 * 1024, true },
        { "server refuses setting times", "setstat,fsetstat", true, 100, false },
        { "server refuses setting times, several writes", "setstat,fsetstat", true, 600 * 1024, false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SshServer target(row.deniedRequests);
        ASSERT_TRUE(target.start()) << target.error();
        ASSERT_TRUE(TrustedCertificates(trustedKeys).trust(target.hostAndPort(), target.hostKeyFingerprint()));
        sink.lines.clear();
        auto client = session();
        ASSERT_TRUE(client->login(target.host(), target.port(), target.user(), "", target.keyFile()).ok());
        client->setAtomicUploads(row.atomic);
        const std::string content = patternBytes(row.size);
        for (const char* name : { "a.bin", "b.bin" }) {
            const std::string source = local.writeFile(name, content);
            fs::last_write_time(source,
                fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(kLocalTime))));
            ASSERT_TRUE(client->upload(std::string("/www/") + name, source).ok()) << sink.transcript();
            const std::string arrived = target.pathOf(std::string("www/") + name);
            EXPECT_TRUE(readFile(arrived) == content);
            const auto serverTime = std::chrono::duration_cast<std::chrono::seconds>(
                fs::file_time_type::clock::to_sys(fs::last_write_time(arrived)).time_since_epoch())
                                        .count();
            EXPECT_EQ(serverTime == kLocalTime, row.timeKept) << name;
        }
        EXPECT_EQ(sink.count("Error"), 0) << sink.transcript();
    }
}

// The next file's part is opened while the current one is put in place; whatever follows,
// nothing opened early is left on the server.
TEST_F(SftpSessionTest, APartOpenedEarlyIsUsedOrRemoved)
{
    enum class Then { ExpectedFollows, AnotherFollows, Withdrawn, SessionEnds, ExpectedGrew, AtomicOff };
    struct Row {
        const char* name;
        std::string expected; // remote name of the file announced
        Then then;
    };
    const std::vector<Row> rows = {
        { "the expected file follows", "/www/b.html", Then::ExpectedFollows },
        { "the expected file follows into a missing folder", "/www/new/b.html", Then::ExpectedFollows },
        { "another file follows", "/www/b.html", Then::AnotherFollows },
        { "the expectation is withdrawn", "/www/b.html", Then::Withdrawn },
        { "the session ends", "/www/b.html", Then::SessionEnds },
        { "the expected file grew past one write", "/www/b.html", Then::ExpectedGrew },
        { "the expected file follows without a part", "/www/b.html", Then::AtomicOff },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SshServer target;
        ASSERT_TRUE(target.start()) << target.error();
        target.putFile("www/b.html", "old b");
        ASSERT_TRUE(TrustedCertificates(trustedKeys).trust(target.hostAndPort(), target.hostKeyFingerprint()));
        sink.lines.clear();
        auto client = session();
        ASSERT_TRUE(client->login(target.host(), target.port(), target.user(), "", target.keyFile()).ok());
        client->setAtomicUploads(true);
        const std::string a = local.writeFile("a.html", "page a");
        const std::string b = local.writeFile("b.html", "page b");
        const std::string bOnServer = target.pathOf(row.expected.substr(1));
        client->expectUpload(row.expected, b);
        ASSERT_TRUE(client->upload("/www/a.html", a).ok()) << sink.transcript();
        const bool folderThere = fs::is_directory(fs::path(bOnServer).parent_path());
        EXPECT_EQ(leftovers(target.pathOf("www")).size(), folderThere ? 1u : 0u) << "opened early";

        std::string expectedB = folderThere ? "old b" : "";
        switch (row.then) {
        case Then::ExpectedFollows:
            ASSERT_TRUE(client->upload(row.expected, b).ok()) << sink.transcript();
            expectedB = "page b";
            break;
        case Then::AnotherFollows:
            ASSERT_TRUE(client->upload("/www/c.html", a).ok()) << sink.transcript();
            EXPECT_EQ(readFile(target.pathOf("www/c.html")), "page a");
            break;
        case Then::Withdrawn: client->expectUpload({}, {}); break;
        case Then::SessionEnds: client->quit(); break;
        case Then::ExpectedGrew:
            expectedB = patternBytes(client->chunkSize() + 1000);
            (void)local.writeFile("b.html", expectedB);
            ASSERT_TRUE(client->upload(row.expected, b).ok()) << sink.transcript();
            break;
        case Then::AtomicOff:
            client->setAtomicUploads(false);
            ASSERT_TRUE(client->upload(row.expected, b).ok()) << sink.transcript();
            expectedB = "page b";
            break;
        }
        EXPECT_EQ(readFile(target.pathOf("www/a.html")), "page a");
        EXPECT_TRUE(readFile(bOnServer) == expectedB);
        EXPECT_EQ(leftovers(target.pathOf("www")), std::vector<std::string>());
        EXPECT_EQ(sink.count("Error"), 0) << sink.transcript();
    }
}

// Answers no real server gives to a batch of requests: the upload fails, the session is given
// up at once (within its budget when nothing comes) and the live file keeps its old version.
TEST_F(SftpSessionTest, MalformedAnswersToABatchBreakTheSessionAndPublishNothing)
{
    enum class Outcome { Published, Broken, TimedOut };
    struct Row {
        const char* fault; // as tests/support/scripted_sftp.py names it
        Outcome outcome;
        const char* message;
    };
    const char* const outOfStep = "the server's answer fits no request sent";
    const std::vector<Row> rows = {
        { "", Outcome::Published, "" },
        { "unknown-id", Outcome::Broken, outOfStep },
        { "duplicate-id", Outcome::Broken, outOfStep },
        { "cut-short", Outcome::Broken, "connection lost (the server closed the channel)" },
        { "huge-length", Outcome::Broken, outOfStep },
        { "unknown-type", Outcome::Broken, outOfStep },
        { "short-status", Outcome::Broken, outOfStep },
        { "handle-for-write", Outcome::Broken, outOfStep },
        { "garbage", Outcome::Broken, outOfStep },
        { "long-handle", Outcome::Broken, outOfStep },
        { "silent", Outcome::TimedOut, "no progress within 2000 ms" },
    };
    constexpr auto budget = 2s;
    const std::string source = local.writeFile("a.html", "new version");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        SshServer target;
        target.useScriptedSftp(row.fault);
        ASSERT_TRUE(target.start()) << target.error();
        target.putFile("a.html", "old version");
        ASSERT_TRUE(TrustedCertificates(trustedKeys).trust(target.hostAndPort(), target.hostKeyFingerprint()));
        sink.lines.clear();
        auto client = session(budget);
        ASSERT_TRUE(client->login(target.host(), target.port(), target.user(), "", target.keyFile()).ok())
            << sink.transcript() << target.log();
        client->setAtomicUploads(true);
        const auto started = std::chrono::steady_clock::now();
        const ClientResult result = client->upload("/a.html", source);
        const auto took = std::chrono::steady_clock::now() - started;
        const bool published = row.outcome == Outcome::Published;
        EXPECT_EQ(result.ok(), published) << sink.transcript();
        EXPECT_EQ(client->isBroken(), !published);
        EXPECT_EQ(client->timedOut(), row.outcome == Outcome::TimedOut);
        EXPECT_LT(took, row.outcome == Outcome::TimedOut ? budget + 2s : budget / 2);
        EXPECT_NE(sink.transcript().find(published ? "rename" : row.message), std::string::npos) << sink.transcript();
        EXPECT_EQ(sink.transcript().find("Error") == std::string::npos, published);
        EXPECT_EQ(readFile(target.pathOf("a.html")), published ? "new version" : "old version");
    }
}

// A part left by a broken upload is continued where the server writes into it; a server that
// will not open it without truncating, or not write into what it holds, gets the whole file.
TEST_F(SftpSessionTest, AContinuedUploadIsSentWholeWhereTheServerRefusesToContinue)
{
    struct Row {
        const char* fault; // as tests/support/scripted_sftp.py names it
        bool continued;
    };
    const std::vector<Row> rows = {
        { "", true },
        { "no-keeping-open", false },
        { "no-keeping-write", false },
    };
    const std::string content = patternBytes(1024 * 1024 + 123);
    const size_t held = 400 * 1024 + 7;
    const std::string source = local.writeFile("big.bin", content);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        SshServer target;
        target.useScriptedSftp(row.fault);
        ASSERT_TRUE(target.start()) << target.error();
        target.putFile(uploadPartName("big.bin"), content.substr(0, held));
        ASSERT_TRUE(TrustedCertificates(trustedKeys).trust(target.hostAndPort(), target.hostKeyFingerprint()));
        sink.lines.clear();
        sink.bytes = 0;
        auto client = session();
        ASSERT_TRUE(client->login(target.host(), target.port(), target.user(), "", target.keyFile()).ok());
        client->setAtomicUploads(true);
        ASSERT_TRUE(client->resumeUpload("/big.bin", source).ok()) << sink.transcript();
        EXPECT_EQ(sink.bytes, static_cast<int64_t>(row.continued ? content.size() - held : content.size()));
        EXPECT_TRUE(readFile(target.pathOf("big.bin")) == content);
        EXPECT_FALSE(fs::exists(target.pathOf(uploadPartName("big.bin"))));
        EXPECT_EQ(sink.transcript().find("Error"), std::string::npos) << sink.transcript();
    }
}

TEST_F(SftpSessionTest, FoldersWithBlanksAndUmlautsListRenameAndDelete)
{
    auto client = loggedIn();
    ASSERT_EQ(client->link(), SftpSession::Link::Ready);
    const std::string folder = "/Neue Seiten/Bücher äöü";
    ASSERT_TRUE(client->makeDirectory(folder).ok()) << sink.transcript();
    EXPECT_TRUE(fs::is_directory(server.pathOf("Neue Seiten/Bücher äöü")));
    EXPECT_TRUE(client->makeDirectory(folder).ok()) << "an existing folder counts as made";

    ASSERT_TRUE(client->changeDirectory(folder).ok());
    EXPECT_EQ(client->currentDirectory(), folder);
    EXPECT_TRUE(client->changeDirectory("../../../..").ok()) << "never above the login folder";
    EXPECT_EQ(client->currentDirectory(), "/");
    ASSERT_TRUE(client->changeDirectory("Neue Seiten").ok());
    const std::string page = local.writeFile("seite.html", "<p>Grüße</p>");
    ASSERT_TRUE(client->upload("Bücher äöü/Grüße 1.html", page).ok()) << sink.transcript();
    EXPECT_EQ(readFile(server.pathOf("Neue Seiten/Bücher äöü/Grüße 1.html")), "<p>Grüße</p>");
    fs::create_directory_symlink(server.pathOf("Neue Seiten/Bücher äöü"), server.pathOf("Neue Seiten/link"));

    std::vector<RemoteEntry> entries = client->listEntries("/Neue Seiten");
    std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), 2u) << sink.transcript();
    EXPECT_EQ(entries[0].name, "Bücher äöü");
    EXPECT_TRUE(entries[0].isDirectory);
    EXPECT_EQ(entries[1].name, "link");
    EXPECT_TRUE(entries[1].isDirectory) << "a link to a folder counts as a folder";
    std::vector<RemoteEntry> files = client->listEntries("Bücher äöü");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, "Grüße 1.html");
    EXPECT_EQ(files[0].size, static_cast<int64_t>(std::string("<p>Grüße</p>").size()));
    EXPECT_FALSE(files[0].isDirectory);
    EXPECT_NEAR(static_cast<double>(files[0].modificationTime), static_cast<double>(std::time(nullptr)), 120.0);
    EXPECT_TRUE(client->listEntries("/nowhere").empty());
    EXPECT_EQ(client->lastResult().failure, Failure::RetryItem);

    EXPECT_EQ(client->remoteSize("Bücher äöü/Grüße 1.html"), std::optional<int64_t>(14));
    ASSERT_TRUE(client->renameFile("Bücher äöü/Grüße 1.html", "/Neue Seiten/Grüße 2.html").ok());
    EXPECT_EQ(client->remoteFileExists("Bücher äöü/Grüße 1.html"), std::optional<bool>(false));
    EXPECT_EQ(client->remoteFileExists("/Neue Seiten/Grüße 2.html"), std::optional<bool>(true));
    EXPECT_EQ(client->removeDirectory("/Neue Seiten").failure, Failure::RetryItem) << "not empty";
    ASSERT_TRUE(client->deleteFile("Grüße 2.html").ok());
    ASSERT_TRUE(client->deleteFile("link").ok());
    ASSERT_TRUE(client->removeDirectory("Bücher äöü").ok());
    EXPECT_TRUE(fs::is_empty(server.pathOf("Neue Seiten")));
    EXPECT_EQ(client->deleteFile("Grüße 2.html").failure, Failure::RetryItem);
    EXPECT_EQ(client->link(), SftpSession::Link::Ready) << "refusals leave the session working";
}

TEST_F(SftpSessionTest, LargeFilesTravelByteIdenticalAndDownloadsNeverOverwrite)
{
    auto client = loggedIn();
    ASSERT_EQ(client->link(), SftpSession::Link::Ready);
    client->setAtomicUploads(true);
    const std::string content = patternBytes(6 * 1024 * 1024 + 321);
    const std::string source = local.writeFile("big.bin", content);
    ASSERT_TRUE(client->upload("/big.bin", source).ok()) << sink.transcript();
    EXPECT_TRUE(readFile(server.pathOf("big.bin")) == content);
    EXPECT_EQ(sink.bytes, static_cast<int64_t>(content.size()));

    const std::string copy = local.file("copy.bin");
    ASSERT_TRUE(client->download("/big.bin", copy).ok()) << sink.transcript();
    EXPECT_TRUE(readFile(copy) == content);

    const std::string existing = local.writeFile("kept.txt", "mine");
    ClientResult refused = client->download("/big.bin", existing);
    EXPECT_EQ(refused.failure, Failure::RetryItem);
    EXPECT_EQ(refused.systemError, EEXIST);
    EXPECT_EQ(readFile(existing), "mine");
    EXPECT_EQ(client->download("/missing.bin", local.file("missing.bin")).failure, Failure::RetryItem);
    EXPECT_FALSE(fs::exists(local.file("missing.bin"))) << "a failed download leaves nothing behind";
}

TEST_F(SftpSessionTest, BrokenFrozenOrStoppedSessionsFailWithinTheBudget)
{
    enum class Fault { Killed, Frozen, Stopped };
    struct Row {
        const char* name;
        Fault fault;
        Failure expected;
        bool timedOut;
    };
    const std::vector<Row> rows = {
        { "server killed mid-transfer", Fault::Killed, Failure::Reconnect, false },
        { "server frozen mid-transfer", Fault::Frozen, Failure::Reconnect, true },
        { "run stopped mid-transfer", Fault::Stopped, Failure::GiveUpSite, false },
    };
    const std::string content = patternBytes(32 * 1024 * 1024);
    const std::string source = local.writeFile("huge.bin", content);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SshServer target;
        ASSERT_TRUE(target.start()) << target.error();
        target.putFile("live.bin", "the live version");
        ASSERT_TRUE(TrustedCertificates(trustedKeys).trust(target.hostAndPort(), target.hostKeyFingerprint()));
        StopSignal stop;
        constexpr auto budget = 2s;
        auto client = session(budget);
        client->setStopSignal(&stop);
        ASSERT_TRUE(client->login(target.host(), target.port(), target.user(), "", target.keyFile()).ok())
            << sink.transcript();
        client->setAtomicUploads(true);
        sink.bytesHook = [&] {
            switch (row.fault) {
            case Fault::Killed: target.kill(); break;
            case Fault::Frozen: target.freeze(true); break;
            case Fault::Stopped: stop.raise(); break;
            }
        };
        const auto started = std::chrono::steady_clock::now();
        ClientResult result = client->upload("/live.bin", source);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(result.failure, row.expected) << sink.transcript();
        EXPECT_LT(took, budget + 2s);
        EXPECT_EQ(client->timedOut(), row.timedOut);
        EXPECT_TRUE(client->isBroken());
        EXPECT_EQ(readFile(target.pathOf("live.bin")), "the live version");
        const auto again = std::chrono::steady_clock::now();
        EXPECT_FALSE(client->makeDirectory("/later").ok());
        EXPECT_FALSE(client->remoteSize("/live.bin").has_value());
        EXPECT_LT(std::chrono::steady_clock::now() - again, 200ms) << "a broken session fails at once";
        client.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - started, budget + 3s) << "the destructor returns promptly";
        target.kill();
    }
}

} // namespace
