// Builds a sample data directory, opens the desktop windows on it and saves a PNG of each:
//     tarnwick-screenshots OUTPUT_DIR
// The language follows the locale, as in the program itself.
#include "config/machine_options.h"
#include "config/project_settings.h"
#include "config/site_list.h"
#include "dialogs/c_dlg_dir_rules.h"
#include "dialogs/c_dlg_edit_text.h"
#include "dialogs/c_dlg_expert.h"
#include "dialogs/c_dlg_options.h"
#include "dialogs/c_dlg_site_list.h"
#include "dialogs/c_dlg_sites.h"
#include "dialogs/c_dlg_web_project.h"
#include "dialogs/hint_event_filter.h"
#include "engine/web_project.h"
#include "platform/file_utils.h"
#include "shell/application.h"
#include "shell/diagnostic_log.h"
#include "shell/run_progress.h"
#include "shell/service_registration.h"
#include "ui/c_dlg_main.h"
#include "ui/file_list_model.h"
#include "ui/log_window.h"
#include "uikit/ui_strings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMouseEvent>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utime.h>

namespace {

void settle(int milliseconds = 150)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool save(QWidget& widget, const std::string& folder, const std::string& name, const char* language)
{
    widget.show();
    widget.raise();
    settle();
    const std::string path = folder + "/" + name + "_" + language + ".png";
    const bool saved = widget.grab().save(QString::fromStdString(path));
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", path.c_str());
    widget.hide();
    return saved;
}

void hover(QWidget* widget)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), widget->mapToGlobal(QPointF(3, 3)), Qt::NoButton, Qt::NoButton,
        Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

void writeFile(const std::string& path, const std::string& content, int64_t mtime)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    (void)writeFileAtomically(path, content);
    struct utimbuf times {
        static_cast<time_t>(mtime), static_cast<time_t>(mtime)
    };
    ::utime(path.c_str(), &times);
}

// Saves a PNG of each window it is shown, named after the window and the language.
struct Shots {
    std::string folder;
    const char* language;
    bool allSaved = true;

    void take(QWidget& widget, const std::string& name) { allSaved &= save(widget, folder, name, language); }
};

// A web folder with some files changed since the last run, two projects on it and the
// sites book, all under `base`.
struct Sample {
    explicit Sample(std::string folder)
        : base(std::move(folder))
    {
    }

    std::string base;
    std::string data = base + "/data/";
    std::string web = base + "/www";
    ProjectSettings project;
};

void writeSample(Sample& sample)
{
    std::filesystem::create_directories(sample.data);
    const int64_t old = 1'700'000'000;
    const int64_t recent = 1'765'000'000;
    const char* files[] = { "index.html", "about.html", "contact.html", "news/2026-11.html", "news/2026-12.html",
        "news/index.html", "css/site.css", "img/logo.png", "img/team.jpg", "downloads/manual.pdf",
        "products/widgets.html", "products/gadgets.html" };
    std::string fileList;
    int counter = 0;
    for (const char* name : files) {
        const bool changed = ++counter % 3 == 0;
        const std::string path = sample.web + "/" + name;
        writeFile(path, std::string(static_cast<size_t>(400 * counter), 'x'), changed ? recent + counter * 600 : old);
        if (!changed)
            fileList += path + "=" + std::to_string(old) + "\n";
    }
    fileList += sample.web + "/products/retired.html=" + std::to_string(old) + "\n";
    std::filesystem::create_directories(sample.web + "/_vti_cnf");
    std::filesystem::create_directories(sample.web + "/Archiv/2025");
    std::filesystem::create_directories(sample.web + "/Archiv2");

    sample.project.projectPath = sample.data + "company-site.ftp";
    sample.project.local = sample.web;
    sample.project.strategy = 2;
    sample.project.minutes = 30;
    sample.project.htmlreport = "/report.html";
    sample.project.archivdir = "/archive";
    sample.project.archmax = 50;
    sample.project.forbiddenDirectories = { "*_vti_cnf", "www/Archiv" };
    sample.project.forbiddenFiles = { "*.bak", "*.tmp" };
    FtpSite site;
    site.name = "default";
    site.url = "ftp.example.org";
    site.user = "webmaster";
    site.pass = "secret";
    site.startdir = "www";
    site.preScript = { "mkdir /www/news" };
    sample.project.sites.push_back(site);
    (void)sample.project.SaveProject();
    (void)writeFileAtomically(sample.project.projectPath + ".txt", fileList);
    ProjectSettings second = sample.project;
    second.projectPath = sample.data + "blog.ftp";
    second.sites.front().url = "blog.example.net";
    (void)second.SaveProject();
    SiteList sites;
    sites.sites = { site, second.sites.front() };
    sites.sites[1].name = "blog";
    (void)sites.writeSites(sample.data + "sites.inf");
}

