// What a windowless run prints, from the engine through the window's sink to the terminal's
// lines: the wording of each kind of failure, and the file lines with their site headers.

#include "connect/session_factory.h"
#include "shell/console_window.h"
#include "shell/project_list.h"
#include "shell/run_controller.h"
#include "shell/windowless_runner.h"
#include "support/run_project.h"
#include "support/scripted_session.h"

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

    struct Row {
        const char* name;
        std::string url;
        std::string password;
        const char* file; // the one file of the site
        bool vanishes; // removed once the scan has seen it
        bool useScripted;
        std::string expected; // "@" stands for the project and site the line names
    };
    const Row rows[] = {
        { "connection refused", deadUrl, server.password(), "a.html", false, false,
            "tarnwick: @: cannot connect to " + deadUrl + ": connection refused\n" },
        { "unknown host", "nowhere.invalid:2121", server.password(), "a.html", false, false,
            "tarnwick: @: cannot connect to nowhere.invalid:2121: no such host is known\n" },
        { "login refused", server.url(), "not-the-password", "a.html", false, false,
            "tarnwick: @: server refused the login for user " + server.user() + ": 530 Authentication failed.\n" },
        { "TLS refused", "ftpes://" + server.url(), server.password(), "a.html", false, false,
            "tarnwick: @: server refused TLS (AUTH TLS), so no password was sent: 500 Command \"AUTH\" not "
            "understood.\n" },
        { "file vanished", server.url(), server.password(), "gone.html", true, false,
            "failed gone.html: vanished before it was sent\n" },
        { "permission denied on the server", server.url(), server.password(), "locked/page.html", false, false,
            "failed locked/page.html: the server refused it: 550 Not enough privileges.\n" },
        { "permission denied locally", "scripted", "", "secret.html", false, true,
            "failed secret.html: cannot be read: permission denied\n" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Project site;
        site.tree.add(row.file, "text");
        site.addSite(row.url, server.user(), row.password);
        SessionFactory factory(options, std::chrono::milliseconds(5000));
        site.project.sessionMaker = [&](const std::string& url) -> std::unique_ptr<RemoteSession> {
            if (row.vanishes)
                fs::remove(site.tree.path(row.file));
            return row.useScripted ? scripted.make(url) : factory.make(url);
        };
        Console console(Verbosity::Quiet);
        const std::string output = console.run(site.project);
        std::string expected = row.expected;
        if (size_t at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, "site.ftp, site 1 \"site1\" (" + row.url + ")");
        EXPECT_EQ(output, expected);
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
