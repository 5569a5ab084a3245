// The rules of a run over a scripted server: which typed calls a run makes, in which order,
// and what it records, for the cases every user meets. No daemon: the real servers keep one
// end-to-end scenario each (upload_run_test.cpp, sftp_run_test.cpp).

#include "engine/dry_run.h"
#include "engine/web_project.h"
#include "support/run_project.h"
#include "support/scripted_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace {

// A project whose sites are all served by one scripted server, over one connection each so
// the order of calls is the order of the run.
struct ScriptedProject : Project {
    ScriptedServer server;

    explicit ScriptedProject(int sites = 1)
    {
        for (int site = 1; site <= sites; ++site)
            addSite("site" + std::to_string(site) + ".example", "web", "pw").connections = 1;
        project.sessionMaker = [this](const std::string& url) { return server.make(url); };
    }
    // The calls of the last run, archive stamps made readable.
    std::vector<std::string> runCalls()
    {
        server.calls.clear();
        run();
        std::vector<std::string> calls;
        for (const std::string& call : server.calls)
            calls.push_back(std::regex_replace(call, std::regex("[0-9]{12}"), "STAMP"));
        return calls;
    }
};

using Calls = std::vector<std::string>;

// The last run's outcomes as "kind name [detail]" with bare file names and readable stamps.
std::vector<std::string> outcomes(const WebProject& project)
{
    static const char* const kinds[] = { "uploaded", "deleted", "archived", "failed" };
    std::vector<std::string> lines;
    for (const WebProject::StepOutcome& outcome : project.stepOutcomes) {
        std::string line = kinds[static_cast<int>(outcome.kind)];
        line += " " + outcome.path.substr(outcome.path.rfind('/') + 1);
        if (!outcome.detail.empty())
            line += " " + std::regex_replace(outcome.detail, std::regex("[0-9]{12}"), "STAMP");
        lines.push_back(std::to_string(outcome.site) + " " + line);
    }
    return lines;
}

// Without any record the run cannot know what the server holds already: a file there from
// before goes into the archive rather than being overwritten, and a missing one is no error.
// A folder the run has just made holds nothing to archive.
TEST(RunRules, FirstRunMakesFoldersFirstAndArchivesOnlyWhatTheServerHeld)
{
    ScriptedProject site;
    site.project.archivdir = "/_archive";
    site.tree.add("index.html", "home");
    site.tree.add("news/today.html", "news");
    site.server.files = { "/index.html" };
    EXPECT_EQ(site.runCalls(),
        (Calls { "login site1.example", "mkdir /_archive", "list /_archive", "mkdir /news", "put /index.html",
            "mv /index.html /_archive/indexSTAMP.html", "put /news/today.html", "quit" }));
    EXPECT_EQ(site.sink.count("OK "), 2u);
    EXPECT_EQ(site.fileList().size(), 2u);
    EXPECT_EQ(std::count_if(site.sink.lines.begin(), site.sink.lines.end(),
                  [](const std::string& line) { return line.rfind("Error", 0) == 0; }),
        0);
    EXPECT_EQ(site.server.files.size(), 3u) << "the old index.html went into the archive";

    // Once recorded, files new to the server get no move at all.
    site.tree.add("fresh.html", "fresh");
    EXPECT_EQ(site.runCalls(),
        (Calls { "login site1.example", "mkdir /_archive", "put /fresh.html", "list /_archive", "quit" }));
}

TEST(RunRules, ReplacementsAndDeletionsGoIntoTheArchiveOnlyOnceTheNewFileIsWhole)
{
    struct Row {
        const char* archive;
        Calls second;
        std::vector<std::string> outcomes;
    };
    const Row rows[] = {
        { "",
            { "login site1.example", "put /index.html", "dele /gone/deep/x.html", "dele /old.html", "rmdir /gone/deep",
                "rmdir /gone", "quit" },
            { "1 uploaded index.html", "1 deleted x.html", "1 deleted old.html" } },
        { "/_archive",
            { "login site1.example", "mkdir /_archive", "list /_archive", "put /index.html",
                "mv /index.html /_archive/indexSTAMP.html", "mv /gone/deep/x.html /_archive/_gone_deep_xSTAMP.html",
                "mv /old.html /_archive/oldSTAMP.html", "rmdir /gone/deep", "rmdir /gone", "quit" },
            { "1 archived index.html /_archive/indexSTAMP.html", "1 uploaded index.html",
                "1 archived x.html /_archive/_gone_deep_xSTAMP.html", "1 archived old.html /_archive/oldSTAMP.html" } },
    };
    for (const Row& row : rows) {
        ScriptedProject site;
        site.project.archivdir = row.archive;
        site.project.deleteRemoved = 1;
        site.tree.add("index.html", "v1");
        site.tree.add("old.html", "old");
        site.tree.add("gone/deep/x.html", "x");
        (void)site.runCalls();
        site.tree.add("index.html", "v2", TestTree::kDefaultTime + 60);
        ASSERT_TRUE(std::filesystem::remove(site.tree.path("old.html")));
        // A folder gone locally goes on the server too, once its files are gone.
        ASSERT_EQ(std::filesystem::remove_all(site.tree.path("gone")), 3u);
        EXPECT_EQ(site.runCalls(), row.second) << row.archive;
        EXPECT_EQ(outcomes(site.project), row.outcomes) << row.archive;
        EXPECT_EQ(site.project.siteOutcomes.at(0).uploaded, 1) << row.archive;
        EXPECT_EQ(site.project.siteOutcomes.at(0).deleted, 2) << row.archive;
        EXPECT_EQ(site.fileList().count("old.html"), 0u) << row.archive;
        EXPECT_EQ(site.server.files.count("/old.html"), 0u) << row.archive;
    }
}

