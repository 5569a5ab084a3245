// The program without a display, as cron or systemd start it: the real executable with a
// temporary data folder, against a real FTP server.

#include "config/project_settings.h"
#include "engine/web_project.h"
#include "platform/file_lock.h"
#include "support/ftp_server.h"
#include "support/required_server.h"
#include "support/ssh_server.h"
#include "support/temp_dir.h"
#include "support/upload_site.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kProgram = TARNWICK_BINARY_DIR "/src/app/tarnwick";

void pause10ms()
{
    timespec delay { 0, 10 * 1000 * 1000 };
    while (::nanosleep(&delay, &delay) != 0 && errno == EINTR) { }
}

// A home with its own data and configuration folders, and the program started in it.
class Home {
public:
    TempDir folder;

    [[nodiscard]] std::string dataDirectory() const { return folder.path() + "/data/Tarnwick/"; }

    void addProject(const std::string& name, const std::string& local, const std::string& url, const std::string& user,
        const std::string& password, const std::string& remote = {}, const std::string& keyFile = {}) const
    {
        fs::create_directories(dataDirectory());
        ProjectSettings settings;
        settings.projectPath = dataDirectory() + name + ".ftp";
        settings.local = local;
        settings.remote = remote;
        settings.strategy = 2;
        FtpSite site;
        site.name = name;
        site.url = url;
        site.user = user;
        site.pass = password;
        site.keyfile = keyFile;
        settings.sites.push_back(site);
        ASSERT_TRUE(settings.SaveProject());
    }

