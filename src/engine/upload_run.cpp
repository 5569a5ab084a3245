#include "engine/web_project.h"

#include "connect/session_factory.h"
#include "connect/site_password.h"
#include "engine/command_lines.h"
#include "engine/content_digest.h"
#include "engine/site_run.h"
#include "engine/upload_resume.h"
#include "engine/upload_script.h"
#include "platform/ascii_case.h"
#include "platform/file_attributes.h"
#include "platform/file_utils.h"
#include "script/interpreter.h"
#include "session/remote_entry.h"
#include "session/remote_session.h"
#include "session/upload_names.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>

namespace {

bool isSuccess(int code)
{
    return code >= 200 && code <= 299;
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

// The folder `path` names a file or folder in; empty for a bare name.
std::string parentFolder(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Deleting is a round trip per file; a folder of a million versions is trimmed over several
// runs rather than holding one run for an hour.
constexpr size_t kMaxPrunedPerRun = 500;

} // namespace

RecordedFile sentRecordOf(const FileItem& item)
{
    RecordedFile record = recordOf(item);
    if (record.digest && stampOfFile(item.path) != item.stamp())
        record.digest.reset();
    return record;
}

ClientResult enterFolder(RemoteSession& client, const PendingCommand& folder, const std::string& startdir)
{
    client.eventSink().message("--------------- %s\n", applyStartDirectory(folder.command, startdir).c_str());
    if (folder.remotePath.empty())
        return client.changeDirectory(serverPathAt(startdir, "/"));
    return client.makeDirectory(serverPathAt(startdir, folder.remotePath));
}

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

void WebProject::PruneArchive(RemoteSession& client)
{
    pruneArchiveEntries(client, client.listEntries(archivdir));
}

void WebProject::pruneArchiveEntries(RemoteSession& client, std::vector<RemoteEntry> entries)
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

bool WebProject::moveIntoArchive(RemoteSession& client, const PendingCommand& move, ArchiveFolder& archive)
{
    // A name already in the archive would be overwritten by the rename (most servers allow
    // it): that version would be lost. The name is taken before the move, so a move on
    // another connection cannot choose it meanwhile.
    std::string name;
    {
        std::lock_guard lock(archive.mutex);
        name = uniqueArchiveName(
            move.archiveName, [&archive](const std::string& candidate) { return archive.names.count(candidate) > 0; });
        archive.names.insert(name);
    }
    const std::string target = archivdir + "/" + name;
    if (name != move.archiveName) {
        // The item still names the archive path chosen at scan time; only a renamed move
        // needs the (rare) search.
        for (FileItem& item : items) {
            if (item.path == move.archivedFile) {
                item.archivePath = target;
                break;
            }
        }
    }
    client.eventSink().message("--------------- %s\n", moveLine(move.archiveSource, target).c_str());
    const bool moved = client
                           .renameFile(move.archiveSource, target,
                               move.mayBeAbsent ? MissingSource::MayBeAbsent : MissingSource::IsAnError)
                           .ok();
    std::lock_guard lock(archive.mutex);
    if (moved) {
        RemoteEntry entry;
        entry.name = name;
        entry.fileName = name;
        archive.entries.push_back(std::move(entry));
    } else {
        archive.names.erase(name);
    }
    return moved;
}

void WebProject::runQueuedCommands(RemoteSession& client, SiteRun& run, const std::vector<PendingCommand>& queued)
{
    std::vector<const PendingCommand*> folders; // to make
    std::vector<const PendingCommand*> roots; // cd "/": this connection's folder only
    std::vector<FileUnit> files;
    int lastFolder = -1;
    // Folders before any file that goes into them; a line of another kind keeps its place
    // between the files queued before and after it.
    const auto sendStretch = [&] {
        for (const PendingCommand* root : roots)
            runLine(client, run, *root);
        sendFiles(client, run, folders, files);
        folders.clear();
        roots.clear();
        files.clear();
        lastFolder = -1;
    };
    for (size_t index = 0; index < queued.size(); ++index) {
        const PendingCommand& pending = queued[index];
        switch (pending.kind) {
        case PendingCommand::Kind::EnterFolder:
            if (pending.remotePath.empty()) {
                roots.push_back(&pending);
                lastFolder = -1;
            } else {
                lastFolder = static_cast<int>(folders.size());
                folders.push_back(&pending);
            }
            continue;
        case PendingCommand::Kind::Put: files.push_back({ nullptr, &pending, lastFolder }); continue;
        case PendingCommand::Kind::ArchiveMove:
            if (index + 1 < queued.size() && queued[index + 1].kind == PendingCommand::Kind::Put
                && queued[index + 1].localPath == pending.archivedFile) {
                files.push_back({ &pending, &queued[index + 1], lastFolder });
                ++index;
                continue;
            }
            break;
        case PendingCommand::Kind::Move:
        case PendingCommand::Kind::Line: break;
        }
        sendStretch();
        runLine(client, run, pending);
    }
    sendStretch();
}

void WebProject::runLine(RemoteSession& client, SiteRun& run, const PendingCommand& pending)
{
    if (!canSend(client, cancelRequested)) {
        settleFile(run, pending.localPath, notTried());
        return;
    }
    if (pending.kind == PendingCommand::Kind::Move) {
        moveOnServer(client, run, pending);
        return;
    }
    run.transcript.writeLine(pending.command);
    if (pending.kind == PendingCommand::Kind::ArchiveMove) {
        // A file new on the server has nothing to archive: a refused move is normal.
        (void)moveIntoArchive(client, pending, run.archive);
        return;
    }
    if (pending.kind == PendingCommand::Kind::EnterFolder) {
        makeFolder(client, run, pending);
        return;
    }
    const int code = runScriptLine(client, applyStartDirectory(pending.command, run.site.startdir));
    const bool done = (isSuccess(code) || pending.localPath.empty()) && code != RemoteSession::kTransferNotCarriedOut;
    settleFile(
        run, pending.localPath, done ? ClientResult::success(code) : ClientResult::failed(Failure::RetryItem, code));
}

void WebProject::moveOnServer(RemoteSession& client, SiteRun& run, const PendingCommand& move)
{
    const std::string source = serverPathAt(run.site.startdir, move.movedFrom);
    const std::string target = serverPathAt(run.site.startdir, move.remotePath);
    client.eventSink().message("--------------- %s\n", moveLine(source, target).c_str());
    if (client.renameFile(source, target).ok()) {
        run.transcript.writeLine(move.command);
        run.movedAway.insert(move.movedFromFile);
        run.record.confirmDeletion(run.siteNumber, move.movedFromFile);
        if (const auto found = run.itemsByPath.find(move.localPath); found != run.itemsByPath.end())
            run.record.confirmUpload(run.siteNumber, move.localPath, sentRecordOf(*found->second));
        ++run.outcome.uploaded;
        noteOutcome({ StepOutcome::Kind::Moved, run.siteNumber, move.localPath, move.movedFromFile });
        return;
    }
    // The old copy is not where the record says (removed by hand, or a server that cannot
    // rename): the file is sent, and the old copy goes with the deletions.
    run.transcript.writeLine(putLine(move.localPath, move.remotePath));
    settleFile(run, move.localPath, sendFile(client, run, { nullptr, &move, -1 }));
}

void WebProject::writeTranscript(SiteRun& run, const FileUnit& file)
{
    std::lock_guard lock(run.mutex);
    if (file.move != nullptr)
        run.transcript.writeLine(file.move->command);
    run.transcript.writeLine(file.put->command);
}

void WebProject::makeFolder(RemoteSession& client, SiteRun& run, const PendingCommand& folder)
{
    if (enterFolder(client, folder, run.site.startdir).ok() && !folder.remotePath.empty())
        run.madeFolders.insert(serverPathAt(run.site.startdir, folder.remotePath));
}

bool WebProject::intoMadeFolder(const SiteRun& run, const FileUnit& file)
{
    return run.madeFolders.contains(directoryPart(serverPathAt(run.site.startdir, file.put->remotePath)));
}

namespace {

// A file in a folder this run has just made has no live version to protect, nor one to
// archive: it goes straight to its name, which spares the server the rename's commands. What
// a broken upload leaves there is a file nobody had before, which the next run replaces
// through a part; a large file keeps its part all the same, for a broken upload to continue.
bool goesStraightToItsName(const RemoteSession& client, const std::string& localPath)
{
    return client.atomicUploads() && !client.startsUploadsEarly() && fileSize(localPath) < kResumeFromSize;
}

} // namespace

ClientResult WebProject::sendFile(RemoteSession& client, SiteRun& run, const FileUnit& file, bool intoNewFolder)
{
    const std::string remote = serverPathAt(run.site.startdir, file.put->remotePath);
    client.eventSink().message("--------------- %s\n", putLine(file.put->localPath, remote).c_str());
    if (intoNewFolder && goesStraightToItsName(client, file.put->localPath)) {
        client.setAtomicUploads(false);
        const ClientResult result = client.uploadWithRetry(remote, file.put->localPath, TransferMode::Image, -1);
        client.setAtomicUploads(true); // as it was: goesStraightToItsName() asked for it
        return result;
    }
    // Moved only once its replacement is whole on the server: the live name is never empty
    // while the new version travels, and a failed upload leaves the old one in place.
    if (file.move != nullptr)
        client.setBeforeReplace([this, &client, &run, &file] {
            if (!moveIntoArchive(client, *file.move, run.archive))
                return;
            const auto item = run.itemsByPath.find(file.move->archivedFile);
            noteOutcome({ StepOutcome::Kind::Archived, run.siteNumber, file.move->archiveSource,
                item != run.itemsByPath.end() ? item->second->archivePath : std::string() });
        });
    const bool resume = run.site.atomic && beginUpload(run, file.put->localPath);
    const ClientResult result = resume ? client.resumeUpload(remote, file.put->localPath)
                                       : client.uploadWithRetry(remote, file.put->localPath, TransferMode::Image, -1);
    // Only this put may take that move.
    client.setBeforeReplace({});
    return result;
}

void WebProject::expectFile(RemoteSession& client, SiteRun& run, const FileUnit& file)
{
    if (!client.startsUploadsEarly())
        return;
    // Its part may be on the server from now on, and a run cut short must find it. What an
    // earlier run noted of its own begin stays: it tells whether that part can be continued.
    if (run.site.atomic && !run.record.begunAs(run.siteNumber, file.put->localPath))
        run.record.noteBegun(run.siteNumber, file.put->localPath, nullptr);
    client.expectUpload(serverPathAt(run.site.startdir, file.put->remotePath), file.put->localPath);
}

bool WebProject::beginUpload(SiteRun& run, const std::string& localPath)
{
    // Decided before this begin is noted: the note replaces what the last one recorded.
    const std::optional<FileStamp> stamp = stampOfFile(localPath);
    const bool resume = stamp && mayResume(run.record.begunAs(run.siteNumber, localPath), *stamp);
    const std::optional<RecordedFile> asBegun = stamp ? std::optional(begunRecordOf(*stamp)) : std::nullopt;
    run.record.noteBegun(run.siteNumber, localPath, asBegun ? &*asBegun : nullptr);
    return resume;
}

void WebProject::sendInTurn(RemoteSession& client, SiteRun& run, const FileUnit& file, bool intoNewFolder)
{
    ClientResult result = notTried();
    if (canSend(client, cancelRequested)) {
        writeTranscript(run, file);
        result = sendFile(client, run, file, intoNewFolder);
    }
    settleFile(run, file.put->localPath, result);
}

ClientResult WebProject::notTried() const
{
    return ClientResult::failed(cancelRequested ? Failure::GiveUpSite : Failure::Reconnect);
}

namespace {

// Why a step failed, in words, from what the session answered; the server's own words once.
std::string failureText(const ClientResult& result, bool stopped)
{
    if (stopped)
        return "the run was stopped";
    const std::string server = result.serverText.empty() ? std::string() : ": " + result.serverText;
    if (result.failure == Failure::Reconnect || result.failure == Failure::GiveUpSite)
        return "the connection to the server was lost" + server;
    // The session's local errors are about the file being read.
    switch (result.systemError) {
    case 0: break;
    case ENOENT: return "vanished before it was sent";
    case EAGAIN: return "changed while it was being sent; the next run sends it";
    default: return "cannot be read: " + errorWords(result.systemError);
    }
    // The codes FTP gives a full disk (452) and an exhausted quota (552).
    if (const int refused = result.refusalCode(); refused == 452 || refused == 552)
        return "the server has no room for it" + server;
    if (!server.empty())
        return "the server refused it" + server;
    if (result.code == RemoteSession::kTransferNotCarriedOut)
        return "the server did not take it whole";
    if (result.code >= 100)
        return "the server refused it (" + std::to_string(result.code) + ")";
    return "the server refused it";
}

} // namespace

void WebProject::noteOutcome(StepOutcome outcome)
{
    std::lock_guard lock(outcomesMutex_);
    if (outcomeHeard)
        outcomeHeard(outcome);
    stepOutcomes.push_back(std::move(outcome));
}

void WebProject::settleFile(SiteRun& run, const std::string& localPath, const ClientResult& result)
{
    if (!result.ok()) {
        // A line that sends no file fails nothing.
        if (!localPath.empty()) {
            MarkFailed(localPath);
            ++run.outcome.failed;
            noteOutcome({ StepOutcome::Kind::Failed, run.siteNumber, localPath,
                failureText(result, cancelRequested && result.failure != Failure::RetryItem) });
        }
    } else if (auto found = run.itemsByPath.find(localPath); found != run.itemsByPath.end()) {
        const FileItem& item = *found->second;
        run.record.confirmUpload(run.siteNumber, item.path, sentRecordOf(item));
        ++run.outcome.uploaded;
        noteOutcome({ StepOutcome::Kind::Uploaded, run.siteNumber, localPath, {} });
    }
}

void WebProject::sendFiles(RemoteSession& client, SiteRun& run, const std::vector<const PendingCommand*>& folders,
    const std::vector<FileUnit>& files)
{
    // A relative server path means the folder a script's cd chose, which only this
    // connection has seen.
    const bool relative = std::any_of(files.begin(), files.end(), [&run](const FileUnit& file) {
        return !serverPathAt(run.site.startdir, file.put->remotePath).starts_with('/');
    });
    client.setPassiveAhead(files.size() > 1);
    if (files.size() > 1 && run.connectionLimit > 1 && !relative) {
        sendFilesInParallel(client, run, folders, files);
    } else {
        for (const PendingCommand* folder : folders)
            runLine(client, run, *folder);
        for (size_t index = 0; index < files.size(); ++index) {
            if (index + 1 < files.size())
                expectFile(client, run, files[index + 1]);
            sendInTurn(client, run, files[index], intoMadeFolder(run, files[index]));
        }
    }
    client.setPassiveAhead(false);
    client.expectUpload({}, {});
}

std::string WebProject::trustStorePath() const
{
    return (dataDirectory.empty() ? getDataDirectory() : dataDirectory) + "trusted-certs.txt";
}

std::vector<WebProject::RunFault> WebProject::run(const RunHooks& hooks)
{
    std::vector<RunFault> faults;
    const auto guarded = [&faults](const char* stage, const std::function<void()>& step) {
        try {
            step();
        } catch (const std::exception& error) {
            faults.push_back({ stage, error.what() });
        } catch (...) {
            faults.push_back({ stage, "unknown exception" });
        }
    };
    guarded("upload", [&] {
        Scan();
        if (hooks.scanned)
            hooks.scanned();
        RunUpload();
    });
    // Whatever the interrupted steps had not sent yet must not be recorded as sent.
    if (!faults.empty())
        MarkAllFailed();
    if (hooks.sent)
        hooks.sent();
    guarded("finish", [&] { FinishRun(); });
    detectionDone = false;
    return faults;
}

void WebProject::RunUpload()
{
    detectionDone = false;
    reportRowsAppended = false;
    unreachableSites = 0;
    siteOutcomes.clear();
    stepOutcomes.clear();
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
    SessionFactory factory(
        machineOptions != nullptr ? *machineOptions : defaults, std::chrono::milliseconds(clientBudgetMilliseconds));
    const std::function<std::unique_ptr<RemoteSession>(const std::string&)> makeSession
        = sessionMaker ? sessionMaker : [&factory](const std::string& url) { return factory.make(url); };

    // Each confirmation goes to the journal as it arrives, so a run killed at any point has
    // lost only what was in flight.
    if (const std::string path = journalPath(); !record.beginRun(path, static_cast<int>(sites.size()))) {
        // Whatever went up now could never be recorded: every later run would send it again.
        reportRunError("cannot write " + path + ": " + errorText(errno) + "; nothing was sent");
        MarkAllFailed();
        return;
    }
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
        UploadScript transcript(temp, siteNumber);
        ArchiveFolder archive;
        const SitePassword password = passwordFor(site);
        if (!password.problem.empty()) {
            failSiteWithoutLogin(
                site, siteOutcomes[static_cast<size_t>(siteNumber - 1)], itemsByPath.size(), password.problem);
            transcript.finish();
            continue;
        }
        SiteRun run { makeSession, site, password.password.text(), siteNumber, transcript, archive, record, itemsByPath,
            siteOutcomes[static_cast<size_t>(siteNumber - 1)],
            std::clamp(site.connections, FtpSite::kMinConnections, FtpSite::kMaxConnections) };
        run.rateLimiter = rateLimiterFor(site);
        serveSite(run);
        transcript.finish();
    }
    currentSite = 0;
    factory.hangUpIfDialed();
    record.endRun();
}

std::unique_ptr<RemoteSession> WebProject::newSession(SiteRun& run, FtpEventSink& sink)
{
    std::unique_ptr<RemoteSession> session = run.makeSession(run.site.url);
    prepareSession(*session, run.site, sink);
    session->setRateLimiter(run.rateLimiter);
    return session;
}

std::shared_ptr<RateLimiter> WebProject::rateLimiterFor(const FtpSite& site) const
{
    const int64_t limit = uploadRateLimitOverride.value_or(site.uploadRateLimit);
    return limit > 0 ? std::make_shared<RateLimiter>(limit) : nullptr;
}

void WebProject::prepareSession(RemoteSession& session, const FtpSite& site, FtpEventSink& sink)
{
    session.setEventSink(&sink);
    session.setStopSignal(&stopSignal);
    session.setTrustedCertificatesPath(trustStorePath());
    session.setKeyFile(site.keyfile);
    session.setAtomicUploads(site.atomic);
}

void WebProject::serveSite(SiteRun& run)
{
    std::unique_ptr<RemoteSession> client = newSession(run, *eventSink);
    if (!client->connect(run.site.url, run.site.user, run.password).ok()) {
        ++unreachableSites;
        MarkAllFailed();
        run.outcome.failed = static_cast<int>(run.itemsByPath.size());
        // The local report still tells of this run; no server can take it.
        if (!htmlreport.empty())
            (void)ReportHTML(run.site.startdir);
        return;
    }
    serveConnectedSite(*client, run, planSite(run.site));
}

SitePassword WebProject::passwordFor(const FtpSite& site)
{
    return sitePassword(site, passwordProjectName(projectPath), projectPath, passwordStore);
}

void WebProject::failSiteWithoutLogin(
    const FtpSite& site, SiteOutcome& outcome, size_t files, const std::string& problem)
{
    ++unreachableSites;
    MarkAllFailed();
    outcome.failed = static_cast<int>(files);
    FtpEventSink& sink = eventSink ? *eventSink : *this;
    sink.onProblem(problem);
    sink.message("Error %s\n", problem.c_str());
    if (!htmlreport.empty())
        (void)ReportHTML(site.startdir);
}

void WebProject::serveConnectedSite(RemoteSession& client, SiteRun& run, const SitePlan& plan)
{
    executePlan(client, run, plan);
    client.quit();
}

void WebProject::executePlan(RemoteSession& client, SiteRun& run, const SitePlan& plan)
{
    const FtpSite& site = run.site;
    prepareSiteFolders(client, plan, run);
    if (plan.beforeScript != nullptr)
        runSiteScript(client, *plan.beforeScript);
    if (plan.queued != nullptr)
        runQueuedCommands(client, run, *plan.queued);
    removeDeletedFiles(client, plan, run.archive, run.movedAway, [this, &run, &plan](const FileItem& item, bool done) {
        if (done)
            run.record.confirmDeletion(run.siteNumber, item.path);
        ++(done ? run.outcome.deleted : run.outcome.failed);
        if (!done)
            noteOutcome({ StepOutcome::Kind::Failed, run.siteNumber, item.path,
                cancelRequested ? "the run was stopped" : "the server copy could not be removed" });
        else if (plan.archiveDeletions)
            noteOutcome({ StepOutcome::Kind::Archived, run.siteNumber, item.path, item.archivePath });
        else
            noteOutcome({ StepOutcome::Kind::Deleted, run.siteNumber, item.path, {} });
    });
    for (const SitePlan::LeftoverPart& part : plan.leftoverParts) {
        if (!canSend(client, cancelRequested))
            break;
        client.eventSink().message("--------------- dele %s\n", quotedArgument(part.serverPath).c_str());
        // Refused or not there: either way no part of that upload is left to remove.
        if (client.deleteFile(part.serverPath).failure != Failure::Reconnect && !client.isBroken())
            run.record.confirmPartRemoved(run.siteNumber, part.localPath);
    }
    for (const std::string& folder : plan.emptiedFolders) {
        if (!canSend(client, cancelRequested))
            break;
        client.eventSink().message("--------------- rmdir %s\n", quotedArgument(folder).c_str());
        (void)client.removeDirectory(folder);
    }
    if (plan.afterScript != nullptr)
        runSiteScript(client, *plan.afterScript);

    if (!plan.report.empty()) {
        const std::string reportPath = ReportHTML(site.startdir);
        client.eventSink().message("--------------- %s\n", putLine(reportPath, plan.report).c_str());
        (void)client.uploadWithRetry(plan.report, reportPath, TransferMode::Image, -1);
    }
    if (plan.pruneKeep >= 0) {
        if (run.archive.listed)
            pruneArchiveEntries(client, std::move(run.archive.entries));
        else
            PruneArchive(client);
    }
}

std::vector<WebProject::StepOutcome> WebProject::carryOut(RemoteSession& client, const SitePlan& plan,
    const FtpSite& site, const std::function<std::unique_ptr<RemoteSession>(const std::string&)>& makeSession)
{
    stepOutcomes.clear();
    std::unordered_map<std::string_view, const FileItem*> itemsByPath;
    for (const FileItem& item : items)
        if (item.changed && !item.deleted)
            itemsByPath.emplace(item.path, &item);
    UploadScript noTranscript({}, 1);
    ArchiveFolder archive;
    SiteOutcome outcome;
    // More connections only where they can be made: the caller's session may be the only one
    // whose login is known.
    const int connections
        = makeSession ? std::clamp(site.connections, FtpSite::kMinConnections, FtpSite::kMaxConnections) : 1;
    // Without its password no further connection could log in; the caller's one serves alone.
    const SitePassword password = passwordFor(site);
    SiteRun run { makeSession, site, password.password.text(), 1, noTranscript, archive, record, itemsByPath, outcome,
        password.problem.empty() ? connections : 1 };
    run.rateLimiter = rateLimiterFor(site);
    client.setRateLimiter(run.rateLimiter);
    executePlan(client, run, plan);
    client.setRateLimiter(nullptr);
    return stepOutcomes;
}

void WebProject::prepareSiteFolders(RemoteSession& client, const SitePlan& plan, SiteRun& run)
{
    ArchiveFolder& archive = run.archive;
    for (const std::string& folder : plan.folders)
        if (client.makeDirectory(folder).ok())
            run.madeFolders.insert(folder);
    if (plan.listArchive) {
        archive.entries = client.listEntries(archivdir);
        for (const RemoteEntry& entry : archive.entries)
            archive.names.insert(entry.fileName);
        archive.listed = true;
    }
}

void WebProject::runSiteScript(RemoteSession& client, const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        if (client.isBroken())
            break;
        (void)runScriptLine(client, line);
    }
}

