// What a windowless run prints, from the engine through the window's sink to the terminal's
// lines: the file lines with their site headers.

#include "shell/console_window.h"
#include "shell/project_list.h"
#include "shell/run_controller.h"
#include "shell/windowless_runner.h"
#include "support/run_project.h"
#include "support/scripted_session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

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