// The main window idle, during a run and at the first launch, and the log window.
void takeMainWindows(Shots& shots, const Sample& sample, Application& state, const UiStrings& strings)
{
    DesktopEnvironment environment;
    environment.optionsFile = sample.base + "/Tarnwick.conf";
    environment.unitDirectory = sample.base + "/units/";
    environment.programPath = "/usr/bin/tarnwick";
    environment.useTray = false;
    {
        CDlgMain window(state, strings, environment);
        window.startUp("");
        window.selectProject(window.configurationBox()->findText("company-site.ftp"));
        window.configurationBox()->setCurrentIndex(window.configurationBox()->findText("company-site.ftp"));
        window.findSelected();
        QElapsedTimer clock;
        clock.start();
        while (window.fileListModel().rowCount() == 0 && clock.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        window.setStatusText("12 files, 4 changed");
        for (const char* line : { "220 ftp.example.org ready", "USER webmaster", "331 Password required",
                 "PASS ********", "230 Logged in", "TYPE I", "200 Type set to I", "-->/srv/www/news/2026-12.html",
                 "->/srv/www/news/2026-12.html", "226 Transfer complete", "OK /srv/www/news/2026-12.html", "bye" })
            window.appendLogLine(line);
        shots.take(window, "main_window");
        shots.take(window.logWindow(), "log_window");

        // During a run: the buttons as a run sets them, the status line fed by the same
        // counting the upload sink does.
        RunProgress progress;
        const auto start = RunProgress::Clock::now();
        progress.begin(12, 58'000, start);
        for (const char* name : { "about.html", "news/2026-11.html", "news/index.html", "img/team.jpg" }) {
            progress.uploadBegins(sample.web + "/" + name);
            progress.fileSize(4'000);
            progress.bytes(4'000);
        }
        progress.uploadBegins(sample.web + "/products/widgets.html");
        progress.fileSize(4'800);
        progress.bytes(2'000);
        window.showStopButton();
        window.setRunControlsEnabled(false);
        window.showProgress(RunProgress::describe(progress.snapshot(start + std::chrono::seconds(3))));
        shots.take(window, "main_window_run");
        window.setRunControlsEnabled(true);
        window.showStartButton();
    }
    {
        // The first launch: a data directory without any project.
        const std::string empty = sample.base + "/empty/";
        std::filesystem::create_directories(empty);
        Application fresh(empty, sample.base + "/Tarnwick-empty.conf");
        fresh.startUp();
        CDlgMain window(fresh, strings, environment);
        window.startUp("");
        shots.take(window, "first_launch");
    }
}

void takeDialogs(Shots& shots, const Sample& sample, Application& state, const UiStrings& strings)
{
    std::vector<CDlgWebProject::Entry> entries;
    for (int index = 0; index < state.projects().count(); ++index)
        entries.push_back(
            { state.projects().nameAt(index), static_cast<const ProjectSettings&>(*state.projects().at(index)) });
    {
        CDlgWebProject editor(strings, state.options(), sample.data, std::move(entries));
        editor.selectEntry(editor.configurationBox()->findText("company-site.ftp"));
        editor.show();
        settle();
        hover(editor.passwordField());
        shots.take(editor, "project_editor");
    }
    {
        ProjectSettings edited = sample.project;
        CDlgExpert expert(strings, edited);
        expert.show();
        settle();
        hover(expert.archiveField());
        shots.take(expert, "expert_settings");
    }
    {
        CDlgDirRules rules(strings, sample.web, "www", QStringLiteral("*_vti_cnf\r\nwww/Archiv\r\n"));
        rules.scanTree();
        rules.evaluateRows();
        shots.take(rules, "directory_rules");
    }
    {
        DiagnosticLog log(sample.data);
        ServiceRegistration service(sample.base + "/units/", "/usr/bin/tarnwick", "", log);
        MachineOptions options;
        options.dialUpEntry = "Office DSL";
        std::vector<std::string> ascii { "html", "htm", "txt", "css" };
        CDlgOptions dialog(strings, options, ascii, sample.base + "/Tarnwick.conf", service, [] {
            return std::vector<std::string> { "Office DSL", "Mobile" };
        });
        dialog.show();
        settle();
        hover(dialog.checkSizeBox());
        shots.take(dialog, "options");
    }
    {
        CDlgSiteList list(strings, state.sites(), sample.data + "sites.inf");
        shots.take(list, "site_list");
        FtpSite edited = sample.project.sites.front();
        CDlgSites dialog(strings, edited);
        shots.take(dialog, "site");
    }
    {
        CDlgEditText script(strings, QStringLiteral("mkdir /www/news\r\nput /srv/www/start.html /www/start.html\r\n"));
        shots.take(script, "edit_script");
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarnwick-screenshots OUTPUT_DIR\n");
        return 2;
    }
    QApplication application(argc, argv);
    const std::string output = argv[1];
    std::filesystem::create_directories(output);
    const UiStrings strings(UiStrings::languageFromEnvironment());
    Shots shots { output, strings.language() == UiLanguage::German ? "de" : "en" };

    char pattern[] = "/tmp/tarnwick-screenshots-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return 1;
    Sample sample(pattern);
    writeSample(sample);
    Application state(sample.data, sample.base + "/Tarnwick.conf");
    state.startUp();
    takeMainWindows(shots, sample, state, strings);
    takeDialogs(shots, sample, state, strings);
    std::filesystem::remove_all(sample.base);
    return shots.allSaved ? 0 : 1;
}
