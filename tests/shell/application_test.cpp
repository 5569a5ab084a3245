// Start-up: which projects load, in which order, which one is selected, and what else is
// read from the data folder.

#include "engine/web_project.h"
#include "shell/application.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// The name of the "*.ftp" file the directory search returns last.
std::string lastListed(const std::string& folder)
{
    std::string last;
    DIR* dir = ::opendir(folder.c_str());
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.ends_with(".ftp") && fs::is_regular_file(folder + "/" + name))
            last = name;
    }
    ::closedir(dir);
    return last;
}

TEST(StartUp, ProjectsAreSortedByNameAndTheLastFoundIsSelected)
{
    TempDir data;
    data.writeFile("beta.ftp", "strategy=2\nminutes=5\n[site]\nname=b\n");
    data.writeFile("alpha.ftp", "strategy=2\n");
    data.writeFile("Gamma.ftp", "garbage without settings\n");
    data.writeFile("delta.ftp.bak", "strategy=2\n");
    data.writeFile("notes.txt", "x");
    data.makeDirectory("folder.ftp");
    data.writeFile("sites.inf", "[*]\nname=Book site\nurl=example.invalid\n");
    data.writeFile("ascii.ini", "txt\nphp\n");

    Application application(data.path() + "/", data.file("options.conf"));
    application.startUp();
    EXPECT_EQ(application.projects().names(), (std::vector<std::string> { "alpha.ftp", "beta.ftp", "Gamma.ftp" }));
    ASSERT_NE(application.selectedProject(), nullptr);
    EXPECT_EQ(fs::path(application.selectedProject()->projectPath).filename(), lastListed(data.path()));

    WebProject* beta = application.projects().at(1);
    EXPECT_EQ(beta->minutes, 5);
    EXPECT_EQ(beta->sites.size(), 1u);
    EXPECT_EQ(beta->machineOptions, &application.options());
    EXPECT_EQ(beta->fileAttributes, &application.archiveMarks());
    WebProject* gamma = application.projects().at(2);
    EXPECT_EQ(gamma->strategy, 1); // an unreadable project keeps its defaults and is listed
    EXPECT_EQ(gamma->archmax, 10);

    ASSERT_EQ(application.sites().sites.size(), 1u);
    EXPECT_EQ(application.sites().sites[0].name, "Book site");
    EXPECT_EQ(application.asciiExtensions(), (std::vector<std::string> { "txt", "php" }));
    EXPECT_TRUE(fs::exists(data.file("report.html")));
    EXPECT_TRUE(fs::exists(data.file("reportfp.html")));

    // A reload replaces the list and keeps the sites book single.
    fs::remove(data.file("alpha.ftp"));
    WebProject* selected = application.loadProjects();
    EXPECT_EQ(application.projects().names(), (std::vector<std::string> { "beta.ftp", "Gamma.ftp" }));
    EXPECT_NE(selected, nullptr);
    EXPECT_EQ(application.sites().sites.size(), 1u);
}

TEST(StartUp, WithoutProjectsTheSitesBookIsNotRead)
{
    TempDir data;
    data.writeFile("sites.inf", "[*]\nname=Book site\n");
    Application application(data.path() + "/", data.file("options.conf"));
    application.startUp();
    EXPECT_EQ(application.projects().count(), 0);
    EXPECT_EQ(application.selectedProject(), nullptr);
    EXPECT_TRUE(application.sites().sites.empty());
}

} // namespace
