#include "engine/web_project.h"

#include "engine/command_lines.h"
#include "engine/run_journal.h"
#include "engine/upload_script.h"
#include "ftp/ftp_client.h"
#include "ftp/remote_entry.h"
#include "platform/ascii_case.h"
#include "platform/file_attributes.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <sys/stat.h>
#include <unordered_map>

namespace {

bool isSuccess(int code)
{
    return code >= 200 && code <= 299;
}

// The file still is what the scan saw: same size and modification time.
bool unchangedSinceScan(const FileItem& item)
{
    struct stat info { };
    return ::stat(item.path.c_str(), &info) == 0 && static_cast<int64_t>(info.st_mtim.tv_sec) == item.mtime
        && static_cast<int32_t>(info.st_mtim.tv_nsec) == item.mtimeNanoseconds
        && static_cast<int64_t>(info.st_size) == item.size;
}

// A name from a server listing that may be put after a folder in a command: never one that
// climbs out of the folder, names another one, or carries control bytes into the command.
bool isSafeEntryName(std::string_view name)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos)
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7f)
            return false;
    return true;
}

// Deleting is a round trip per file; a folder of a million versions is trimmed over several
// runs rather than holding one run for an hour.
constexpr size_t kMaxPrunedPerRun = 500;

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
    pruneArchiveEntries(client, client.listEntries(archivdir));
}

