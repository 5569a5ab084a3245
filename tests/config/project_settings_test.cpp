#include "config/project_settings.h"
#include "platform/file_utils.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

ProjectSettings loadText(const TempDir& dir, const std::string& content, std::string* consoleOut = nullptr)
{
    std::string path = dir.writeFile("p.ftp", content);
    ProjectSettings project;
    testing::internal::CaptureStdout();
    project.LoadProject(path);
    std::string console = testing::internal::GetCapturedStdout();
    if (consoleOut)
        *consoleOut = console;
    return project;
}

ProjectSettings richProject(const std::string& path)
{
    ProjectSettings project;
    project.projectPath = path;
    project.ftp = "ftp.example.org";
    project.strategy = 2;
    project.htmlreport = "/report.html";
    project.archivdir = "/_archiv_";
    project.archmax = 25;
    project.all = 1;
    project.remote = "/www";
    project.local = "/home/u/site with blanks";
    project.minutes = 15;
    project.deleteRemoved = 1;
    FtpSite first;
    first.name = "Main";
    first.url = "127.0.0.1:2121";
    first.user = "anna";
    first.pass = "pa=ss=word ";
    first.startdir = "htdocs/sub";
    first.preScript = { "cd /x", "dele \"a b.txt\"" };
    first.postScript = { "mkdir y" };
    first.connections = 1;
    FtpSite second;
    second.name = "Mirror";
    second.url = "sftp://[::1]:2222";
    second.keyfile = "/home/u/.ssh/site key";
    second.pass = "ü€";
    second.atomic = false;
    second.connections = 16;
    second.uploadRateLimit = 1536 * 1024;
    project.sites = { first, second };
    project.forbiddenDirectories = { "*/_vti_cnf", "*/.git" };
    project.forbiddenFiles = { "*.bak", "*~" };
    return project;
}

void expectSameStored(const ProjectSettings& a, const ProjectSettings& b)
{
    EXPECT_EQ(a.ftp, b.ftp);
    EXPECT_EQ(a.strategy, b.strategy);
    EXPECT_EQ(a.htmlreport, b.htmlreport);
    EXPECT_EQ(a.archivdir, b.archivdir);
    EXPECT_EQ(a.archmax, b.archmax);
    EXPECT_EQ(a.all, b.all);
    EXPECT_EQ(a.remote, b.remote);
    EXPECT_EQ(a.local, b.local);
    EXPECT_EQ(a.minutes, b.minutes);
    EXPECT_EQ(a.deleteRemoved, b.deleteRemoved);
    EXPECT_EQ(a.sites, b.sites);
    EXPECT_EQ(a.forbiddenDirectories, b.forbiddenDirectories);
    EXPECT_EQ(a.forbiddenFiles, b.forbiddenFiles);
}

void expectDefaults(const ProjectSettings& project)
{
    ProjectSettings fresh;
    expectSameStored(project, fresh);
    EXPECT_TRUE(project.temp.empty());
    EXPECT_TRUE(project.filelist.empty());
}

