// What a windowless run prints, from the engine through the window's sink to the terminal's
// lines: the wording of each kind of failure, and the file lines with their site headers.

#include "connect/session_factory.h"
#include "session/trusted_certificates.h"
#include "sftp/sftp_session.h"
#include "shell/console_window.h"
#include "shell/project_list.h"
#include "shell/run_controller.h"
#include "shell/windowless_runner.h"
#include "support/fake_ftp_server.h"
#include "support/run_project.h"
#include "support/scripted_session.h"
#include "support/ssh_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// A console writing into memory, driving one run of `project` as the windowless runner does.
class Console {
public:
    explicit Console(Verbosity verbosity)
        : out_(open_memstream(&buffer_, &size_))
        , view_(projects_, out_, {}, ConsoleOptions { verbosity, false, false })
    {
    }
    ~Console()
    {
        std::fclose(out_);
        std::free(buffer_);
    }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    std::string run(WebProject& project)
    {
        view_.setErrorContext([&project] { return WindowlessRunner::errorContext(project); });
        {
            RunController controller(view_);
            controller.runUpload(project);
        }
        std::fflush(out_);
        return std::string(buffer_, size_);
    }

private:
    ProjectList projects_;
    char* buffer_ = nullptr;
    size_t size_ = 0;
    FILE* out_;
    ConsoleWindow view_;
};

// Each failure a user meets, with the one line a quiet run prints for it: it names the file
// or the site, says what happened in words, and holds the server's reply where there is one.
TEST(ConsoleWindow, EachFailureIsOneLineInWords)
{
    FtpServer server;
    server.setReadOnlyFolder("locked");
    ASSERT_TRUE(server.start()) << server.error();
    FtpServer stopped;
    ASSERT_TRUE(stopped.start()) << stopped.error();
    const std::string deadUrl = stopped.url();
    stopped.stop();
    const MachineOptions options;
    ScriptedServer scripted;
    scripted.localError = [](const std::string& file) { return file.ends_with("secret.html") ? EACCES : 0; };
    // Real servers fill no disk on demand; the scripted one answers a STOR as a full one does.
    const auto fullDisk = [](FakeFtpServer::Answer stor) {
        auto fake = std::make_unique<FakeFtpServer>();
        fake->greet({ "220 Ready\r\n" });
        fake->on("USER", "331 Password please\r\n");
        fake->on("PASS", "230 Logged in\r\n");
        fake->on("STOR", std::move(stor));
        return fake;
    };
    const bool sshRuns = SshServer::unavailableReason().empty();
    SshServer ssh;
    if (sshRuns) {
        ASSERT_TRUE(ssh.start()) << ssh.error();
    }
    TempDir trust;
    const std::string hostKeys = trust.path() + "/hostkeys";
    ASSERT_TRUE(!sshRuns || TrustedCertificates(hostKeys).trust(ssh.hostAndPort(), ssh.hostKeyFingerprint()));

    enum class Serves : char { Given, Scripted, FullDisk, Sftp };
    struct Row {
        const char* name;
        std::string url; // for FullDisk and Sftp the server's own
        std::string password;
        const char* file; // the one file of the site
        bool vanishes; // removed once the scan has seen it
        Serves serves;
        std::string expected; // "@" stands for the project and site the line names, "%" for the user
        FakeFtpServer::Answer stor = {};
    };
    const Row rows[] = {
        { "connection refused", deadUrl, server.password(), "a.html", false, Serves::Given,
            "tarnwick: @: cannot connect to " + deadUrl + ": connection refused\n" },
        { "unknown host", "nowhere.invalid:2121", server.password(), "a.html", false, Serves::Given,
            "tarnwick: @: cannot connect to nowhere.invalid:2121: no such host is known\n" },
        { "login refused", server.url(), "not-the-password", "a.html", false, Serves::Given,
            "tarnwick: @: server refused the login for user %: 530 Authentication failed.\n" },
        { "TLS refused", "ftpes://" + server.url(), server.password(), "a.html", false, Serves::Given,
            "tarnwick: @: server refused TLS (AUTH TLS), so no password was sent: 500 Command \"AUTH\" not "
            "understood.\n" },
        { "file vanished", server.url(), server.password(), "gone.html", true, Serves::Given,
            "failed gone.html: vanished before it was sent\n" },
        { "permission denied on the server", server.url(), server.password(), "locked/page.html", false, Serves::Given,
            "failed locked/page.html: the server refused it: 550 Not enough privileges.\n" },
        { "permission denied locally", "", "", "secret.html", false, Serves::Scripted,
            "failed secret.html: cannot be read: permission denied\n" },
        { "disk full", "", "", "big.html", false, Serves::FullDisk,
            "failed big.html: the server has no room for it: 452 Insufficient storage space.\n",
            FakeFtpServer::Answer::replies({ "452 Insufficient storage space.\r\n" }) },
        { "quota used up while sending", "", "", "big.html", false, Serves::FullDisk,
            "failed big.html: the server has no room for it: 552 Exceeded storage allocation.\n",
            FakeFtpServer::Answer::receiving("150 Go ahead\r\n", "552 Exceeded storage allocation.\r\n") },
        { "SFTP login refused", "", "not-the-password", "a.html", false, Serves::Sftp,
            "tarnwick: @: server refused the login for user %\n" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.serves == Serves::Sftp && !sshRuns) {
            std::printf("skipped \"%s\": %s\n", row.name, SshServer::unavailableReason().c_str());
            continue;
        }
        std::unique_ptr<FakeFtpServer> fake;
        std::string url = row.url;
        std::string user = server.user();
        if (row.serves == Serves::FullDisk) {
            fake = fullDisk(row.stor);
            ASSERT_TRUE(fake->start());
            url = fake->url();
        } else if (row.serves == Serves::Sftp) {
            url = "sftp://" + ssh.hostAndPort();
            user = ssh.user();
        }
        Project site;
        site.tree.add(row.file, "text");
        site.addSite(url, user, row.password).connections = 1;
        SessionFactory factory(options, std::chrono::milliseconds(5000));
        site.project.sessionMaker = [&](const std::string& sessionUrl) -> std::unique_ptr<RemoteSession> {
            if (row.vanishes)
                fs::remove(site.tree.path(row.file));
            if (row.serves == Serves::Scripted)
                return scripted.make(sessionUrl);
            std::unique_ptr<RemoteSession> session = factory.make(sessionUrl);
            if (auto* sftp = dynamic_cast<SftpSession*>(session.get()))
                sftp->setTrustedHostKeysPath(hostKeys);
            return session;
        };
        Console console(Verbosity::Quiet);
        const std::string output = console.run(site.project);
        std::string expected = row.expected;
        if (size_t at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, "site.ftp, site 1 \"site1\" (" + url + ")");
        if (size_t at = expected.find('%'); at != std::string::npos)
            expected.replace(at, 1, user);
        EXPECT_EQ(output, expected) << (fake ? testing::PrintToString(fake->commands()) : std::string());
        ASSERT_EQ(site.project.items.size(), 1u);
        EXPECT_TRUE(site.project.items.front().failed);
    }
}

