#include "engine/web_project.h"

#include "engine/command_lines.h"
#include "engine/upload_script.h"
#include "ftp/ftp_client.h"
#include "platform/ascii_case.h"
#include "platform/file_attributes.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <sys/stat.h>

namespace {

bool isSuccess(int code)
{
    return code >= 200 && code <= 299;
}

// The file still is what the scan saw: same size and modification second.
bool unchangedSinceScan(const FileItem& item)
{
    struct stat info { };
    return ::stat(item.path.c_str(), &info) == 0 && static_cast<int64_t>(info.st_mtime) == item.mtime
        && static_cast<int64_t>(info.st_size) == item.size;
}

} // namespace

void WebProject::MarkFailed(const std::string& localPath)
{
    if (localPath.empty())
        return;
    for (FileItem& item : items) {
        if (item.path == localPath) {
            item.failed = true;
            return;
        }
    }
}

void WebProject::MarkAllFailed(const std::string& localPath)
{
    for (FileItem& item : items) {
        if (!item.changed)
            continue;
        if (localPath.empty()) {
            item.failed = true;
        } else if (item.path == localPath) {
            item.failed = true;
            return;
        }
    }
}

void WebProject::PruneArchive(FtpClient& client)
{
    std::vector<RemoteEntry> entries = client.listEntries(archivdir);
    const size_t keep = static_cast<size_t>(std::max(archmax, 0));
    if (entries.size() <= keep)
        return;
    std::stable_sort(entries.begin(), entries.end(),
        [](const RemoteEntry& a, const RemoteEntry& b) { return a.modificationTime > b.modificationTime; });
    for (size_t index = keep; index < entries.size(); ++index)
        (void)client.deleteFile(archivdir + "/" + entries[index].name);
}

void WebProject::RunUpload()
{
    detectionDone = false;
    reportRowsAppended = false;
    unreachableSites = 0;
    if (!changesPending)
        return;

    const MachineOptions defaults;
    FtpClient client(
        machineOptions != nullptr ? *machineOptions : defaults, std::chrono::milliseconds(clientBudgetMilliseconds));
    client.setEventSink(eventSink);
    const auto broken = [&client] { return client.failureCount() > FtpClient::kBrokenAfterFailures; };

    int siteNumber = 0;
    for (const FtpSite& site : sites) {
        ++siteNumber;
        currentSite = siteNumber;
        if (cancelRequested)
            break;
        UploadScript transcript(temp, siteNumber);

        const bool connected = client.connect(site.url, site.user, site.pass);
        if (!connected) {
            ++unreachableSites;
            MarkAllFailed();
        } else {
            if (!archivdir.empty())
                (void)client.makeDirectory(archivdir);
            if (!remote.empty())
                (void)client.makeDirectory(remote);

            for (const std::string& line : site.preScript) {
                if (broken())
                    break;
                (void)client.runScriptLine(line);
            }

            for (const PendingCommand& pending : pendingCommands) {
                if (client.timedOut() || cancelRequested || broken()) {
                    MarkFailed(pending.localPath);
                    continue;
                }
                transcript.writeLine(pending.command);
                const std::string line
                    = site.startdir.empty() ? pending.command : applyStartDirectory(pending.command, site.startdir);
                const int code = client.runScriptLine(line);
                if ((!isSuccess(code) && !pending.localPath.empty()) || code == FtpClient::kTransferNotCarriedOut)
                    MarkFailed(pending.localPath);
            }

            if (deleteRemoved == 1)
                removeDeletedFiles(client, site);

            for (const std::string& line : site.postScript) {
                if (broken())
                    break;
                (void)client.runScriptLine(line);
            }
        }

        if (!htmlreport.empty()) {
            const std::string reportPath = ReportHTML(site.startdir);
            (void)client.runScriptLine("put \"" + reportPath + "\" \"" + htmlreport + "\"");
        }
        if (!archivdir.empty())
            PruneArchive(client);
        (void)client.quit();
        transcript.finish();
    }
    currentSite = 0;
    client.hangUpIfDialed();
}

void WebProject::removeDeletedFiles(FtpClient& client, const FtpSite& site)
{
    for (FileItem& item : items) {
        if (!item.deleted)
            continue;
        const size_t slash = item.path.rfind('/');
        if (slash == std::string::npos)
            continue;
        const std::string folder = item.path.substr(0, slash);
        const std::string fileName = item.path.substr(slash + 1);
        if (!startsWithIgnoringCase(folder, local))
            continue;
        // A path that merely shares its first characters with the local folder ("site2"
        // beside "site") lies outside the project: deleting by its remainder would hit
        // another file on the server.
        std::string relativeFolder = folder.substr(local.size());
        if (!relativeFolder.empty() && relativeFolder.front() != '/' && !local.ends_with('/'))
            continue;
        // The upload put the file below the project's remote folder; its deletion goes there too.
        std::string serverDir = remote;
        if (!relativeFolder.empty() && relativeFolder.front() != '/')
            serverDir += '/';
        serverDir += relativeFolder;

        std::string line;
        if (archivdir.empty()) {
            // The start directory is named from the root, as the rewritten put lines name it:
            // a relative name would resolve against whatever folder the last "cd" chose.
            std::string serverFolder = site.startdir.empty() || site.startdir.front() == '/'
                ? site.startdir + serverDir
                : "/" + site.startdir + serverDir;
            line = deleteLine(serverFolder, fileName);
        } else {
            // The move line puts the start directory in front by itself.
            line = BuildArchiveMove(fileName, serverDir, item);
        }
        (void)client.runScriptLine(line);
    }
}

void WebProject::FinishRun()
{
    if (cancelRequested)
        return;
    for (FileItem& item : items) {
        if (!item.changed)
            continue;
        if (item.failed) {
            eventSink->onUploadBegins("Error " + item.path, 0);
            continue;
        }
        // A file edited after the scan keeps its mark: the edit has not necessarily gone up.
        if (strategy == 1 && fileAttributes != nullptr && !item.deleted && unchangedSinceScan(item))
            (void)fileAttributes->clearArchive(item.path);
        eventSink->onUploadBegins("OK " + item.path, 0);
        item.changed = false;
    }
    WriteFileList();
}
