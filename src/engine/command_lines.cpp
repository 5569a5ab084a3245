#include "engine/command_lines.h"

#include "engine/web_project.h"
#include "ftp/next_token.h"
#include "platform/file_utils.h"

#include <cstdio>

namespace {

std::string quoted(std::string_view text)
{
    std::string result;
    result.reserve(text.size() + 2);
    result += '"';
    result += text;
    result += '"';
    return result;
}

} // namespace

std::string enterFolderLine(std::string_view serverDir)
{
    if (serverDir.empty())
        return "cd /";
    return "mkdir " + std::string(serverDir);
}

std::string putLine(std::string_view localPath, std::string_view serverPath)
{
    return "put " + quoted(localPath) + " " + quoted(serverPath);
}

std::string deleteLine(std::string_view serverFolder, std::string_view fileName)
{
    std::string line = "dele ";
    line += serverFolder;
    line += '/';
    line += fileName;
    return line;
}

std::string archiveName(std::string_view fileName, std::string_view serverDir, const struct tm& localTime)
{
    std::string base;
    if (!serverDir.empty()) {
        base = serverDir;
        base += '_';
    }
    base += fileName;
    for (char& c : base)
        if (c == '/' || c == '\\')
            c = '_';
    size_t dot = base.rfind('.');
    if (dot == std::string::npos)
        return base;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%.2d%.2d%.2d%.2d%.2d", localTime.tm_mday, localTime.tm_mon + 1,
        localTime.tm_year % 100, localTime.tm_hour, localTime.tm_min);
    base.insert(dot, stamp);
    return base;
}

std::string archiveMoveLine(std::string_view startDir, std::string_view serverDir, std::string_view fileName,
    std::string_view archiveDir, std::string_view archiveName)
{
    std::string source;
    if (!startDir.empty()) {
        source += '/';
        source += startDir;
    }
    source += serverDir;
    source += '/';
    source += fileName;
    std::string target(archiveDir);
    target += '/';
    target += archiveName;
    return "mv " + quoted(source) + " " + quoted(target);
}

std::string applyStartDirectory(std::string_view line, std::string_view startDir)
{
    if (startDir.empty())
        return std::string(line);
    size_t position = 0;
    std::string command = nextToken(line, position);
    std::string prefixed = "/" + std::string(startDir);
    if (command == "cd" || command == "mkdir")
        return command + " " + quoted(prefixed + nextToken(line, position));
    if (command == "put") {
        std::string localPath = nextToken(line, position);
        std::string serverPath = nextToken(line, position);
        return "put " + quoted(localPath) + " " + quoted(prefixed + serverPath);
    }
    return std::string(line);
}

std::string WebProject::BuildArchiveMove(
    const std::string& fileName, const std::string& serverDir, FileItem& item) const
{
    std::string name = archiveName(fileName, serverDir, localTimeOf(clock()));
    item.archivePath = archivdir + "/" + name;
    return archiveMoveLine(currentStartDir, serverDir, fileName, archivdir, name);
}