// With several sites each file line comes under the site it belongs to; a replaced file's
// previous version goes to the archive without a line of its own.
TEST(ConsoleWindow, FileLinesComeUnderTheirSite)
{
    ScriptedServer scripted;
    Project site;
    site.tree.add("index.html", "home");
    site.tree.add("sub/page.html", "page");
    site.addSite("one.example", "u", "p").connections = 1;
    site.addSite("two.example", "u", "p").connections = 1;
    site.project.sessionMaker = [&](const std::string& url) { return scripted.make(url); };
    Console first(Verbosity::Normal);
    EXPECT_EQ(first.run(site.project),
        "site \"site1\" (one.example):\n"
        "uploaded index.html\n"
        "uploaded sub/page.html\n"
        "site \"site2\" (two.example):\n"
        "uploaded index.html\n"
        "uploaded sub/page.html\n");

    site.tree.add("index.html", "home again", TestTree::kDefaultTime + 60);
    site.project.archivdir = "/_archive";
    Console second(Verbosity::Normal);
    const std::string output = second.run(site.project);
    EXPECT_EQ(output,
        "site \"site1\" (one.example):\nuploaded index.html\nsite \"site2\" (two.example):\nuploaded "
        "index.html\n");
    EXPECT_NE(std::find_if(scripted.calls.begin(), scripted.calls.end(),
                  [](const std::string& call) { return call.starts_with("mv /index.html /_archive/"); }),
        scripted.calls.end());
}

TEST(ConsoleWindow, OutcomeLinesNameFilesFromTheLocalFolder)
{
    using Kind = WebProject::StepOutcome::Kind;
    WebProject project;
    project.local = "/srv/site/";
    struct Case {
        WebProject::StepOutcome outcome;
        const char* line;
    } cases[] = {
        { { Kind::Uploaded, 1, "/srv/site/www/a.html", {} }, "uploaded www/a.html" },
        { { Kind::Deleted, 1, "/srv/site/old.html", {} }, "deleted old.html" },
        { { Kind::Archived, 1, "/srv/site/old.html", "/_archive/old_1.html" },
            "archived old.html to /_archive/old_1.html" },
        // The previous version of a replaced file, named by its server path.
        { { Kind::Archived, 1, "/www/a.html", "/_archive/a_1.html" }, "" },
        { { Kind::Failed, 2, "/srv/site/b.html", "vanished before it was sent" },
            "failed b.html: vanished before it was sent" },
        // A folder beside the local one whose name begins the same.
        { { Kind::Uploaded, 1, "/srv/site2/x.html", {} }, "uploaded /srv/site2/x.html" },
    };
    for (const Case& test : cases)
        EXPECT_EQ(ConsoleWindow::outcomeLine(project, test.outcome), test.line) << test.outcome.path;
}

} // namespace