    // Starts the program; its standard output goes to output().
    pid_t start(const std::string& argument) { return start(std::vector<std::string> { argument }); }
    pid_t start(std::vector<std::string> arguments, const std::vector<std::string>& moreEnvironment = {},
        std::string program = kProgram)
    {
        std::vector<std::string> environment = {
            "HOME=" + folder.path(),
            "XDG_DATA_HOME=" + folder.path() + "/data",
            "XDG_CONFIG_HOME=" + folder.path() + "/config",
            "PATH=/usr/bin:/bin",
        };
        environment.insert(environment.end(), moreEnvironment.begin(), moreEnvironment.end());
        std::vector<char*> envp;
        for (std::string& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::vector<char*> argv { program.data() };
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outputPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(
            &actions, 2, (folder.path() + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t child = -1;
        EXPECT_EQ(posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        return child;
    }

    // The exit code, or -1 when the program did not end within a minute (it is then killed).
    int wait(pid_t child)
    {
        for (int attempt = 0; attempt < 6000; ++attempt) {
            int status = 0;
            pid_t done = ::waitpid(child, &status, WNOHANG);
            if (done == child)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pause10ms();
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        return -1;
    }

    int run(const std::string& argument) { return wait(start(argument)); }
    int run(std::vector<std::string> arguments) { return wait(start(std::move(arguments))); }

    [[nodiscard]] std::string outputPath() const { return folder.path() + "/stdout"; }
    [[nodiscard]] std::string standardOutput() const { return readText(outputPath()); }
    [[nodiscard]] std::string standardError() const { return readText(folder.path() + "/stderr"); }
    [[nodiscard]] std::string output() const { return readText(outputPath()) + readText(folder.path() + "/stderr"); }
};

class WindowlessRun : public testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(kProgram))
            GTEST_SKIP() << kProgram << " is not built";
    }
};

TEST_F(WindowlessRun, ASecondRunOfTheSameProjectSaysSoAndExits1)
{
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Home home;
    TestTree site;
    site.add("index.html", "home");
    home.addProject("demo", site.root(), server.url(), server.user(), server.password());
    {
        // This test process stands for the first run, holding the project's lock.
        FileLock first;
        ASSERT_EQ(
            first.lock(home.dataDirectory() + "demo.ftp.lock", FileLock::Wait::DontWait), FileLock::Outcome::Locked);
        EXPECT_EQ(home.run("demo"), 1) << home.output();
        EXPECT_NE(home.output().find("demo.ftp is being run by another Tarnwick process"), std::string::npos)
            << home.output();
        EXPECT_FALSE(fs::exists(server.pathOf("index.html")));
    }
    EXPECT_EQ(home.run("demo"), 0) << home.output();
    EXPECT_EQ(readText(server.pathOf("index.html")), "home");
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// A first upload of three files at each level of output, written to a file: the file lines
// and the summary by default; the protocol once (no line twice, the password masked) with
// -v; the data connections as well with -vv; nothing but the summary with -q.
TEST_F(WindowlessRun, EachLevelOfOutputOfAFirstUpload)
{
    struct Row {
        const char* option;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    };
    const Row rows[] = {
        { "", { "uploaded a.html", "uploaded quo\"te.html", "uploaded sub/c.html" },
            { "PASS", "STOR", "-->", "data connection to " } },
        { "-q", {}, { "uploaded a.html", "PASS" } },
        { "-v", { "uploaded a.html", "PASS ****", "USER ", "230 ", "\n-->/" },
            { "\n->/", "-->OK", "data connection to " } },
        { "-vv",
            { "uploaded sub/c.html", "PASS ****", "data connection to 127.0.0.1:", "data connection closed after" },
            { "\n->/", "-->OK" } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.option);
        FtpServer server;
        ASSERT_TRUE(server.start()) << server.error();
        Home home;
        TestTree site;
        site.add("a.html", "a");
        // A name holding the quote character of command lines goes up all the same.
        site.add("quo\"te.html", "b");
        site.add("sub/c.html", "c");
        home.addProject("demo", site.root(), server.url(), server.user(), server.password());
        std::vector<std::string> arguments { "demo" };
        if (row.option[0] != '\0')
            arguments.insert(arguments.begin(), row.option);
        ASSERT_EQ(home.run(arguments), 0) << home.output();
        const std::string output = home.standardOutput();
        EXPECT_EQ(output.find_first_of("\r\033"), std::string::npos) << "control characters in a file";
        std::vector<std::string> lines = linesOf(output);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind("3 uploaded, 0 deleted, 0 failed in ", 0), 0u) << output;
        if (row.option[0] == '\0') {
            EXPECT_EQ(lines.size(), 4u) << output;
        } else if (row.option == std::string("-q")) {
            EXPECT_EQ(lines.size(), 1u) << output;
        }
        for (const std::string& part : row.present)
            EXPECT_NE(output.find(part), std::string::npos) << part << "\n" << output;
        for (const std::string& part : row.absent)
            EXPECT_EQ(output.find(part), std::string::npos) << part << "\n" << output;
        EXPECT_EQ(output.find(server.password()), std::string::npos) << output;
        // No line of the protocol twice in a row, as the status line's copy used to be.
        for (size_t index = 1; index < lines.size(); ++index)
            EXPECT_NE(lines[index], lines[index - 1]) << output;
        EXPECT_EQ(compareTrees(site.root(), server.root()), std::vector<std::string>());
    }
}

TEST_F(WindowlessRun, ExitCodeTellsWhetherEveryFileWentUp)
{
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Home home;
    TestTree site;
    site.add("index.html", "home");
    site.add("sub/page.html", "page");
    home.addProject("demo", site.root(), server.url(), server.user(), server.password());

    EXPECT_EQ(home.run("demo"), 0) << home.output();
    EXPECT_NE(("\n" + home.output()).find("\nuploaded index.html\n"), std::string::npos) << home.output();
    EXPECT_EQ(compareTrees(site.root(), server.root()), std::vector<std::string>());

    FtpServer gone;
    ASSERT_TRUE(gone.start()) << gone.error();
    const std::string deadUrl = gone.url();
    gone.stop();
    TestTree other;
    other.add("a.html", "a");
    home.addProject("other", other.root(), deadUrl, "nobody", "nothing");
    site.add("index.html", "home again", TestTree::kDefaultTime + 60);
    EXPECT_EQ(home.run("-all"), 1) << home.output();
    // Every error names its project and site and says what happened; the file lines of each
    // project come under its name; the summary has a line per project and a total.
    const std::string output = home.standardOutput();
    EXPECT_NE(output.find("demo.ftp:\nuploaded index.html\n"), std::string::npos) << output;
    EXPECT_NE(output.find("tarnwick: other.ftp, site 1 \"other\" (" + deadUrl + "): cannot connect to " + deadUrl
                  + ": connection refused\n"),
        std::string::npos)
        << output;
    EXPECT_NE(output.find("\ndemo.ftp: 1 uploaded, 0 deleted, 0 failed in "), std::string::npos) << output;
    EXPECT_NE(output.find("\nother.ftp: 0 uploaded, 0 deleted, 1 failed in "), std::string::npos) << output;
    EXPECT_NE(output.find("\ntotal: 1 uploaded, 0 deleted, 1 failed in "), std::string::npos) << output;
    EXPECT_EQ(readText(server.pathOf("index.html")), "home again");

    EXPECT_EQ(home.run("nothing-by-this-name"), 1);
    EXPECT_NE(home.output().find("no project matches"), std::string::npos) << home.output();
}

// The exit codes of the command line as a shell sees them.
TEST_F(WindowlessRun, OptionsAndTheirExitCodes)
{
    struct Row {
        std::vector<std::string> arguments;
        int exitCode;
        const char* standardOutputPart;
        const char* standardErrorPart;
    };
    const Row rows[] = {
        { { "--help" }, 0, "-n, --dry-run", "" },
        { { "-h" }, 0, "Exit status: 0", "" },
        { { "--version" }, 0, "tarnwick 1.3\n", "" },
        { { "--bogus" }, 2, "", "unknown option \"--bogus\"" },
        { { "-q" }, 2, "", "--quiet needs a project name or -all" },
        { { "-vv" }, 2, "", "--verbose needs a project name or -all" },
        { { "-q", "-v", "demo" }, 2, "", "--quiet and --verbose exclude each other" },
        { { "one", "-all" }, 2, "", "name one project" },
        { {}, 2, "", "no display" },
        { { "-n", "nothing-by-this-name" }, 1, "", "no project matches" },
        { { "--compare" }, 2, "", "--compare needs a project name or -all" },
        { { "--allow-delete-all" }, 2, "", "--allow-delete-all needs a project name or -all" },
        { { "--compare", "--repair", "x" }, 2, "", "exclude each other" },
        { { "--repair", "-n", "x" }, 2, "", "--repair and --dry-run exclude each other" },
        { { "--repair", "nothing-by-this-name" }, 1, "", "no project matches" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.empty() ? std::string("(none)") : row.arguments.front());
        Home home;
        EXPECT_EQ(home.run(row.arguments), row.exitCode) << home.output();
        EXPECT_NE(home.standardOutput().find(row.standardOutputPart), std::string::npos) << home.output();
        EXPECT_NE(home.standardError().find(row.standardErrorPart), std::string::npos) << home.output();
    }
}

// A dry run lists what the run after it sends and leaves the data folder and the server as
// they were; the summary of a run counts what its result lines say; written to a file, the
// output holds no control characters.
TEST_F(WindowlessRun, DryRunThenQuietRunThenSummaryMatchesTheResultLines)
{
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Home home;
    TestTree site;
    site.add("index.html", "home");
    site.add("sub/page.html", "page");
    site.add("old.html", "old");
    home.addProject("demo", site.root(), server.url(), server.user(), server.password());
    ASSERT_EQ(home.run("-all"), 0) << home.output();
    ProjectSettings settings;
    settings.LoadProject(home.dataDirectory() + "demo.ftp");
    settings.deleteRemoved = 1;
    ASSERT_TRUE(settings.SaveProject());

    site.add("index.html", "home again", TestTree::kDefaultTime + 60);
    site.add("sub/new.html", "new");
    fs::remove(site.path("old.html"));
    const std::string recorded = readText(home.dataDirectory() + "demo.ftp.txt");
    const std::vector<std::string> dataBefore = listFiles(home.dataDirectory());
    EXPECT_EQ(home.run(std::vector<std::string> { "--dry-run", "demo" }), 0) << home.output();
    EXPECT_EQ(home.standardOutput(),
        "dry run of demo.ftp (nothing is sent or recorded):\n"
        "site \"demo\" ("
            + server.url()
            + "):\n"
              "  upload   changed  "
            + site.path("index.html")
            + " -> /index.html\n"
              "  upload   new      "
            + site.path("sub/new.html")
            + " -> /sub/new.html\n"
              "  delete   deleted  /old.html\n"
              "  2 to upload, 1 to delete, 0 to archive\n");
    EXPECT_EQ(readText(home.dataDirectory() + "demo.ftp.txt"), recorded);
    EXPECT_EQ(listFiles(home.dataDirectory()), dataBefore);
    EXPECT_EQ(readText(server.pathOf("index.html")), "home");

    EXPECT_EQ(home.run(std::vector<std::string> { "-q", "demo" }), 0) << home.output();
    const std::string quiet = home.standardOutput();
    EXPECT_EQ(quiet.rfind("2 uploaded, 1 deleted, 0 failed in ", 0), 0u) << quiet;
    EXPECT_EQ(std::count(quiet.begin(), quiet.end(), '\n'), 1) << quiet;
    EXPECT_EQ(compareTrees(site.root(), server.root()), std::vector<std::string>());

    site.add("index.html", "third", TestTree::kDefaultTime + 120);
    site.add("sub/page.html", "page two", TestTree::kDefaultTime + 120);
    fs::remove(site.path("sub/new.html"));
    EXPECT_EQ(home.run("demo"), 0) << home.output();
    const std::string output = home.standardOutput();
    std::vector<std::string> lines = linesOf(output);
    ASSERT_EQ(lines.size(), 4u) << output;
    EXPECT_EQ(lines.back().rfind("2 uploaded, 1 deleted, 0 failed in ", 0), 0u) << output;
    // The connections of the site finish in any order.
    std::sort(lines.begin(), lines.end() - 1);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end() - 1),
        (std::vector<std::string> { "deleted sub/new.html", "uploaded index.html", "uploaded sub/page.html" }));
    EXPECT_EQ(output.find_first_of("\r\033"), std::string::npos) << "control characters in a file";
}

