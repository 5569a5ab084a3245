#include "shell/application.h"

#include "engine/web_project.h"
#include "ftp/ftp_client.h"
#include "platform/file_utils.h"
#include "report/report_templates.h"

Application::Application()
    : Application(getDataDirectory(), optionsFilePath())
{
}

Application::Application(std::string dataDirectory, std::string optionsFile)
    : dataDirectory_(std::move(dataDirectory))
    , optionsFile_(std::move(optionsFile))
    , archiveMarks_(dataDirectory_ + "archive.marks")
    , log_(dataDirectory_)
{
}

void Application::startUp()
{
    {
        std::lock_guard lock(optionsMutex_);
        loadOptions(options_, optionsFile_);
    }
    archiveMarks_.load();
    if (!installReportTemplates(dataDirectory_))
        log_.logLine("report templates could not be written to " + dataDirectory_, LogLineKind::Error);
    loadProjects();
    // The reader of the extension list is the FTP client's own.
    FtpClient reader(options_);
    reader.loadAsciiExtensions(dataDirectory_ + "ascii.ini");
    asciiExtensions_ = reader.asciiExtensions();
}

MachineOptions Application::optionsSnapshot() const
{
    std::lock_guard lock(optionsMutex_);
    return options_;
}

void Application::replaceOptions(const MachineOptions& options)
{
    std::lock_guard lock(optionsMutex_);
    options_ = options;
}

WebProject* Application::loadProjects()
{
    selectedIndex_ = projects_.load(dataDirectory_, &options_, &archiveMarks_);
    if (selectedIndex_ >= 0) {
        sites_.sites.clear();
        (void)sites_.readSites(dataDirectory_ + "sites.inf");
    }
    return selectedProject();
}
