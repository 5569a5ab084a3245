#include "config/machine_options.h"
#include "config/project_settings.h"
#include "config/site_list.h"
#include "dialogs/c_dlg_web_project.h"
#include "keyring/secret_service_keyring.h"
#include "platform/file_utils.h"
#include "support/ftp_server.h"
#include "support/local_tools.h"
#include "support/qt_test_application.h"
#include "support/temp_dir.h"
#include "uikit/ui_strings.h"

#include <QLineEdit>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kProgram = TARNWICK_BINARY_DIR "/src/app/tarnwick";

enum class Keyring : char { Reachable, Gone };

struct ProgramRun {
    int exitCode = -1;
    std::string output;
};

// A home of its own for the program; the keyring is the test's session bus, or none at all.
struct Home {
    TempDir folder;
    std::string data = folder.path() + "/data/Tarnwick/";
    std::string local = folder.path() + "/site";

    Home()
    {
        fs::create_directories(data);
        fs::create_directories(local);
    }

    ProgramRun run(const std::vector<std::string>& arguments, Keyring keyring) const
    {
        std::vector<std::string> argv { "/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY" };
        if (keyring == Keyring::Gone)
            argv.insert(argv.end(), { "-u", "DBUS_SESSION_BUS_ADDRESS", "-u", "XDG_RUNTIME_DIR" });
        argv.push_back(kProgram);
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const std::string outputPath = folder.path() + "/output";
        ::unlink(outputPath.c_str());
        const int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const pid_t child = spawnInOwnGroup(argv, out, outputPath,
            { "XDG_DATA_HOME=" + folder.path() + "/data", "XDG_CONFIG_HOME=" + folder.path() + "/config" });
        ::close(out);
        ProgramRun result;
        for (int step = 0; step < 2400 && child > 0; ++step) {
            int status = 0;
            if (::waitpid(child, &status, WNOHANG) == child) {
                result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            pause25ms();
        }
        if (result.exitCode == -1 && child > 0) {
            ::kill(-child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        result.output = readWholeFile(outputPath).value_or("");
        return result;
    }

    std::string file(const std::string& name) const { return readWholeFile(data + name).value_or(""); }
};

unsigned modeOf(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

size_t count(const std::string& text, const std::string& part)
{
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

class KeyringRun : public testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(kProgram))
            GTEST_SKIP() << kProgram << " is not built";
        if (!SecretServiceKeyring(SecretServiceKeyring::Prompting::Never).reachable())
            GTEST_SKIP() << "no Secret Service; tests/keyring/with_keyring.sh provides one";
        ASSERT_TRUE(server.start()) << server.error();
    }

    FtpServer server;
};

TEST_F(KeyringRun, PasswordTypedInTheEditorLogsInAWindowlessRunAndNeverTheFileHoldsIt)
{
    Home home;
    for (const char* name : { "index.html", "about.html", "style.css" })
        ASSERT_TRUE(writeFileAtomically(home.local + "/" + name, std::string("<p>") + name, 0644));
    {
        qtTestApplication();
        const UiStrings strings { UiLanguage::English };
        const MachineOptions options;
        CDlgWebProject editor(strings, options, home.data, {});
        CDlgWebProject::Prompts prompts;
        prompts.askName = [] { return std::optional<QString>(QStringLiteral("Shop")); };
        editor.setPrompts(prompts);
        SecretServiceKeyring keyring(SecretServiceKeyring::Prompting::Never);
        editor.setPasswordStore(&keyring);
        editor.newProject();
        editor.serverField()->setText(QString::fromStdString(server.url()));
        editor.userField()->setText(QString::fromStdString(server.user()));
        editor.passwordField()->setText(QString::fromStdString(server.password()));
        editor.localDirectoryField()->setText(QString::fromStdString(home.local));
        editor.accept();
    }
    const std::string project = home.file("Shop.ftp");
    EXPECT_EQ(project.find(server.password()), std::string::npos) << project;
    EXPECT_NE(project.find("\npass=\npasswordstore=keyring\n"), std::string::npos) << project;
    EXPECT_EQ(modeOf(home.data + "Shop.ftp"), 0600u);

    const ProgramRun first = home.run({ "Shop" }, Keyring::Reachable);
    EXPECT_EQ(first.exitCode, 0) << first.output;
    EXPECT_TRUE(fs::exists(server.pathOf("about.html"))) << first.output << server.log();
    EXPECT_EQ(first.output.find(server.password()), std::string::npos) << first.output;

    // Every connection the server took, the probe of its start and the upload among them.
    const size_t connectionsBefore = count(server.log(), "session opened");
    ASSERT_GT(connectionsBefore, 0u) << server.log();
    ASSERT_TRUE(writeFileAtomically(home.local + "/news.html", "<p>news", 0644));
    const ProgramRun cron = home.run({ "Shop" }, Keyring::Gone);
    EXPECT_EQ(cron.exitCode, 1) << cron.output;
    for (const char* part :
        { "\"default\" (127.0.0.1:", "): the password of user", "desktop keyring, which cannot be reached",
            "no login was tried", "Unlock the keyring or run tarnwick from the desktop session" })
        EXPECT_NE(cron.output.find(part), std::string::npos) << part << " in:\n" << cron.output;
    EXPECT_EQ(count(server.log(), "session opened"), connectionsBefore) << server.log();
    EXPECT_FALSE(fs::exists(server.pathOf("news.html")));
}

TEST_F(KeyringRun, MoveTakesClearPasswordsOutOfProjectBackupAndSitesBook)
{
    Home home;
    ASSERT_TRUE(writeFileAtomically(home.local + "/index.html", "<p>home", 0644));
    ProjectSettings settings;
    settings.projectPath = home.data + "Blog.ftp";
    settings.local = home.local;
    settings.strategy = ProjectSettings::kFileListStrategy;
    FtpSite site;
    site.name = "live";
    site.url = server.url();
    site.user = server.user();
    site.pass = server.password();
    settings.sites.push_back(site);
    // Saved twice, so the ".bak" copy holds the clear password as well.
    ASSERT_TRUE(settings.SaveProject());
    ASSERT_TRUE(settings.SaveProject());
    SiteList book;
    site.name = "book entry";
    site.pass = "book-secret";
    book.sites.push_back(site);
    ASSERT_TRUE(book.writeSites(home.data + "sites.inf"));

    const ProgramRun gone = home.run({ "--move-passwords-to-keyring" }, Keyring::Gone);
    EXPECT_EQ(gone.exitCode, 1) << gone.output;
    EXPECT_NE(gone.output.find("no Secret Service is reachable"), std::string::npos) << gone.output;
    EXPECT_NE(home.file("Blog.ftp").find(server.password()), std::string::npos);

    const ProgramRun moved = home.run({ "--move-passwords-to-keyring" }, Keyring::Reachable);
    EXPECT_EQ(moved.exitCode, 0) << moved.output;
    EXPECT_EQ(count(moved.output, "moved into the keyring\n"), 2u) << moved.output;
    EXPECT_NE(moved.output.find("Blog.ftp: site live, user " + server.user()), std::string::npos) << moved.output;
    for (const char* name : { "Blog.ftp", "Blog.ftp.bak", "sites.inf" }) {
        SCOPED_TRACE(name);
        const std::string text = home.file(name);
        EXPECT_EQ(text.find(server.password()), std::string::npos) << text;
        EXPECT_EQ(text.find("book-secret"), std::string::npos) << text;
        EXPECT_NE(text.find("passwordstore=keyring\n"), std::string::npos) << text;
        EXPECT_EQ(modeOf(home.data + name), 0600u);
    }

    const ProgramRun again = home.run({ "--move-passwords-to-keyring" }, Keyring::Reachable);
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_EQ(again.output, "no password in the clear: nothing to move\n");

    const ProgramRun upload = home.run({ "Blog" }, Keyring::Reachable);
    EXPECT_EQ(upload.exitCode, 0) << upload.output;
    EXPECT_TRUE(fs::exists(server.pathOf("index.html"))) << upload.output;
}

} // namespace