TEST_F(WindowlessRun, AllWithoutProjectsEndsAtOnce)
{
    Home home;
    EXPECT_EQ(home.run("-all"), 0) << home.output();
    // Start-up installed the report templates into the fresh data folder.
    EXPECT_TRUE(fs::exists(home.dataDirectory() + "report.html"));
}

TEST_F(WindowlessRun, NameSearchBeginsAtTheSecondProject)
{
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Home home;
    TestTree site;
    site.add("page.html", "p");
    home.addProject("alpha", site.root(), server.url(), server.user(), server.password(), "/alpha");
    home.addProject("alphabet", site.root(), server.url(), server.user(), server.password(), "/alphabet");
    EXPECT_EQ(home.run("alpha"), 0) << home.output();
    EXPECT_TRUE(fs::exists(server.pathOf("alphabet/page.html")));
    EXPECT_FALSE(fs::exists(server.pathOf("alpha")));
    EXPECT_EQ(home.run("ALPHA.FTP"), 0) << home.output();
}

TEST_F(WindowlessRun, ServiceRunsUntilSigterm)
{
    Home home;
    fs::create_directories(home.dataDirectory());
    pid_t child = home.start("-service");
    const std::string log = home.dataDirectory() + "TARNWICK.LOG";
    bool started = false;
    for (int attempt = 0; attempt < 3000 && !started; ++attempt) {
        started = readText(log).find("Starting Tarnwick") != std::string::npos;
        if (!started)
            pause10ms();
    }
    ASSERT_TRUE(started) << home.output();
    ASSERT_EQ(::kill(child, SIGTERM), 0);
    EXPECT_EQ(home.wait(child), 0) << home.output();
    EXPECT_EQ(readText(log), "Starting Tarnwick\nStopping Tarnwick\n");
}

