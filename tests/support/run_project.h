#pragma once

// A web project in a temporary folder, driven through whole runs as the main window drives
// them, with a sink that keeps what the run reported.

#include "engine/web_project.h"
#include "report/report_templates.h"
#include "support/ftp_server.h"
#include "support/test_tree.h"
#include "support/upload_site.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Counts uploads as the client begins them and keeps the result lines apart.
class RunSink : public FtpEventSink {
public:
    std::vector<std::string> uploads;
    std::vector<std::string> results;
    std::vector<std::string> lines;
    std::function<void(size_t)> afterUploadBegins;
    // Bytes the client reported sent in this run, and a hook after each report with the total.
    std::atomic<int64_t> bytes { 0 };
    std::function<void(int64_t)> afterBytes;

    void onUploadBegins(const std::string& text, int64_t) override
    {
        if (text.rfind("OK ", 0) == 0 || text.rfind("Error ", 0) == 0) {
            results.push_back(text);
            return;
        }
        uploads.push_back(text);
        if (afterUploadBegins)
            afterUploadBegins(uploads.size());
    }
    void onLine(const std::string& text) override { lines.push_back(text); }
    void onBytes(int64_t count) override
    {
        const int64_t total = bytes += count;
        if (afterBytes)
            afterBytes(total);
    }

    void reset()
    {
        uploads.clear();
        results.clear();
        lines.clear();
        bytes = 0;
    }
    [[nodiscard]] size_t count(const std::string& prefix) const
    {
        return static_cast<size_t>(std::count_if(
            results.begin(), results.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
    }
};

struct Project {
    TestTree tree;
    WebProject project;
    RunSink sink;

    Project()
    {
        project.local = tree.root();
        project.temp = tree.base();
        project.projectPath = tree.base() + "/site.ftp";
        project.filelist = project.projectPath + ".txt";
        project.dataDirectory = tree.base() + "/";
        project.strategy = 2;
        project.eventSink = &sink;
        EXPECT_TRUE(installReportTemplates(project.dataDirectory));
    }

    void addSite(const FtpServer& server, const std::string& startdir = {})
    {
        addSite(server.url(), server.user(), server.password(), startdir);
    }
    FtpSite& addSite(
        const std::string& url, const std::string& user, const std::string& password, const std::string& startdir = {})
    {
        FtpSite site;
        site.name = "site" + std::to_string(project.sites.size() + 1);
        site.url = url;
        site.user = user;
        site.pass = password;
        site.startdir = startdir;
        project.sites.push_back(site);
        return project.sites.back();
    }

    // One run as the main window drives it, with a hook between detection and upload.
    void run(const std::function<void()>& beforeUpload = {})
    {
        sink.reset();
        WebProject::RunHooks hooks;
        hooks.scanned = beforeUpload;
        EXPECT_TRUE(project.run(hooks).empty());
    }

    [[nodiscard]] std::map<std::string, int64_t> fileList() const { return readFileListFile(project.filelist); }
    [[nodiscard]] std::string transcript(int site) const
    {
        return readText(tree.base() + "/up_" + std::to_string(site) + ".txt");
    }
};