unsigned modeOf(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(ProjectSettings, RoundTripKeepsEverythingAndRecomputesDerivedPaths)
{
    TempDir dir;
    std::string path = dir.file("Site.ftp");
    ProjectSettings saved = richProject(path);
    saved.temp = "/elsewhere";
    saved.filelist = "/elsewhere/list.txt";
    // Values far longer than a line used to be allowed come back whole.
    saved.sites.back().name = std::string(2000, 'n') + "url=x";
    saved.forbiddenFiles.push_back(std::string(5000, 'f'));
    ASSERT_TRUE(saved.SaveProject());
    EXPECT_EQ(modeOf(path), 0600u);

    ProjectSettings loaded;
    loaded.minuteCounter = 7;
    loaded.LoadProject(path);
    expectSameStored(saved, loaded);
    EXPECT_EQ(loaded.projectPath, path);
    EXPECT_EQ(loaded.temp, dir.path());
    EXPECT_EQ(loaded.filelist, path + ".txt");
    EXPECT_EQ(loaded.minuteCounter, 0);
}

TEST(ProjectSettings, WritesKeysInOrderAndOnlyTheHeadersThatHaveLines)
{
    ProjectSettings project;
    project.temp = "/d";
    project.filelist = "/d/p.ftp.txt";
    project.sites.emplace_back();
    project.sites[0].name = "s";
    project.sites[0].postScript = { "bye" };
    // A count set out of range in memory is written in range, so the file reads back the same.
    project.sites.emplace_back();
    project.sites[1].connections = 40;
    EXPECT_EQ(project.serialize(),
        "ftp=\nstrategy=1\nhtmlreport=\narchivdir=\narchmax=10\nall=0\nremote=\nlocal=\ntemp=/d\n"
        "filelist=/d/p.ftp.txt\nminutes=0\ndelete=0\nmaxdelete=50\n"
        "[site]\nname=s\nurl=\nuser=\npass=\nstartdir=\natomic=1\nconnections=4\n[post]\nbye\n"
        "[site]\nname=\nurl=\nuser=\npass=\nstartdir=\natomic=1\nconnections=16\n");
}

TEST(ProjectSettings, CrLfFileLoadsLikeLfFile)
{
    TempDir dir;
    ProjectSettings saved = richProject(dir.file("a.ftp"));
    std::string lf = saved.serialize();
    std::string crlf;
    for (char c : lf) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    ProjectSettings fromLf = loadText(dir, lf);
    ProjectSettings fromCrLf = loadText(dir, crlf);
    expectSameStored(saved, fromCrLf);
    expectSameStored(fromLf, fromCrLf);
}

struct ReaderRow {
    const char* name;
    std::string content;
    std::function<void(const ProjectSettings&)> check;
};

TEST(ProjectSettings, ReaderEdgeCases)
{
    const std::string long600(600, 'x');
    const ReaderRow rows[] = {
        { "settings key after [forbidden] sets it and is a pattern", "[forbidden]\nminutes=5\n*.tmp\n",
            [](const ProjectSettings& p) {
                EXPECT_EQ(p.minutes, 5);
                EXPECT_EQ(p.forbiddenDirectories, (std::vector<std::string> { "minutes=5", "*.tmp" }));
            } },
        { "ftp= line in a list only sets ftp", "[forbidden files]\nFTP=host\n*.bak\n",
            [](const ProjectSettings& p) {
                EXPECT_EQ(p.ftp, "host");
                EXPECT_EQ(p.forbiddenFiles, (std::vector<std::string> { "*.bak" }));
            } },
        { "keys are case-insensitive, headers are not", "STRATEGY=3\n[Site]\nname=x\n",
            [](const ProjectSettings& p) {
                EXPECT_EQ(p.strategy, 3);
                EXPECT_TRUE(p.sites.empty());
            } },
        { "header with trailing blank inside a list is a pattern", "[forbidden]\n[site] \n[FORBIDDEN FILES]\n",
            [](const ProjectSettings& p) {
                EXPECT_TRUE(p.sites.empty());
                EXPECT_EQ(p.forbiddenDirectories, (std::vector<std::string> { "[site] ", "[FORBIDDEN FILES]" }));
            } },
        { "key with a blank before = sets nothing", "minutes =9\nstrategy= 4\n",
            [](const ProjectSettings& p) {
                EXPECT_EQ(p.minutes, 0);
                EXPECT_EQ(p.strategy, 4);
            } },
        { "password keeps everything after the first =", "[site]\nPASS=a=b==c\nuser=\n",
            [](const ProjectSettings& p) {
                ASSERT_EQ(p.sites.size(), 1u);
                EXPECT_EQ(p.sites[0].pass, "a=b==c");
                EXPECT_EQ(p.sites[0].user, "");
            } },
        { "password in the keyring: marked, nothing in pass", "[site]\npass=\nPasswordStore=Keyring\n",
            [](const ProjectSettings& p) {
                ASSERT_EQ(p.sites.size(), 1u);
                EXPECT_EQ(p.sites[0].passwordPlace, FtpSite::PasswordPlace::Keyring);
                EXPECT_EQ(p.sites[0].pass, "");
            } },
        { "a password written back by hand beats the marker", "[site]\npasswordstore=keyring\npass=typed\n",
            [](const ProjectSettings& p) {
                ASSERT_EQ(p.sites.size(), 1u);
                EXPECT_EQ(p.sites[0].passwordPlace, FtpSite::PasswordPlace::File);
                EXPECT_EQ(p.sites[0].pass, "typed");
            } },
        { "an unknown password store is the file", "[site]\npasswordstore=vault\n",
            [](const ProjectSettings& p) {
                ASSERT_EQ(p.sites.size(), 1u);
                EXPECT_EQ(p.sites[0].passwordPlace, FtpSite::PasswordPlace::File);
            } },
        { "[post] before any [site] drops its lines", "[post]\nbye\n[site]\n[post]\nquit\n",
            [](const ProjectSettings& p) {
                ASSERT_EQ(p.sites.size(), 1u);
                EXPECT_EQ(p.sites[0].postScript, (std::vector<std::string> { "quit" }));
            } },
        { "last line without line feed", "strategy=0\nminutes=15",
            [](const ProjectSettings& p) {
                EXPECT_EQ(p.strategy, 0);
                EXPECT_EQ(p.minutes, 15);
            } },
        { "numbers: digits up to the first non-digit, none is 0, overflow clamps",
            "archmax=12abc\nminutes=abc\nall=  -3\nstrategy=99999999999999999999\n",
            [](const ProjectSettings& p) {
                EXPECT_EQ(p.archmax, 12);
                EXPECT_EQ(p.minutes, 0);
                EXPECT_EQ(p.all, -3);
                EXPECT_EQ(p.strategy, 2147483647);
            } },
        { "delete is 1 for any non-zero number", "delete=7\n",
            [](const ProjectSettings& p) { EXPECT_EQ(p.deleteRemoved, 1); } },
        { "site keys only in the site state; other lines ignored", "name=top\n[site]\nurl=h\nminutes=2\njunk\n",
            [](const ProjectSettings& p) {
                ASSERT_EQ(p.sites.size(), 1u);
                EXPECT_EQ(p.sites[0].name, "");
                EXPECT_EQ(p.sites[0].url, "h");
                EXPECT_EQ(p.minutes, 2);
            } },
        { "script lines go to the current site and can set settings",
            "[site]\n[pre]\nlocal=/x\n\n[site]\n[pre]\ncd a\n",
            [](const ProjectSettings& p) {
                ASSERT_EQ(p.sites.size(), 2u);
                EXPECT_EQ(p.local, "/x");
                EXPECT_EQ(p.sites[0].preScript, (std::vector<std::string> { "local=/x" }));
                EXPECT_EQ(p.sites[1].preScript, (std::vector<std::string> { "cd a" }));
            } },
        { "a line over 511 bytes is read whole", "[forbidden]\n" + long600 + "\n",
            [&](const ProjectSettings& p) {
                EXPECT_EQ(p.forbiddenDirectories, (std::vector<std::string> { long600 }));
            } },
        { "a line of exactly 511 bytes leaves no empty line behind",
            "[forbidden]\n" + long600.substr(0, 511) + "\r\nz\n",
            [&](const ProjectSettings& p) {
                EXPECT_EQ(p.forbiddenDirectories, (std::vector<std::string> { long600.substr(0, 511), "z" }));
            } },
        { "the tail of a long name never becomes a setting",
            "[site]\nname=" + std::string(600 - 9, 'n') + "url=evil\nurl=good\nname=" + std::string(70000, 'm')
                + "local=/\n",
            [](const ProjectSettings& p) {
                ASSERT_EQ(p.sites.size(), 1u);
                EXPECT_EQ(p.sites[0].url, "good");
                EXPECT_EQ(p.sites[0].name, std::string(70000, 'm') + "local=/");
                EXPECT_EQ(p.local, "");
            } },
        { "atomic is on unless a site turns it off; any non-zero number is on",
            "[site]\n[site]\natomic=0\n[site]\nATOMIC=7\n[site]\natomic=\n",
            [](const ProjectSettings& p) {
                ASSERT_EQ(p.sites.size(), 4u);
                EXPECT_TRUE(p.sites[0].atomic);
                EXPECT_FALSE(p.sites[1].atomic);
                EXPECT_TRUE(p.sites[2].atomic);
                EXPECT_FALSE(p.sites[3].atomic);
            } },
        { "atomic in a script or outside a site is no site setting", "atomic=0\n[site]\n[pre]\natomic=0\n",
            [](const ProjectSettings& p) {
                ASSERT_EQ(p.sites.size(), 1u);
                EXPECT_TRUE(p.sites[0].atomic);
                EXPECT_EQ(p.sites[0].preScript, (std::vector<std::string> { "atomic=0" }));
            } },
        { "connections out of range is held at 1 or 16; no number or no key is 4",
            "[site]\nconnections=0\n[site]\nCONNECTIONS=99\n[site]\nconnections=x\n[site]\n[site]\nconnections=7\n"
            "[site]\nconnections=-3\n[site]\nconnections=\n[site]\nconnections= 12 \n",
            [](const ProjectSettings& p) {
                std::vector<int> counts;
                for (const FtpSite& site : p.sites)
                    counts.push_back(site.connections);
                EXPECT_EQ(counts, (std::vector<int> { 1, 16, 4, 4, 7, 1, 4, 12 }));
            } },
        { "bwlimit reads rates as written; one that cannot be read is no cap",
            "[site]\nbwlimit=4M\n[site]\nBWLIMIT= 500k \n[site]\nbwlimit=2048\n[site]\nbwlimit=fast\n[site]\n"
            "[site]\nbwlimit=-4M\n[site]\nbwlimit=100\n",
            [](const ProjectSettings& p) {
                std::vector<int64_t> limits;
                for (const FtpSite& site : p.sites)
                    limits.push_back(site.uploadRateLimit);
                EXPECT_EQ(limits, (std::vector<int64_t> { 4 << 20, 500 << 10, 2048, 0, 0, 0, 0 }));
            } },
        { "a lone CR stays part of the value", "[site]\nname=a\rb\r\r\n",
            [](const ProjectSettings& p) {
                ASSERT_EQ(p.sites.size(), 1u);
                EXPECT_EQ(p.sites[0].name, "a\rb\r");
            } },
        { "stored temp and filelist are replaced", "temp=/nowhere\nfilelist=/nowhere/x\n",
            [](const ProjectSettings& p) {
                EXPECT_NE(p.temp, "/nowhere");
                EXPECT_EQ(p.filelist, p.projectPath + ".txt");
            } },
    };
    TempDir dir;
    for (const ReaderRow& row : rows) {
        SCOPED_TRACE(row.name);
        ProjectSettings project = loadText(dir, row.content);
        row.check(project);
    }
}

TEST(ProjectSettings, LoadAppendsWithoutEmptyingFirst)
{
    TempDir dir;
    ProjectSettings project;
    project.forbiddenFiles = { "keep" };
    project.LoadProject(dir.writeFile("p.ftp", "[forbidden files]\nnew\n[site]\n"));
    EXPECT_EQ(project.forbiddenFiles, (std::vector<std::string> { "keep", "new" }));
    EXPECT_EQ(project.sites.size(), 1u);
}

TEST(ProjectSettings, BadInputKeepsDefaults)
{
    TempDir dir;
    std::string console;

    ProjectSettings missing;
    testing::internal::CaptureStdout();
    missing.LoadProject(dir.file("absent.ftp"));
    console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console, "can not open ini\n");
    expectDefaults(missing);
    EXPECT_EQ(missing.projectPath, dir.file("absent.ftp"));

    ProjectSettings folder;
    testing::internal::CaptureStdout();
    folder.LoadProject(dir.makeDirectory("folder.ftp"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "can not open ini\n");
    expectDefaults(folder);

    std::string fifo = dir.file("fifo.ftp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ProjectSettings pipe;
    testing::internal::CaptureStdout();
    pipe.LoadProject(fifo); // must not wait for a writer
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "can not open ini\n");
    expectDefaults(pipe);

    if (::geteuid() != 0) {
        std::string locked = dir.writeFile("locked.ftp", "minutes=5\n");
        ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
        ProjectSettings unreadable;
        testing::internal::CaptureStdout();
        unreadable.LoadProject(locked);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "can not open ini\n");
        expectDefaults(unreadable);
    }

    ProjectSettings huge = loadText(dir, std::string(10 * 1024 * 1024, 'A') + "\n", &console);
    EXPECT_EQ(console, "");
    expectSameStored(huge, ProjectSettings());

    std::mt19937 random(12345);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(4096, '\0');
        for (char& byte : bytes)
            byte = static_cast<char>(random());
        ProjectSettings noise = loadText(dir, bytes, &console);
        // Whatever it made of the noise, saving and loading again must give the same.
        noise.projectPath = dir.file("noise.ftp");
        ASSERT_TRUE(noise.SaveProject());
        ProjectSettings again;
        again.LoadProject(noise.projectPath);
        EXPECT_EQ(again.sites.size(), noise.sites.size());
        EXPECT_EQ(again.forbiddenFiles.size(), noise.forbiddenFiles.size());
    }
}

