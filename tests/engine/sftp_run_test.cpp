// Whole upload runs to the distribution's OpenSSH server: the run does not know it speaks
// SFTP, so what arrives, what is archived and what is recorded must be as over FTP.

#include "session/trusted_certificates.h"
#include "session/upload_names.h"
#include "support/required_server.h"
#include "support/run_project.h"
#include "support/ssh_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

int64_t seconds(fs::file_time_type time)
{
    return std::chrono::duration_cast<std::chrono::seconds>(fs::file_time_type::clock::to_sys(time).time_since_epoch())
        .count();
}

class SftpRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_UNLESS_SERVER_RUNS(SshServer::unavailableReason());
        ASSERT_TRUE(server.start()) << server.error();
        // Trusted where the application keeps it: the project's data folder.
        ASSERT_TRUE(TrustedCertificates(site.project.dataDirectory + "trusted-host-keys.txt")
                        .trust(server.hostAndPort(), server.hostKeyFingerprint()));
        FtpSite& added = site.addSite("sftp://" + server.hostAndPort(), server.user(), "", "www");
        added.keyfile = server.keyFile();
    }

    [[nodiscard]] std::string live() const { return server.pathOf("www"); }

    SshServer server;
    Project site;
};

TEST_F(SftpRun, ReplacesArchivesAndDeletesAsOverFtp)
{
    for (const int connections : { 1, 4 }) {
        SCOPED_TRACE(connections);
        site.project.sites[0].connections = connections;
        site.project.archivdir = "/_archiv_";
        site.project.archmax = 5;
        site.project.deleteRemoved = 1;
        // Scripts speak the same command language over SFTP.
        site.project.sites[0].preScript = { "mkdir \"/before run\"" };
        site.project.sites[0].postScript = { "cd www", "mv index.html renamed.html", "mv renamed.html index.html" };
        const std::string folder = "Ordner mit Leerzeichen/Über uns";
        site.tree.add("index.html", "v1");
        site.tree.add(folder + "/seite ä.html", "ä");
        site.tree.add("sub/gone.html", "gone");
        for (int i = 0; i < 20; ++i)
            site.tree.add("many/f" + std::to_string(i) + ".html", std::string(static_cast<size_t>(i) * 300, 'x'));
        site.run();
        EXPECT_EQ(site.sink.count("Error "), 0u) << testing::PrintToString(site.sink.lines) << server.log();
        EXPECT_EQ(compareTrees(site.tree.root(), live()), std::vector<std::string>());
        EXPECT_TRUE(fs::is_directory(server.pathOf("before run")));
        // Every file keeps its local time on the server, and no part is left beside it.
        for (const auto& entry : fs::recursive_directory_iterator(site.tree.root())) {
            if (!entry.is_regular_file())
                continue;
            const std::string relative = fs::relative(entry.path(), site.tree.root()).string();
            EXPECT_EQ(seconds(fs::last_write_time(server.pathOf("www/" + relative))), seconds(entry.last_write_time()))
                << relative;
        }
        for (const auto& entry : fs::recursive_directory_iterator(live()))
            EXPECT_FALSE(isUploadLeftover(entry.path().string())) << entry.path();

        site.tree.add("index.html", "v2", TestTree::kDefaultTime + 60 * connections);
        fs::remove_all(site.tree.path("sub"));
        site.run();
        EXPECT_EQ(site.sink.count("Error "), 0u) << testing::PrintToString(site.sink.lines);
        EXPECT_EQ(readText(server.pathOf("www/index.html")), "v2");
        EXPECT_FALSE(fs::exists(server.pathOf("www/sub")));
        // The replaced and the deleted version; the archive folder names a server path.
        EXPECT_EQ(listFiles(server.pathOf("_archiv_")).size(), 2u);
        EXPECT_EQ(site.fileList().size(), 22u);
        fs::remove_all(site.tree.root());
        fs::create_directories(site.tree.root());
        fs::remove_all(live());
        fs::remove_all(server.pathOf("_archiv_"));
        fs::remove_all(server.pathOf("before run"));
        fs::remove(site.project.filelist);
    }
}

// The server dies in the middle of a run: what arrived is recorded, the rest is failed, and
// the next run sends exactly the rest.
TEST_F(SftpRun, ServerKilledMidRunLosesNothing)
{
    site.project.clientBudgetMilliseconds = 5000;
    generateSite(site.tree, 200, 5);
    site.sink.afterUploadBegins = [&](size_t count) {
        if (count == 60)
            server.kill();
    };
    site.run();
    site.sink.afterUploadBegins = nullptr;
    EXPECT_EQ(site.sink.results.size(), 200u);
    std::map<std::string, int64_t> recorded = site.fileList();
    EXPECT_LT(recorded.size(), 200u);
    for (const auto& [path, time] : recorded) {
        const std::string relative = path.substr(site.tree.root().size() + 1);
        ASSERT_EQ(readText(server.pathOf("www/" + relative)), readText(path)) << relative;
    }

    ASSERT_TRUE(server.restart()) << server.error();
    site.run();
    EXPECT_EQ(site.sink.uploads.size(), 200u - recorded.size());
    EXPECT_EQ(site.sink.count("Error "), 0u);
    EXPECT_EQ(compareTrees(site.tree.root(), live()), std::vector<std::string>());
    EXPECT_EQ(site.fileList().size(), 200u);
}

} // namespace

// Files small enough for one write take another road than large ones; the cap holds there
// too. 2 MiB at 1 MiB/s cannot arrive in much under two seconds.
TEST_F(SftpRun, SmallFilesKeepToTheSiteCap)
{
    site.project.sites[0].connections = 2;
    site.project.sites[0].uploadRateLimit = 1 << 20;
    for (int i = 0; i < 16; ++i)
        site.tree.add("small/f" + std::to_string(i) + ".bin", std::string(128 << 10, static_cast<char>('a' + i)));
    const auto started = std::chrono::steady_clock::now();
    site.run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(site.sink.count("OK "), 16u);
    EXPECT_GE(seconds, 1.7);
    EXPECT_EQ(compareTrees(site.tree.root(), live()), std::vector<std::string>());
}