// Paths the program's output names as begun ("-->/path"), without the result lines.
std::vector<std::string> begunUploads(const std::string& output)
{
    std::vector<std::string> paths;
    size_t at = 0;
    while ((at = output.find("\n-->/", at)) != std::string::npos) {
        at += 4;
        size_t end = output.find('\n', at);
        paths.push_back(output.substr(at, end == std::string::npos ? std::string::npos : end - at));
    }
    return paths;
}

size_t filesBelow(const std::string& root)
{
    std::error_code error;
    size_t count = 0;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        count += it->is_regular_file(error) ? 1 : 0;
    return count;
}

// Waits (bounded by `limit`) until `done` holds; answers how long it took, or -1.
double secondsUntil(const std::function<bool()>& done, double limit = 20.0)
{
    const auto began = std::chrono::steady_clock::now();
    for (;;) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        if (done())
            return seconds;
        if (seconds > limit)
            return -1;
        pause10ms();
    }
}

// Waits (bounded) until `ready` holds; false when it never did.
bool waitFor(const std::function<bool()>& ready)
{
    return secondsUntil(ready, 30.0) >= 0;
}

TEST_F(WindowlessRun, SigtermDuringARunRecordsWhatArrivedAndSaysSo)
{
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Home home;
    TestTree site;
    generateSite(site, 200, 11);
    home.addProject("big", site.root(), server.url(), server.user(), server.password());
    pid_t child = home.start(std::vector<std::string> { "-v", "big" });
    ASSERT_TRUE(waitFor([&] { return begunUploads(home.standardOutput()).size() >= 20; })) << home.output();
    ASSERT_EQ(::kill(child, SIGTERM), 0);
    EXPECT_EQ(home.wait(child), 1) << home.output();
    const std::string output = home.standardOutput();
    const size_t begun = begunUploads(output).size();
    EXPECT_NE(output.find("\nstopped: "), std::string::npos) << output;
    // The stop is told once, in the summary, not as a failure of every file it held back.
    EXPECT_EQ(output.find("-->Error "), std::string::npos) << output;
    EXPECT_EQ(output.find("\nfailed "), std::string::npos) << output;
    const std::map<std::string, int64_t> recorded = readFileListFile(home.dataDirectory() + "big.ftp.txt");
    EXPECT_GE(recorded.size(), 19u);
    EXPECT_LE(recorded.size(), begun);

    EXPECT_EQ(home.run(std::vector<std::string> { "-v", "big" }), 0) << home.output();
    EXPECT_EQ(begunUploads(home.standardOutput()).size(), 200u - recorded.size());
    EXPECT_EQ(compareTrees(site.root(), server.root()), std::vector<std::string>());
}