std::optional<WebProject::DeletedTarget> WebProject::deletedTarget(
    const FileItem& item, const std::string& startdir) const
{
    const size_t slash = item.path.rfind('/');
    if (slash == std::string::npos)
        return std::nullopt;
    const std::string folder = item.path.substr(0, slash);
    if (!startsWithIgnoringCase(folder, local))
        return std::nullopt;
    std::string relativeFolder = folder.substr(local.size());
    if (!relativeFolder.empty() && relativeFolder.front() != '/' && !local.ends_with('/'))
        return std::nullopt;
    // The upload put the file below the project's remote folder; its deletion goes there too.
    DeletedTarget target { remote, item.path.substr(slash + 1), {} };
    if (!relativeFolder.empty() && relativeFolder.front() != '/')
        target.serverDir += '/';
    target.serverDir += relativeFolder;
    // Named from the root, as the rewritten put lines name it: a relative name would resolve
    // against whatever folder the last "cd" chose.
    target.serverPath = startdir.empty() || startdir.front() == '/' ? startdir : "/" + startdir;
    target.serverPath += target.serverDir + "/" + target.fileName;
    return target;
}

void WebProject::removeDeletedFiles(RemoteSession& client, const SitePlan& plan, ArchiveFolder& archive,
    const std::set<std::string>& movedAway, const std::function<void(const FileItem&, bool)>& settled)
{
    for (const SitePlan::Deletion& deletion : plan.deletions) {
        FileItem& item = *deletion.item;
        if (movedAway.contains(item.path))
            continue;
        // A deletion not even tried is not done: the record keeps the file for the next run.
        if (client.timedOut() || cancelRequested || client.isBroken()) {
            item.failed = true;
            settled(item, false);
            continue;
        }
        bool done;
        std::string gonePath;
        if (!plan.archiveDeletions) {
            gonePath = deletion.target.serverPath;
            client.eventSink().message("--------------- dele %s\n", quotedArgument(gonePath).c_str());
            done = client.deleteFile(gonePath).ok();
        } else {
            // The move line puts the start directory in front by itself.
            PendingCommand move = archiveMoveCommand(deletion.target.fileName, deletion.target.serverDir, item);
            done = moveIntoArchive(client, move, archive);
            gonePath = move.archiveSource;
        }
        // A file someone already removed from the server is as good as deleted; only a file
        // known to be there still has to go.
        if (!done && !client.isBroken() && client.remoteFileExists(gonePath) == false)
            done = true;
        if (!done)
            item.failed = true;
        settled(item, done);
    }
}