TEST(ProjectSettings, SaveKeepsOnePreviousVersionPrivately)
{
    TempDir dir;
    std::string path = dir.file("Site.ftp");
    ProjectSettings project = richProject(path);
    ASSERT_TRUE(project.SaveProject());
    EXPECT_FALSE(readWholeFile(path + ".bak")) << "no copy without a previous file";

    std::string first = *readWholeFile(path);
    project.minutes = 30;
    ASSERT_TRUE(project.SaveProject());
    EXPECT_EQ(readWholeFile(path + ".bak"), first);
    EXPECT_EQ(modeOf(path + ".bak"), 0600u);

    std::string second = *readWholeFile(path);
    project.minutes = 45;
    ASSERT_TRUE(project.SaveProject());
    EXPECT_EQ(readWholeFile(path + ".bak"), second);

    // Nothing but the project file and its copy is left in the folder.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::unlink((path + ".bak").c_str()), 0);
    EXPECT_EQ(::rmdir(dir.path().c_str()), 0);
}

TEST(ProjectSettings, TheCopyKeepsNoPasswordThatWentToTheKeyring)
{
    TempDir dir;
    ProjectSettings project;
    project.projectPath = dir.file("Shop.ftp");
    for (const char* name : { "moved", "renamed", "other" }) {
        FtpSite site;
        site.name = name;
        site.user = "web";
        site.pass = std::string("secret-") + name;
        project.sites.push_back(site);
    }
    ASSERT_TRUE(project.SaveProject());
    for (FtpSite& site : project.sites) {
        if (site.name == "other")
            continue;
        site.pass.clear();
        site.passwordPlace = FtpSite::PasswordPlace::Keyring;
    }
    // Filed in the keyring under another name: the copy still names the old one.
    project.sites[1].name = "new name";
    ASSERT_TRUE(project.SaveProject());

    ProjectSettings copy;
    copy.LoadProject(dir.file("Shop.ftp.bak"));
    ASSERT_EQ(copy.sites.size(), 3u);
    EXPECT_EQ(copy.sites[0].pass, "");
    EXPECT_EQ(copy.sites[0].passwordPlace, FtpSite::PasswordPlace::Keyring);
    EXPECT_EQ(copy.sites[1].pass, "secret-renamed");
    EXPECT_EQ(copy.sites[2].pass, "secret-other");
}