// SIGKILL leaves no chance to write the file list: the journal must carry the run. Killed at
// several points, each next run sends only what no journal or list holds as confirmed, and
// nothing is recorded that is not on the server.
TEST_F(WindowlessRun, KilledAtSeveralPointsTheNextRunsSendOnlyTheRest)
{
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Home home;
    TestTree site;
    generateSite(site, 1000, 12);
    home.addProject("big", site.root(), server.url(), server.user(), server.password());
    const std::string list = home.dataDirectory() + "big.ftp.txt";
    for (size_t killAt : { 5u, 300u, 700u }) {
        SCOPED_TRACE(killAt);
        pid_t child = home.start("big");
        ASSERT_TRUE(waitFor([&] { return filesBelow(server.root()) >= killAt; })) << home.output();
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        ASSERT_EQ(home.wait(child), 128 + SIGKILL);

        WebProject recorded;
        recorded.projectPath = home.dataDirectory() + "big.ftp";
        recorded.filelist = list;
        recorded.ReadFileList();
        for (const auto& [path, record] : recorded.timeMap) {
            const std::string relative = path.substr(site.root().size() + 1);
            ASSERT_EQ(readText(server.pathOf(relative)), readText(path)) << relative;
        }
        // The next run, killed at the next point or finishing, begins only unconfirmed files.
        pid_t next = home.start(std::vector<std::string> { "-v", "big" });
        ASSERT_TRUE(waitFor([&] { return begunUploads(home.standardOutput()).size() >= 3; })) << home.output();
        ::kill(next, SIGKILL);
        (void)home.wait(next);
        for (const std::string& path : begunUploads(home.standardOutput()))
            ASSERT_EQ(recorded.timeMap.count(path), 0u) << path << " was confirmed and is sent again";
    }
    EXPECT_EQ(home.run("big"), 0) << home.output();
    EXPECT_EQ(compareTrees(site.root(), server.root()), std::vector<std::string>());
    EXPECT_EQ(readFileListFile(list).size(), 1000u);
    EXPECT_FALSE(fs::exists(list + ".journal"));
    EXPECT_EQ(home.run(std::vector<std::string> { "-v", "big" }), 0) << home.output();
    EXPECT_TRUE(begunUploads(home.standardOutput()).empty()) << home.output();
}

// A server that stops answering in the middle of a 50 MB upload: Ctrl-C ends the run at
// once, not after the transfer's budget, and keeps the record of the files before it; a
// second Ctrl-C ends the process without waiting at all.
TEST_F(WindowlessRun, CtrlCInAStalledTransferEndsTheRunAtOnce)
{
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Home home;
    TestTree site;
    for (int index = 0; index < 5; ++index)
        site.add("a" + std::to_string(index) + ".html", "small " + std::to_string(index));
    site.add("z-big.bin", std::string(50 << 20, 'z'));
    home.addProject("big", site.root(), server.url(), server.user(), server.password());
    pid_t child = home.start("big");
    // The upload goes to its part name first; the live name appears only when it is whole.
    // The small files travel on the other connections meanwhile.
    ASSERT_TRUE(waitFor([&] {
        bool smallOnes = true;
        for (int index = 0; index < 5; ++index)
            smallOnes = smallOnes && fs::exists(server.pathOf("a" + std::to_string(index) + ".html"));
        return smallOnes && fs::exists(server.pathOf(".z-big.bin.tarnwick-part"));
    })) << home.output();
    server.freeze(true);
    // Long enough for the socket buffers to fill: the client is now waiting on the server.
    for (int pause = 0; pause < 50; ++pause)
        pause10ms();
    const auto interrupted = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(child, SIGINT), 0);
    const int code = home.wait(child);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - interrupted).count();
    server.freeze(false);
    EXPECT_EQ(code, 1) << home.output();
    // The transfer's budget is 30 s; a stop that waited for it would show here.
    EXPECT_LT(seconds, 5.0);
    EXPECT_NE(
        home.standardOutput().find("\nstopped: 5 uploaded, 0 deleted, 1 left for the next run"), std::string::npos)
        << home.output();
    EXPECT_EQ(readFileListFile(home.dataDirectory() + "big.ftp.txt").size(), 5u);

    // Twice: the first asks the run to stop, the second ends the process.
    child = home.start(std::vector<std::string> { "-v", "big" });
    ASSERT_TRUE(waitFor([&] { return begunUploads(home.standardOutput()).size() == 1; })) << home.output();
    server.freeze(true);
    for (int pause = 0; pause < 50; ++pause)
        pause10ms();
    ASSERT_EQ(::kill(child, SIGINT), 0);
    ASSERT_EQ(::kill(child, SIGINT), 0);
    const int second = home.wait(child);
    server.freeze(false);
    EXPECT_TRUE(second == 128 + SIGINT || second == 1) << second;
}

} // namespace