std::vector<WebProject::SitePlan::LeftoverPart> WebProject::leftoverParts(const FtpSite& site) const
{
    std::vector<SitePlan::LeftoverPart> parts;
    if (!site.atomic || record.unfinishedUploads().empty() || sites.empty())
        return parts;
    const int number = static_cast<int>(&site - sites.data()) + 1;
    if (number < 1 || number > static_cast<int>(sites.size()))
        return parts;
    std::unordered_set<std::string_view> sentAgain; // their puts take the part over
    for (const PendingCommand& pending : pendingCommands)
        if (pending.kind == PendingCommand::Kind::Put)
            sentAgain.insert(pending.localPath);
    for (const auto& [where, localPath] : record.unfinishedUploads()) {
        if (where != number || sentAgain.contains(localPath))
            continue;
        FileItem item;
        item.path = localPath;
        if (std::optional<DeletedTarget> target = deletedTarget(item, site.startdir))
            parts.push_back({ localPath, uploadPartName(target->serverPath) });
    }
    return parts;
}

std::vector<std::string> WebProject::emptiedFolders(const SitePlan& plan) const
{
    std::set<std::pair<size_t, std::string>, std::greater<>> byDepth; // deepest first
    for (const SitePlan::Deletion& deletion : plan.deletions) {
        std::string localFolder = parentFolder(deletion.item->path);
        std::string serverFolder = parentFolder(deletion.target.serverPath);
        // Up to, never including, the local folder itself; only folders that are gone here.
        struct stat info { };
        while (localFolder.size() > local.size() && localFolder.starts_with(local) && !serverFolder.empty()
            && ::stat(localFolder.c_str(), &info) != 0 && errno == ENOENT) {
            if (!byDepth.emplace(std::count(serverFolder.begin(), serverFolder.end(), '/'), serverFolder).second)
                break;
            localFolder = parentFolder(localFolder);
            serverFolder = parentFolder(serverFolder);
        }
    }
    std::vector<std::string> folders;
    for (auto& [depth, folder] : byDepth)
        folders.push_back(folder);
    return folders;
}

