#include "engine/web_project.h"
#include "shell/main_window_sink.h"
#include "shell/main_window_view.h"

#include <gtest/gtest.h>

namespace {

class LineView : public MainWindowView {
public:
    std::vector<std::string> log;
    std::vector<std::string> status;
    void setRunControlsEnabled(bool) override { }
    void showStartButton() override { }
    void showStopButton() override { }
    void setStatusText(const std::string& text) override { status.push_back(text); }
    void appendLogLine(const std::string& text) override { log.push_back(text); }
    void refreshFileList() override { }
    void requestQuit() override { }
    void setTrayIcon(TrayIcon) override { }
    int projectCount() const override { return 0; }
    WebProject* projectAt(int) const override { return nullptr; }
    WebProject* reloadProjects() override { return nullptr; }
};

TEST(MainWindowSink, WritesTheLogVocabulary)
{
    using Call = void (*)(MainWindowSink&);
    struct Case {
        const char* name;
        Call call;
        std::vector<std::string> log;
        std::vector<std::string> status;
    };
    const Case cases[] = {
        { "upload", [](MainWindowSink& sink) { sink.onUploadBegins("/web/a.html", 10); },
            { "-->/web/a.html", "->/web/a.html" }, { "->/web/a.html" } },
        { "result line", [](MainWindowSink& sink) { sink.onUploadBegins("OK /web/a.html", 0); },
            { "-->OK /web/a.html", "->OK /web/a.html" }, { "->OK /web/a.html" } },
        { "download", [](MainWindowSink& sink) { sink.onDownloadBegins("x.html\r\nrest", 0); }, { "<--x.html" }, {} },
        { "reply", [](MainWindowSink& sink) { sink.onLine("226 Transfer complete.\r\n"); },
            { "226 Transfer complete." }, { "226 Transfer complete." } },
        { "two lines", [](MainWindowSink& sink) { sink.onStatusLine("first\nsecond"); }, { "first" }, { "first" } },
        { "progress", [](MainWindowSink& sink) { sink.statusMessage("%d dirs %d files\r", 3, 4); }, {},
            { "3 dirs 4 files\r" } },
        { "formatted", [](MainWindowSink& sink) { sink.message("Error %s %d\n", "STOR", 550); }, { "Error STOR 550" },
            { "Error STOR 550" } },
        { "listed name with an escape sequence",
            [](MainWindowSink& sink) { sink.message("Deleting %s", "/web/\x1b[2Ja.html"); },
            { "Deleting /web/\\x1B[2Ja.html" }, { "Deleting /web/\\x1B[2Ja.html" } },
        { "status line with a bell", [](MainWindowSink& sink) { sink.onStatusLine("ding\x07\r\n"); }, { "ding\\x07" },
            { "ding\\x07" } },
        // The log keeps the protocol's own view of a failure and of the data connections.
        { "failure in words",
            [](MainWindowSink& sink) { sink.onProblem("cannot connect to h:21: connection refused"); }, {}, {} },
        { "data connection detail", [](MainWindowSink& sink) { sink.onDetail("data connection to 127.0.0.1:4000"); },
            {}, {} },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        LineView view;
        WebProject project;
        MainWindowSink sink(view, project);
        test.call(sink);
        EXPECT_EQ(view.log, test.log);
        EXPECT_EQ(view.status, test.status);
    }
}

TEST(MainWindowSink, FailedTransfersMarkTheChangedEntriesOfItsProject)
{
    LineView view;
    WebProject project;
    const auto item = [](bool changed, const char* path) {
        FileItem made;
        made.changed = changed;
        made.path = path;
        return made;
    };
    project.items = { item(true, "/web/a.html"), item(false, "/web/b.html"), item(true, "/web/b.html"),
        item(true, "/web/c.html") };
    MainWindowSink sink(view, project);
    sink.onTransferFailed("/web/b.html");
    EXPECT_FALSE(project.items[1].failed); // unchanged entries are not candidates
    EXPECT_TRUE(project.items[2].failed);
    EXPECT_FALSE(project.items[0].failed);
    sink.onTransferFailed("/WEB/C.HTML");
    EXPECT_FALSE(project.items[3].failed);
    sink.onTransferFailed("");
    EXPECT_TRUE(project.items[0].failed);
    EXPECT_TRUE(project.items[3].failed);
    EXPECT_FALSE(project.items[1].failed);

    sink.onFileSize(100);
    sink.onBytes(30);
    sink.onBytes(40);
    EXPECT_EQ(sink.totalBytes(), 100);
    EXPECT_EQ(sink.bytesSoFar(), 70);
}

} // namespace