// A server edited by hand: a page changed, one removed, one added, a part file left over.
// The compare names exactly those and changes nothing; the repair sends and deletes by the
// run's rules; then the compare finds the site in step. Over FTP and SFTP alike.
TEST_F(WindowlessRun, CompareListsAHandEditedServerAndRepairMendsIt)
{
    using Args = std::vector<std::string>;
    struct Server {
        std::string url, user, password, keyFile, root, trust;
        std::function<void(const std::string&, const std::string&)> write;
    };
    struct Row {
        const char* name;
        std::function<std::string()> unavailable;
    };
    const Row rows[] = {
        { "ftp", [] { return FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib); } },
        { "sftp", [] { return SshServer::unavailableReason(); } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.unavailable().empty())
            continue;
        FtpServer ftp;
        SshServer ssh;
        Server server;
        if (row.name == std::string("ftp")) {
            ASSERT_TRUE(ftp.start()) << ftp.error();
            server = { ftp.url(), ftp.user(), ftp.password(), {}, ftp.root(), {},
                [&ftp](const std::string& path, const std::string& text) { std::ofstream(ftp.pathOf(path)) << text; } };
        } else {
            ASSERT_TRUE(ssh.start()) << ssh.error();
            server
                = { "sftp://" + ssh.hostAndPort(), ssh.user(), "", ssh.keyFile(), ssh.root(), ssh.hostKeyFingerprint(),
                      [&ssh](const std::string& path, const std::string& text) { ssh.putFile(path, text); } };
        }
        Home home;
        TestTree site;
        site.add("index.html", "home");
        site.add("a.html", "aaa");
        site.add("sub/b.html", "bbb");
        site.add("c.html", "ccc");
        home.addProject("demo", site.root(), server.url, server.user, server.password, {}, server.keyFile);
        if (!server.trust.empty()) {
            ASSERT_EQ(home.run(Args { "--trust-cert", server.url, server.trust }), 0) << home.output();
        }
        ASSERT_EQ(home.run("demo"), 0) << home.output();

        server.write("a.html", "edited on the server");
        fs::remove(server.root + "/sub/b.html");
        server.write("extra.html", "x");
        server.write(".index.html.tarnwick-part", "ho");
        server.write(".htaccess", "deny");
        site.add("c.html", "cccc", TestTree::kDefaultTime + 60); // not sent by a run yet
        const std::vector<std::string> edited = listFiles(server.root);

        EXPECT_EQ(home.run(Args { "--compare", "demo" }), 1) << home.output();
        std::string output = home.standardOutput();
        for (const char* line : { "differs in size: /a.html\n", "missing on the server: /sub/b.html\n",
                 "only on the server: /extra.html\n", "left over by a stopped upload: /.index.html.tarnwick-part\n",
                 "differs in size: /c.html\n", ": 5 differences\n" })
            EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 7) << output;
        EXPECT_EQ(listFiles(server.root), edited);

        EXPECT_EQ(home.run(Args { "--repair", "--bwlimit", "4M", "demo" }), 0) << home.output();
        output = home.standardOutput();
        EXPECT_NE(output.find("uploaded a.html\n"), std::string::npos) << output;
        EXPECT_NE(output.find("deleted /extra.html\n"), std::string::npos) << output;
        EXPECT_NE(output.find(": 3 uploaded, 2 deleted, 0 failed\n"), std::string::npos) << output;
        EXPECT_EQ(compareTrees(site.root(), server.root, { ".htaccess" }), std::vector<std::string>()) << output;

        EXPECT_EQ(home.run(Args { "--compare", "demo" }), 0) << home.output();
        EXPECT_NE(home.standardOutput().find(": in step\n"), std::string::npos) << home.output();
        // What the repair sent is recorded: the next run has nothing to send.
        EXPECT_EQ(home.run(Args { "-n", "demo" }), 0);
        EXPECT_NE(home.standardOutput().find("nothing to upload or delete"), std::string::npos) << home.output();
    }
}