WebProject::SitePlan WebProject::planSite(const FtpSite& site)
{
    SitePlan plan;
    if (!archivdir.empty())
        plan.folders.push_back(archivdir);
    if (!remote.empty())
        plan.folders.push_back(remote);
    plan.queued = &pendingCommands;
    plan.beforeScript = &site.preScript;
    plan.afterScript = &site.postScript;
    // Held back deletions stay on the server and in the record.
    if (deleteRemoved == 1 && !deletionsHeld) {
        for (FileItem& item : items) {
            if (!item.deleted)
                continue;
            if (std::optional<DeletedTarget> target = deletedTarget(item, site.startdir))
                plan.deletions.push_back({ &item, std::move(*target) });
        }
    }
    plan.archiveDeletions = !archivdir.empty();
    plan.emptiedFolders = emptiedFolders(plan);
    plan.leftoverParts = leftoverParts(site);
    plan.listArchive = !archivdir.empty()
        && (!plan.deletions.empty()
            || std::any_of(pendingCommands.begin(), pendingCommands.end(),
                [](const PendingCommand& command) { return command.kind == PendingCommand::Kind::ArchiveMove; }));
    plan.report = htmlreport;
    if (!archivdir.empty())
        plan.pruneKeep = std::max(archmax, 0);
    return plan;
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
        if (item.digest && !item.deleted)
            item.digest = sentRecordOf(item).digest;
        // A file edited after the scan keeps its mark: the edit has not necessarily gone up.
        if (strategy == 1 && fileAttributes != nullptr && !item.deleted && stillAsScanned(item))
            (void)fileAttributes->clearArchive(item.path);
        eventSink->onUploadBegins("OK " + item.path, 0);
        item.changed = false;
    }
    WriteFileList();
}
