#include "shell/diagnostic_log.h"
#include "shell/service_registration.h"
#include "support/temp_dir.h"
#include "support/upload_site.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// A systemctl that only writes down how it was called.
std::string fakeSystemctl(const TempDir& folder)
{
    std::string path = folder.writeFile("bin/systemctl", "#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/calls\"\n");
    ::chmod(path.c_str(), 0755);
    return path;
}

TEST(ServiceRegistration, InstallsOnceAndRemovesOnce)
{
    TempDir home;
    DiagnosticLog log(home.path() + "/");
    const std::string systemctl = fakeSystemctl(home);
    ServiceRegistration service(home.path() + "/.config/systemd/user", "/usr/bin/tarnwick", systemctl, log);

    EXPECT_FALSE(service.isInstalled());
    EXPECT_EQ(service.installService(), 0);
    EXPECT_EQ(readText(service.unitPath()),
        "[Unit]\n"
        "Description=Tarnwick scheduled uploads\n"
        "\n"
        "[Service]\n"
        "ExecStart=/usr/bin/tarnwick -service\n"
        "Restart=on-failure\n"
        "\n"
        "[Install]\n"
        "WantedBy=default.target\n");

    ServiceRegistration elsewhere(home.path() + "/.config/systemd/user", "/opt/other", systemctl, log);
    EXPECT_EQ(elsewhere.installService(), 1);
    EXPECT_NE(readText(service.unitPath()).find("/usr/bin/tarnwick -service"), std::string::npos);

    EXPECT_EQ(service.removeService(), 0);
    EXPECT_FALSE(fs::exists(service.unitPath()));
    EXPECT_EQ(readText(log.path()), "DeleteService SUCCESS\n");

    testing::internal::CaptureStdout();
    EXPECT_EQ(service.removeService(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "DeleteService FAILED\n");
    EXPECT_EQ(readText(log.path()), "DeleteService SUCCESS\nmain(): OpenService\nmain(): DeleteService\n");

    EXPECT_EQ(readText(home.file("bin/calls")),
        "--user daemon-reload\n--user enable tarnwick.service\n--user disable tarnwick.service\n--user "
        "daemon-reload\n");
}

TEST(ServiceRegistration, ProgramPathsThatSystemdWouldSplitOrExpandAreQuoted)
{
    struct Case {
        const char* path;
        const char* execStart;
    };
    const Case cases[] = {
        { "/usr/bin/tarnwick", "ExecStart=/usr/bin/tarnwick -service\n" },
        { "/opt/my tools/tarnwick", "ExecStart=\"/opt/my tools/tarnwick\" -service\n" },
        { "/opt/100%/tarnwick", "ExecStart=/opt/100%%/tarnwick -service\n" },
        { "/opt/$HOME/tarnwick", "ExecStart=/opt/$$HOME/tarnwick -service\n" },
        { "/opt/a\"b/tarnwick", "ExecStart=\"/opt/a\\\"b/tarnwick\" -service\n" },
    };
    TempDir home;
    DiagnosticLog log(home.path() + "/");
    for (const Case& test : cases) {
        SCOPED_TRACE(test.path);
        ServiceRegistration service(home.path(), test.path, "", log);
        EXPECT_NE(service.unitText().find(test.execStart), std::string::npos) << service.unitText();
    }
}

TEST(ServiceRegistration, UnitFolderFollowsTheUsersConfigurationFolder)
{
    TempDir home;
    const char* savedHome = std::getenv("HOME");
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    std::string oldHome = savedHome ? savedHome : "";
    std::string oldConfig = savedConfig ? savedConfig : "";

    ::setenv("HOME", home.path().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ServiceRegistration::defaultUnitDirectory(), home.path() + "/.config/systemd/user/");
    ::setenv("XDG_CONFIG_HOME", (home.path() + "/conf").c_str(), 1);
    EXPECT_EQ(ServiceRegistration::defaultUnitDirectory(), home.path() + "/conf/systemd/user/");

    DiagnosticLog log(home.path() + "/");
    ServiceRegistration service(ServiceRegistration::defaultUnitDirectory(), "/usr/bin/tarnwick", "", log);
    EXPECT_EQ(service.installService(), 0);
    EXPECT_TRUE(fs::exists(home.path() + "/conf/systemd/user/tarnwick.service"));

    savedHome ? ::setenv("HOME", oldHome.c_str(), 1) : ::unsetenv("HOME");
    savedConfig ? ::setenv("XDG_CONFIG_HOME", oldConfig.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
}

TEST(DiagnosticLog, AppendsPlainAndErrorLines)
{
    TempDir folder;
    DiagnosticLog log(folder.path() + "/");
    log.logLine("Starting Tarnwick", LogLineKind::Plain);
    log.logLine("Crash in ReportHTML\r\n", LogLineKind::Error);
    EXPECT_EQ(readText(folder.file("TARNWICK.LOG")), "Starting Tarnwick\nError Crash in ReportHTML\n");

    DiagnosticLog nowhere(folder.path() + "/missing/");
    nowhere.logLine("lost", LogLineKind::Plain); // must neither fail nor create anything
    EXPECT_FALSE(fs::exists(folder.file("missing")));
}

} // namespace