// The last local file of a site deleted on purpose: the guard holds it and names the way on,
// which then deletes it on the server.
TEST_F(WindowlessRun, AllowDeleteAllLetsTheLastFilesGo)
{
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Home home;
    TestTree site;
    site.add("only.html", "last page");
    home.addProject("demo", site.root(), server.url(), server.user(), server.password());
    {
        ProjectSettings settings;
        settings.LoadProject(home.dataDirectory() + "demo.ftp");
        settings.deleteRemoved = 1;
        ASSERT_TRUE(settings.SaveProject());
    }
    ASSERT_EQ(home.run("demo"), 0) << home.output();
    fs::remove(site.path("only.html"));

    EXPECT_EQ(home.run("demo"), 1) << home.output();
    EXPECT_NE(home.output().find("run \"tarnwick --allow-delete-all demo.ftp\" once"), std::string::npos)
        << home.output();
    EXPECT_TRUE(fs::exists(server.pathOf("only.html")));

    EXPECT_EQ(home.run(std::vector<std::string> { "--allow-delete-all", "demo" }), 0) << home.output();
    EXPECT_FALSE(fs::exists(server.pathOf("only.html"))) << home.output();
}

size_t occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

// Watch mode as someone editing a live site meets it: a save is online within moments, a
// build's burst arrives as one run, a file still being written waits until it is closed,
// a new folder is picked up, and SIGTERM ends the watch at once with the record written.
namespace {

// Ends a program a test started and did not wait for: a failed assertion must not leave it
// running after the test.
struct Reaper {
    pid_t child;
    ~Reaper()
    {
        if (::waitpid(child, nullptr, WNOHANG) == 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    }
};

} // namespace

TEST_F(WindowlessRun, WatchUploadsWhatIsSavedUntilSigterm)
{
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Home home;
    TestTree site;
    site.add("index.html", "home");
    home.addProject("demo", site.root(), server.url(), server.user(), server.password());
    const pid_t child = home.start(std::vector<std::string> { "--watch", "demo" });
    const Reaper reaper { child };
    const auto onServer = [&](const std::string& path, const std::string& text) {
        return
            [&server, path, text] { return fs::exists(server.pathOf(path)) && readText(server.pathOf(path)) == text; };
    };
    ASSERT_GE(secondsUntil(onServer("index.html", "home")), 0) << home.output();
    const auto runs = [&home] { return occurrences(home.standardOutput(), "changed in "); };

    site.add("saved.html", "saved now", TestTree::kDefaultTime);
    const double saved = secondsUntil(onServer("saved.html", "saved now"));
    EXPECT_GE(saved, 0) << home.output();
    EXPECT_LE(saved, 3.0) << home.output();

    // 500 files over about 2 s, as a build writes them.
    ASSERT_GE(secondsUntil([&] { return runs() == 1; }), 0) << home.output();
    for (int index = 0; index < 500; ++index) {
        site.add("build/page" + std::to_string(index) + ".html", "page " + std::to_string(index));
        if (index % 25 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // Counted while uploads rename their parts: nothing may throw on a name that just went.
    const auto pagesOnServer = [&server] {
        std::error_code error;
        size_t pages = 0;
        for (fs::directory_iterator entry(server.pathOf("build"), error), end; !error && entry != end;
             entry.increment(error))
            pages += entry->path().filename().string().starts_with("page") ? 1 : 0;
        return pages;
    };
    EXPECT_GE(secondsUntil([&] { return pagesOnServer() == 500; }), 0) << home.output();
    EXPECT_EQ(runs(), 2u) << home.output();

    // Held open for writing for 3 s: sent once, whole.
    {
        std::ofstream held(site.path("held.html"), std::ios::binary);
        held << "first half " << std::flush;
        std::this_thread::sleep_for(std::chrono::seconds(3));
        EXPECT_FALSE(fs::exists(server.pathOf("held.html")));
        held << "second half";
    }
    EXPECT_GE(secondsUntil(onServer("held.html", "first half second half")), 0) << home.output();

    site.add("fresh/inner/new.html", "new folder");
    EXPECT_GE(secondsUntil(onServer("fresh/inner/new.html", "new folder")), 0) << home.output();

    ASSERT_GE(secondsUntil([&] { return runs() >= 4; }), 0) << home.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(child, SIGTERM);
    const auto stopping = std::chrono::steady_clock::now();
    EXPECT_EQ(home.wait(child), 0) << home.output();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - stopping).count(), 1.0);
    const std::map<std::string, int64_t> recorded = readFileListFile(home.dataDirectory() + "demo.ftp.txt");
    EXPECT_EQ(recorded.size(), 504u);
    EXPECT_EQ(recorded.count(site.path("held.html")), 1u);
    // Sent once: told of as often as the page saved once.
    EXPECT_EQ(occurrences(home.standardOutput(), "held.html"), occurrences(home.standardOutput(), "saved.html"))
        << home.output();
}

namespace {

// The Qt libraries a running process has mapped, one line each.
std::string qtMappings(pid_t child)
{
    std::string found;
    for (const std::string& line : linesOf(readText("/proc/" + std::to_string(child) + "/maps")))
        if (line.find("libQt") != std::string::npos)
            found += line + "\n";
    return found;
}

std::string executableOf(pid_t child)
{
    std::error_code error;
    return fs::read_symlink("/proc/" + std::to_string(child) + "/exe", error).string();
}

} // namespace

// A run without a window maps no Qt library, even with a display at hand; a window request
// replaces the program by the desktop program, which has them.
TEST_F(WindowlessRun, OnlyTheDesktopMapsQt)
{
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Home home;
    TestTree site;
    site.add("index.html", "home");
    home.addProject("demo", site.root(), server.url(), server.user(), server.password());
    const std::vector<std::string> display { "DISPLAY=:99", "QT_QPA_PLATFORM=offscreen",
        "XDG_RUNTIME_DIR=" + home.folder.path() };

    const pid_t watching = home.start({ "--watch", "-q", "demo" }, display);
    const Reaper watchReaper { watching };
    ASSERT_TRUE(waitFor([&] { return fs::exists(server.pathOf("index.html")); })) << home.output();
    EXPECT_EQ(qtMappings(watching), "");
    EXPECT_EQ(executableOf(watching), kProgram);
    ::kill(watching, SIGTERM);
    EXPECT_EQ(home.wait(watching), 0) << home.output();

    if (!fs::exists(TARNWICK_BINARY_DIR "/src/app/tarnwick-desktop"))
        GTEST_SKIP() << "built without the desktop application";
    const pid_t desktop = home.start(std::vector<std::string> {}, display);
    const Reaper desktopReaper { desktop };
    EXPECT_TRUE(waitFor([&] { return executableOf(desktop).ends_with("/tarnwick-desktop"); })) << executableOf(
        desktop) << "\n" << home.output();
    EXPECT_TRUE(waitFor([&] { return !qtMappings(desktop).empty(); })) << home.output();
}

// Without its desktop program the command program still runs without a window, and a window
// request ends at once with a message that says where it looked.
TEST_F(WindowlessRun, WithoutTheDesktopProgramAWindowRequestSaysWhy)
{
    Home home;
    TestTree site;
    site.add("index.html", "home");
    home.addProject("demo", site.root(), "127.0.0.1:1", "nobody", "nothing");
    const std::string alone = home.folder.path() + "/alone/bin/tarnwick";
    fs::create_directories(fs::path(alone).parent_path());
    fs::copy_file(kProgram, alone);
    const std::vector<std::string> display { "DISPLAY=:99" };

    EXPECT_EQ(home.wait(home.start({ "-n", "demo" }, display, alone)), 0) << home.output();
    EXPECT_NE(home.standardOutput().find("1 to upload"), std::string::npos) << home.output();

    EXPECT_EQ(home.wait(home.start({}, display, alone)), 127) << home.output();
    EXPECT_EQ(home.standardError(),
        "tarnwick: cannot start the desktop application: tarnwick-desktop is neither in " + home.folder.path()
            + "/alone/bin nor in " + home.folder.path()
            + "/alone/libexec/tarnwick (a run without a window needs a project name or -all)\n");
}
