// The dry run against a real server: it lists exactly what the following real run sends,
// and it neither connects nor writes anything.

#include "engine/dry_run.h"
#include "engine/web_project.h"
#include "platform/file_utils.h"
#include "support/run_project.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

struct Scenario {
    const char* name;
    std::string archivdir;
    std::string htmlreport;
    int strategy = ProjectSettings::kFileListStrategy;
    const char* edited = "changed"; // the reason given for an edited file
};

// Every file of the folders below `root`, as a snapshot of names and contents.
std::map<std::string, std::string> snapshot(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const std::string& relative : listFiles(root))
        files[relative] = readText(root + "/" + relative);
    return files;
}

TEST(DryRun, ListsWhatTheNextRunSendsAndChangesNothing)
{
    const Scenario scenarios[] = {
        { "deletions", "", "" },
        { "archive, prune and report", "/archive", "/report.html" },
        // A file written again with its old bytes is not sent either.
        { "content", "", "", ProjectSettings::kContentStrategy, "content changed" },
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        FtpServer server;
        ASSERT_TRUE(server.start()) << server.error();
        Project run;
        TestTree& tree = run.tree;
        WebProject& project = run.project;
        RunSink& sink = run.sink;
        tree.add("a.html", "a");
        tree.add("old.html", "old");
        tree.add("sub/b.html", "b");
        tree.add("sub/gone.html", "gone");
        project.deleteRemoved = 1;
        project.archivdir = scenario.archivdir;
        project.archmax = 3;
        project.htmlreport = scenario.htmlreport;
        project.strategy = scenario.strategy;
        run.addSite(server.url(), server.user(), server.password()).name = "main";

        RunPlan first = planRun(project);
        ASSERT_EQ(first.sites.size(), 1u);
        for (const PlannedStep& step : first.sites[0].steps) {
            if (step.action == PlannedAction::Upload && step.reason != PlanReason::Report) {
                EXPECT_EQ(step.reason, PlanReason::New) << step.localPath;
            }
        }
        project.RunUpload();
        project.FinishRun();

        tree.add("a.html", "a, edited", TestTree::kDefaultTime + 60);
        tree.add("sub/new.html", "new");
        if (scenario.strategy == ProjectSettings::kContentStrategy)
            tree.add("sub/b.html", "b", TestTree::kDefaultTime + 60);
        fs::remove(tree.path("old.html"));
        fs::remove(tree.path("sub/gone.html"));

        const std::map<std::string, std::string> before = snapshot(tree.base());
        const std::string serverLog = server.log();
        RunPlan plan = planRun(project);
        EXPECT_EQ(snapshot(tree.base()), before) << "the dry run wrote a record";
        EXPECT_EQ(server.log(), serverLog) << "the dry run talked to the server";

        ASSERT_EQ(plan.sites.size(), 1u);
        std::vector<std::string> planned;
        std::vector<std::string> plannedGone;
        std::vector<std::string> reasons;
        for (const PlannedStep& step : plan.sites[0].steps) {
            if (step.action == PlannedAction::Upload) {
                planned.push_back(step.localPath);
                reasons.push_back(reasonName(step.reason));
            } else if (step.reason == PlanReason::Deleted) {
                plannedGone.push_back(step.serverPath);
                reasons.push_back(reasonName(step.reason));
            }
        }
        std::vector<std::string> expectedReasons = { scenario.edited, "new", "deleted", "deleted" };
        if (!scenario.htmlreport.empty())
            expectedReasons.push_back("report");
        EXPECT_EQ(reasons, expectedReasons);
        EXPECT_EQ(plannedGone, (std::vector<std::string> { "/old.html", "/sub/gone.html" }));
        EXPECT_EQ(plan.sites[0].pruneKeep, scenario.archivdir.empty() ? -1 : 3);
        const std::vector<std::string> lines = describePlan(plan);
        EXPECT_EQ(lines.front(), "site \"main\" (" + server.url() + "):");

        sink.uploads.clear();
        project.ClearItems();
        project.pendingCommands.clear();
        project.ReadFileList();
        project.DetectChanges();
        project.RunUpload();
        project.FinishRun();
        // Files go over several connections, so they finish in any order.
        std::sort(sink.uploads.begin(), sink.uploads.end());
        std::sort(planned.begin(), planned.end());
        EXPECT_EQ(sink.uploads, planned);
        for (const std::string& gone : plannedGone)
            EXPECT_FALSE(fs::exists(server.pathOf(gone.substr(1)))) << gone;
        EXPECT_TRUE(fs::exists(server.pathOf("sub/b.html")));
        if (!scenario.archivdir.empty()) {
            EXPECT_EQ(listFiles(server.pathOf("archive")).size(), 3u) << "a.html, old.html and gone.html archived";
        } else {
            EXPECT_EQ(compareTrees(tree.root(), server.root()), std::vector<std::string>());
        }
    }
}

TEST(DryRun, NothingChangedMeansNothingToDo)
{
    TestTree tree;
    tree.add("a.html");
    WebProject project;
    project.local = tree.root();
    project.projectPath = tree.base() + "/site.ftp";
    project.filelist = project.projectPath + ".txt";
    project.strategy = 2;
    project.deleteRemoved = 0;
    project.sites.push_back(FtpSite {});
    ASSERT_TRUE(writeFileAtomically(project.filelist,
        tree.path("a.html") + "=" + std::to_string(TestTree::kDefaultTime) + "\n" + tree.path("b.html") + "=1\n"));
    RunPlan plan = planRun(project);
    EXPECT_TRUE(plan.nothingToDo());
    // b.html is gone, but without automatic deletion it only leaves the record.
    EXPECT_EQ(plan.keptOnServer, 1);
    EXPECT_EQ(describePlan(plan),
        (std::vector<std::string> {
            "nothing to upload or delete", "1 files deleted locally stay on the server (automatic deletion is off)" }));
}

} // namespace