void WebProject::pruneArchiveEntries(FtpClient& client, std::vector<RemoteEntry> entries)
{
    const size_t keep = static_cast<size_t>(std::max(archmax, 0));
    if (entries.size() <= keep)
        return;
    // The stamp in the name tells the age of a version; a server's listing often knows only the
    // minute, and a copy made by hand may carry any time. Names without a stamp fall back to
    // the server's time.
    std::vector<std::pair<int64_t, const RemoteEntry*>> byAge;
    byAge.reserve(entries.size());
    for (const RemoteEntry& entry : entries)
        byAge.emplace_back(archiveStampTime(entry.fileName).value_or(entry.modificationTime), &entry);
    std::stable_sort(byAge.begin(), byAge.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    size_t pruned = 0;
    for (size_t index = keep; index < byAge.size() && pruned < kMaxPrunedPerRun; ++index) {
        const std::string& name = byAge[index].second->fileName;
        if (!isSafeEntryName(name))
            continue;
        if (cancelRequested || client.isBroken() || client.timedOut())
            break;
        (void)client.deleteFile(archivdir + "/" + name);
        ++pruned;
    }
}

bool WebProject::moveIntoArchive(FtpClient& client, const PendingCommand& move, ArchiveFolder& archive)
{
    // A name already in the archive would be overwritten by the rename (most servers allow
    // it): that version would be lost.
    std::string name = uniqueArchiveName(
        move.archiveName, [&archive](const std::string& candidate) { return archive.names.count(candidate) > 0; });
    std::string line = move.command;
    if (name != move.archiveName) {
        line = moveLine(move.archiveSource, archivdir + "/" + name);
        // The item still names the archive path chosen at scan time; only a renamed move
        // needs the (rare) search.
        for (FileItem& item : items) {
            if (item.path == move.archivedFile) {
                item.archivePath = archivdir + "/" + name;
                break;
            }
        }
    }
    bool moved = isSuccess(client.runScriptLine(line));
    if (moved) {
        archive.names.insert(name);
        RemoteEntry entry;
        entry.name = name;
        entry.fileName = name;
        archive.entries.push_back(std::move(entry));
    }
    return moved;
}

void WebProject::RunUpload()
{
    detectionDone = false;
    reportRowsAppended = false;
    unreachableSites = 0;
    siteOutcomes.clear();
    if (!changesPending)
        return;
    if (sites.empty()) {
        // Nothing went anywhere: reporting the files as sent would record them.
        reportRunError("no FTP site ([site]) in " + (projectPath.empty() ? std::string("the project") : projectPath)
            + ": nothing uploaded");
        MarkAllFailed();
        return;
    }

    const MachineOptions defaults;
    FtpClient client(
        machineOptions != nullptr ? *machineOptions : defaults, std::chrono::milliseconds(clientBudgetMilliseconds));
    client.setEventSink(eventSink);
    client.setStopSignal(&stopSignal);
    const auto broken = [&client] { return client.isBroken(); };
    const bool movesPending = !archivdir.empty()
        && (std::any_of(pendingCommands.begin(), pendingCommands.end(),
                [](const PendingCommand& command) { return !command.archiveName.empty(); })
            || (deleteRemoved == 1
                && std::any_of(items.begin(), items.end(), [](const FileItem& item) { return item.deleted; })));

    // Each confirmation goes to the journal as it arrives, so a run killed at any point has
    // lost only what was in flight.
    RunJournal journal;
    if (const std::string path = journalPath(); !path.empty() && !journal.open(path, static_cast<int>(sites.size())))
        eventSink->message(
            "Warning the journal %s cannot be written: a run killed now would send its files again\n", path.c_str());
    std::unordered_map<std::string_view, const FileItem*> itemsByPath;
    for (const FileItem& item : items)
        if (item.changed)
            itemsByPath.emplace(item.path, &item);

    siteOutcomes.assign(sites.size(), SiteOutcome {});
    int siteNumber = 0;
    for (const FtpSite& site : sites) {
        ++siteNumber;
        currentSite = siteNumber;
        if (cancelRequested) {
            // Not confirmed by this site means not done.
            MarkAllFailed();
            for (size_t rest = static_cast<size_t>(siteNumber - 1); rest < siteOutcomes.size(); ++rest)
                siteOutcomes[rest].failed = static_cast<int>(itemsByPath.size());
            break;
        }
        SiteOutcome& outcome = siteOutcomes[static_cast<size_t>(siteNumber - 1)];
        UploadScript transcript(temp, siteNumber);
        ArchiveFolder archive;

        const bool connected = client.connect(site.url, site.user, site.pass);
        client.setAtomicUploads(site.atomic);
        if (!connected) {
            ++unreachableSites;
            MarkAllFailed();
            outcome.failed = static_cast<int>(itemsByPath.size());
        } else {
            if (!archivdir.empty())
                (void)client.makeDirectory(quotedArgument(archivdir));
            if (!remote.empty())
                (void)client.makeDirectory(quotedArgument(remote));
            if (movesPending) {
                archive.entries = client.listEntries(archivdir);
                for (const RemoteEntry& entry : archive.entries)
                    archive.names.insert(entry.fileName);
                archive.listed = true;
            }

            for (const std::string& line : site.preScript) {
                if (broken())
                    break;
                (void)client.runScriptLine(line);
            }

            for (size_t index = 0; index < pendingCommands.size(); ++index) {
                const PendingCommand& pending = pendingCommands[index];
                if (client.timedOut() || cancelRequested || broken()) {
                    client.setBeforeReplace({});
                    MarkFailed(pending.localPath);
                    outcome.failed += pending.localPath.empty() ? 0 : 1;
                    continue;
                }
                transcript.writeLine(pending.command);
                if (!pending.archiveName.empty()) {
                    // Moved only once its replacement is whole on the server: the live name is
                    // never empty while the new version travels, and a failed upload leaves
                    // the old one in place. A file new on the server has nothing to archive:
                    // a refused move is normal.
                    const bool replacedNext = index + 1 < pendingCommands.size()
                        && pendingCommands[index + 1].localPath == pending.archivedFile;
                    if (replacedNext)
                        client.setBeforeReplace([&] { (void)moveIntoArchive(client, pending, archive); });
                    else
                        (void)moveIntoArchive(client, pending, archive);
                    continue;
                }
                const std::string line
                    = site.startdir.empty() ? pending.command : applyStartDirectory(pending.command, site.startdir);
                const int code = client.runScriptLine(line);
                // Only the put right after its archive move may take that move.
                client.setBeforeReplace({});
                if ((!isSuccess(code) && !pending.localPath.empty()) || code == FtpClient::kTransferNotCarriedOut) {
                    MarkFailed(pending.localPath);
                    if (!pending.localPath.empty())
                        ++outcome.failed;
                } else if (auto found = itemsByPath.find(pending.localPath); found != itemsByPath.end()) {
                    const FileItem& item = *found->second;
                    journal.recordUpload(siteNumber, item.path, { item.mtime, item.mtimeNanoseconds, item.size });
                    ++outcome.uploaded;
                }
            }

            if (deleteRemoved == 1 && !deletionsHeld)
                removeDeletedFiles(client, site, archive, [&](const FileItem& item, bool done) {
                    if (done)
                        journal.recordDeletion(siteNumber, item.path);
                    ++(done ? outcome.deleted : outcome.failed);
                });

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
        if (!archivdir.empty()) {
            if (archive.listed)
                pruneArchiveEntries(client, std::move(archive.entries));
            else
                PruneArchive(client);
        }
        (void)client.quit();
        transcript.finish();
    }
    currentSite = 0;
    client.hangUpIfDialed();
    journal.close();
}

void WebProject::removeDeletedFiles(FtpClient& client, const FtpSite& site, ArchiveFolder& archive,
    const std::function<void(const FileItem&, bool)>& settled)
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
        // A deletion not even tried is not done: the record keeps the file for the next run.
        if (client.timedOut() || cancelRequested || client.isBroken()) {
            item.failed = true;
            if (settled)
                settled(item, false);
            continue;
        }
        // The upload put the file below the project's remote folder; its deletion goes there too.
        std::string serverDir = remote;
        if (!relativeFolder.empty() && relativeFolder.front() != '/')
            serverDir += '/';
        serverDir += relativeFolder;

        // The start directory is named from the root, as the rewritten put lines name it: a
        // relative name would resolve against whatever folder the last "cd" chose.
        std::string serverFolder = site.startdir.empty() || site.startdir.front() == '/'
            ? site.startdir + serverDir
            : "/" + site.startdir + serverDir;
        bool done;
        std::string gonePath;
        if (archivdir.empty()) {
            done = isSuccess(client.runScriptLine(deleteLine(serverFolder, fileName)));
            gonePath = serverFolder + "/" + fileName;
        } else {
            // The move line puts the start directory in front by itself.
            PendingCommand move = archiveMoveCommand(fileName, serverDir, item);
            done = moveIntoArchive(client, move, archive);
            gonePath = move.archiveSource;
        }
        // A file someone already removed from the server is as good as deleted; only a file
        // known to be there still has to go.
        if (!done && !client.isBroken() && client.remoteFileExists(gonePath) == false)
            done = true;
        if (!done)
            item.failed = true;
        if (settled)
            settled(item, done);
    }
}

void WebProject::FinishRun()
{
    if (scanFailed)
        return;
    // After a stop everything the servers confirmed is recorded; what was not reached is no
    // error of its own (the stop is reported once, with the counts).
    for (FileItem& item : items) {
        if (!item.changed)
            continue;
        // Held-back deletions were reported as one line, not one per file.
        if (item.failed && item.deleted && deletionsHeld)
            continue;
        if (item.failed) {
            if (!cancelRequested)
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