// The dry run describes the plan the run carries out: the same puts, moves and deletions.
TEST(RunRules, TheDryRunDescribesWhatTheRunDoes)
{
    struct Row {
        const char* archive;
        int deleteRemoved;
        int maxdelete; // percent; 0 holds nothing back
    };
    for (const Row& row :
        { Row { "", 1, 0 }, Row { "/_archive", 1, 0 }, Row { "/_archive", 0, 0 }, Row { "", 1, 10 } }) {
        ScriptedProject site;
        site.project.archivdir = row.archive;
        site.project.deleteRemoved = row.deleteRemoved;
        site.project.maxdelete = row.maxdelete;
        site.project.htmlreport = "/report.html";
        site.tree.add("index.html", "v1");
        site.tree.add("old.html", "old");
        site.tree.add("sub/keep.html", "keep");
        (void)site.runCalls();
        site.tree.add("index.html", "v2", TestTree::kDefaultTime + 60);
        site.tree.add("sub/new.html", "new");
        ASSERT_TRUE(std::filesystem::remove(site.tree.path("old.html")));

        std::vector<std::string> described;
        const RunPlan dry = planRun(site.project);
        for (const PlannedStep& step : dry.sites.at(0).steps) {
            if (step.action == PlannedAction::Upload)
                described.push_back("put " + step.serverPath);
            else if (step.action == PlannedAction::Archive)
                described.push_back("mv " + step.serverPath);
            else if (step.action == PlannedAction::Delete)
                described.push_back("dele " + step.serverPath);
        }
        std::vector<std::string> done;
        for (const std::string& call : site.runCalls()) {
            if (call.starts_with("put ") || call.starts_with("dele "))
                done.push_back(call);
            else if (call.starts_with("mv "))
                done.push_back(call.substr(0, call.find(' ', 3)));
        }
        std::sort(described.begin(), described.end());
        std::sort(done.begin(), done.end());
        EXPECT_EQ(described, done) << row.archive << " " << row.deleteRemoved << " " << row.maxdelete;
        EXPECT_FALSE(done.empty());
    }
}

TEST(RunRules, AStoppedRunSendsNothingMoreAndRecordsWhatArrived)
{
    ScriptedProject site;
    for (const char* name : { "a.html", "b.html", "c.html" })
        site.tree.add(name, name);
    site.server.after = [&site](const std::string& call) {
        if (call == "put /a.html")
            site.project.requestCancel();
    };
    const Calls calls = site.runCalls();
    EXPECT_EQ(calls, (Calls { "login site1.example", "put /a.html", "quit" }));
    EXPECT_EQ(outcomes(site.project),
        (std::vector<std::string> {
            "1 uploaded a.html", "1 failed b.html the run was stopped", "1 failed c.html the run was stopped" }));
    EXPECT_EQ(site.fileList().size(), 1u);

    // The next run sends exactly the rest.
    site.project.clearCancel();
    site.server.after = {};
    EXPECT_EQ(site.runCalls(), (Calls { "login site1.example", "put /b.html", "put /c.html", "quit" }));
    EXPECT_EQ(site.fileList().size(), 3u);
}

TEST(RunRules, AFailingSiteAmongTwoKeepsEveryFileForTheNextRun)
{
    struct Row {
        const char* refused; // the call the server refuses
        int unreachable;
        std::vector<int> uploaded; // per site
        std::vector<std::string> outcomes;
    };
    const Row rows[] = {
        { "login site1.example", 1, { 0, 2 }, { "2 uploaded a.html", "2 uploaded b.html" } },
        { "login site2.example", 1, { 2, 0 }, { "1 uploaded a.html", "1 uploaded b.html" } },
        { "put /b.html", 0, { 1, 1 },
            { "1 uploaded a.html", "1 failed b.html the server did not take it whole", "2 uploaded a.html",
                "2 failed b.html the server did not take it whole" } },
    };
    for (const Row& row : rows) {
        ScriptedProject site(2);
        site.tree.add("a.html", "a");
        site.tree.add("b.html", "b");
        site.server.accepts = [&row](const std::string& call) { return call != row.refused; };
        (void)site.runCalls();
        EXPECT_EQ(site.project.unreachableSites, row.unreachable) << row.refused;
        EXPECT_EQ(outcomes(site.project), row.outcomes) << row.refused;
        ASSERT_EQ(site.project.siteOutcomes.size(), 2u) << row.refused;
        for (size_t index = 0; index < 2; ++index)
            EXPECT_EQ(site.project.siteOutcomes[index].uploaded, row.uploaded[index]) << row.refused;
        // A file counts as sent only once every site holds it.
        const size_t recorded = row.unreachable > 0 ? 0u : 1u;
        EXPECT_EQ(site.fileList().size(), recorded) << row.refused;

        site.server.accepts = [](const std::string&) { return true; };
        (void)site.runCalls();
        EXPECT_EQ(site.fileList().size(), 2u) << row.refused;
    }
}

} // namespace
