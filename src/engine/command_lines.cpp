#include "engine/command_lines.h"

#include "engine/web_project.h"
#include "platform/file_utils.h"
#include "session/next_token.h"

#include <cstdio>
#include <functional>
#include <optional>

std::string quotedArgument(std::string_view text)
{
    std::string result;
    result.reserve(text.size() + 2);
    result += '"';
    for (char c : text) {
        if (c == '"')
            result += '"';
        result += c;
    }
    result += '"';
    return result;
}

std::string enterFolderLine(std::string_view serverDir)
{
    // Quoted like the put lines: unquoted, "/two words" would make a folder "/two".
    if (serverDir.empty())
        return "cd \"/\"";
    return "mkdir " + quotedArgument(serverDir);
}

std::string putLine(std::string_view localPath, std::string_view serverPath)
{
    return "put " + quotedArgument(localPath) + " " + quotedArgument(serverPath);
}

PendingCommand enterFolderCommand(std::string_view serverDir)
{
    PendingCommand folder = PendingCommand::line(enterFolderLine(serverDir));
    folder.kind = PendingCommand::Kind::EnterFolder;
    folder.remotePath = serverDir;
    return folder;
}

PendingCommand putCommand(std::string_view localPath, std::string_view serverPath)
{
    PendingCommand put = PendingCommand::line(putLine(localPath, serverPath), std::string(localPath));
    put.kind = PendingCommand::Kind::Put;
    put.remotePath = serverPath;
    return put;
}

std::string serverPathAt(std::string_view startDir, std::string_view serverPath)
{
    if (startDir.empty())
        return std::string(serverPath);
    std::string path = "/";
    path += startDir;
    path += serverPath;
    return path;
}

std::string deleteLine(std::string_view serverFolder, std::string_view fileName)
{
    std::string path(serverFolder);
    path += '/';
    path += fileName;
    return "dele " + quotedArgument(path);
}

std::string archiveName(std::string_view fileName, std::string_view serverDir, const struct tm& localTime)
{
    std::string base;
    if (!serverDir.empty()) {
        base = serverDir;
        base += '_';
    }
    const size_t fileStart = base.size();
    base += fileName;
    for (char& c : base)
        if (c == '/' || c == '\\')
            c = '_';
    // To the second, and for names without an extension too: two versions archived within one
    // minute, or two of a file named README, must not share a name.
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%.2d%.2d%.2d%.2d%.2d%.2d", localTime.tm_mday, localTime.tm_mon + 1,
        localTime.tm_year % 100, localTime.tm_hour, localTime.tm_min, localTime.tm_sec);
    size_t dot = base.rfind('.');
    if (dot == std::string::npos || dot < fileStart)
        dot = base.size();
    base.insert(dot, stamp);
    return base;
}

std::string uniqueArchiveName(std::string_view name, const std::function<bool(const std::string&)>& taken)
{
    std::string candidate(name);
    if (!taken(candidate))
        return candidate;
    // Before the extension, where the stamp sits too: the copy keeps its type.
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        dot = name.size();
    for (int counter = 2;; ++counter) {
        candidate = std::string(name.substr(0, dot)) + "-" + std::to_string(counter) + std::string(name.substr(dot));
        if (!taken(candidate))
            return candidate;
    }
}

std::optional<int64_t> archiveStampTime(std::string_view name)
{
    // The stamp is the last run of digits long enough to hold one; a counter ("-2") may
    // follow it. Older archives carry ten digits (to the minute), newer ones twelve.
    std::optional<int64_t> found;
    size_t i = 0;
    while (i < name.size()) {
        if (name[i] < '0' || name[i] > '9') {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < name.size() && name[i] >= '0' && name[i] <= '9')
            ++i;
        std::string_view run = name.substr(start, i - start);
        for (size_t length : { size_t { 12 }, size_t { 10 } }) {
            if (run.size() < length)
                continue;
            std::string_view digits = run.substr(run.size() - length);
            auto field = [&](size_t at) { return (digits[at] - '0') * 10 + (digits[at + 1] - '0'); };
            struct tm local { };
            local.tm_mday = field(0);
            local.tm_mon = field(2) - 1;
            int year = field(4);
            local.tm_year = year < 70 ? year + 100 : year;
            local.tm_hour = field(6);
            local.tm_min = field(8);
            local.tm_sec = length == 12 ? field(10) : 0;
            local.tm_isdst = -1;
            if (local.tm_mday < 1 || local.tm_mday > 31 || local.tm_mon < 0 || local.tm_mon > 11 || local.tm_hour > 23
                || local.tm_min > 59 || local.tm_sec > 59)
                continue;
            found = static_cast<int64_t>(std::mktime(&local));
            break;
        }
    }
    return found;
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
    return moveLine(source, target);
}

std::string moveLine(std::string_view source, std::string_view target)
{
    return "mv " + quotedArgument(source) + " " + quotedArgument(target);
}

std::string applyStartDirectory(std::string_view line, std::string_view startDir)
{
    if (startDir.empty())
        return std::string(line);
    size_t position = 0;
    std::string command = nextToken(line, position);
    std::string prefixed = "/" + std::string(startDir);
    if (command == "cd" || command == "mkdir")
        return command + " " + quotedArgument(prefixed + nextToken(line, position));
    if (command == "put") {
        std::string localPath = nextToken(line, position);
        std::string serverPath = nextToken(line, position);
        return "put " + quotedArgument(localPath) + " " + quotedArgument(prefixed + serverPath);
    }
    return std::string(line);
}

std::string WebProject::BuildArchiveMove(
    const std::string& fileName, const std::string& serverDir, FileItem& item) const
{
    return archiveMoveCommand(fileName, serverDir, item).command;
}

PendingCommand WebProject::archiveMoveCommand(
    const std::string& fileName, const std::string& serverDir, FileItem& item) const
{
    PendingCommand move;
    move.kind = PendingCommand::Kind::ArchiveMove;
    move.archiveName = archiveName(fileName, serverDir, localTimeOf(clock()));
    item.archivePath = archivdir + "/" + move.archiveName;
    move.command = archiveMoveLine(currentStartDir, serverDir, fileName, archivdir, move.archiveName);
    move.archivedFile = item.path;
    if (!currentStartDir.empty())
        move.archiveSource = "/" + currentStartDir;
    move.archiveSource += serverDir + "/" + fileName;
    return move;
}