TEST(ProjectSettings, SaveFailsCleanlyWithoutAWritableTarget)
{
    TempDir dir;
    ProjectSettings project;
    EXPECT_FALSE(project.SaveProject()) << "no path recorded";

    project.projectPath = dir.makeDirectory("taken.ftp");
    EXPECT_FALSE(project.SaveProject());
    struct stat info { };
    ASSERT_EQ(::stat(project.projectPath.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));

    project.projectPath = dir.file("missing-folder/p.ftp");
    EXPECT_FALSE(project.SaveProject());

    // No temporary file is left behind: only the folder made above remains.
    ASSERT_EQ(::rmdir(dir.file("taken.ftp").c_str()), 0);
    EXPECT_EQ(::rmdir(dir.path().c_str()), 0);
}

TEST(ProjectSettings, LineFeedInAValueCannotInjectSettings)
{
    TempDir dir;
    ProjectSettings project;
    project.projectPath = dir.file("p.ftp");
    project.local = "/site\nminutes=1";
    project.sites.emplace_back();
    project.sites[0].pass = "secret\n[forbidden]";
    project.forbiddenFiles = { "", "*.tmp\nstrategy=9" };
    ASSERT_TRUE(project.SaveProject());

    ProjectSettings loaded;
    loaded.LoadProject(project.projectPath);
    EXPECT_EQ(loaded.local, "/site");
    EXPECT_EQ(loaded.minutes, 0);
    EXPECT_EQ(loaded.strategy, 1);
    ASSERT_EQ(loaded.sites.size(), 1u);
    EXPECT_EQ(loaded.sites[0].pass, "secret");
    EXPECT_TRUE(loaded.forbiddenDirectories.empty());
    EXPECT_EQ(loaded.forbiddenFiles, (std::vector<std::string> { "*.tmp" }));
}

TEST(ProjectSettings, DerivedPathsOnlyAfterASuccessfulOpen)
{
    TempDir dir;
    std::string path = dir.writeFile("rel.ftp", "");
    ProjectSettings project;
    testing::internal::CaptureStdout();
    project.LoadProject("no-such-relative-name.ftp");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "can not open ini\n");
    EXPECT_TRUE(project.temp.empty()) << "not computed when the file cannot be opened";

    ProjectSettings loaded;
    loaded.LoadProject(path);
    EXPECT_EQ(loaded.temp, dir.path());
}

} // namespace
