#include "config/project_settings.h"
#include "fuzz_temp_file.h"

#include <cstdlib>
#include <unistd.h>

namespace {

bool sameStored(const ProjectSettings& a, const ProjectSettings& b)
{
    return a.ftp == b.ftp && a.strategy == b.strategy && a.htmlreport == b.htmlreport && a.archivdir == b.archivdir
        && a.archmax == b.archmax && a.all == b.all && a.remote == b.remote && a.local == b.local && a.temp == b.temp
        && a.filelist == b.filelist && a.minutes == b.minutes && a.deleteRemoved == b.deleteRemoved
        && a.sites == b.sites && a.forbiddenDirectories == b.forbiddenDirectories
        && a.forbiddenFiles == b.forbiddenFiles;
}

ProjectSettings load(const std::string& path)
{
    ProjectSettings project;
    project.LoadProject(path);
    return project;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ProjectSettings first = load(writeFuzzFile("input.ftp", data, size));

    first.projectPath = fuzzFolder() + "/saved.ftp";
    ::unlink(first.projectPath.c_str());
    if (!first.SaveProject())
        std::abort();
    ProjectSettings second = load(first.projectPath);
    if (!hasLoneCarriageReturn(data, size)) {
        // Settings may legitimately move: a key line inside a list sets the setting again
        // after the top of the file did. Sites, scripts and patterns never change.
        if (second.sites != first.sites || second.forbiddenDirectories != first.forbiddenDirectories
            || second.forbiddenFiles != first.forbiddenFiles)
            std::abort();
        // Once written by SaveProject, the file is a fixed point.
        if (!second.SaveProject())
            std::abort();
        if (!sameStored(load(second.projectPath), second))
            std::abort();
    }
    return 0;
}
