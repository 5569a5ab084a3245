#pragma once

#include "config/machine_options.h"
#include "config/project_settings.h"
#include "engine/file_item.h"
#include "engine/run_record.h"
#include "platform/stop_signal.h"
#include "session/client_result.h"
#include "session/ftp_event_sink.h"
#include "session/remote_entry.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

class FileAttributes;
class RateLimiter;
class PasswordStore;
class RemoteSession;
struct SitePassword;

// One web project: its stored settings plus the state and operations of its upload engine.
// Until an owner installs another sink, the project reports to itself, doing nothing.
// Only one thread at a time runs the engine operations; cancelRequested may be set from any
// thread.
class WebProject : public ProjectSettings, public FtpEventSink {
public:
    WebProject() = default;
    WebProject(const WebProject&) = delete;
    WebProject& operator=(const WebProject&) = delete;

    // Run state, never stored.
    std::atomic<bool> cancelRequested { false };
    // Raised with cancelRequested: ends the run's waits on the server at once.
    StopSignal stopSignal;
    // From any thread (a signal's, the desktop's Stop button): the run ends within a moment,
    // recording what the servers confirmed.
    void requestCancel()
    {
        cancelRequested = true;
        stopSignal.raise();
    }
    // Before a run or scan starts, never while one is in progress.
    void clearCancel()
    {
        cancelRequested = false;
        stopSignal.clear();
    }
    bool changesPending = false;
    bool detectionDone = false;
    std::string currentStartDir;
    FtpEventSink* eventSink = this;
    std::vector<PendingCommand> pendingCommands;
    std::vector<FileItem> items;
    // The file list, the run's journal and stale archive marks: ReadFileList loads it, a run
    // confirms into it, WriteFileList commits it.
    RunRecord record;
    std::map<std::string, RecordedFile>& timeMap = record.timeMap;
    // What went wrong in the last detection or run that is no single file's failure (no local
    // folder, an unreadable folder, deletions held back); each was reported as an Error line.
    std::vector<std::string> runErrors;
    // The scan could not be trusted: nothing is sent and the file list stays as it is.
    bool scanFailed = false;
    // Too many deletions at once: the deleted items stay recorded and no command deletes them.
    bool deletionsHeld = false;
    // Where a scan needs to look when the kernel's notifications said what changed (watch
    // mode): the files of `folders`, everything below `subtrees`. `busy` files are still
    // being written and wait for a later scan. Every other recorded file counts as unchanged
    // without a look at the disk, so the scan costs the same on a site of any size.
    struct ScanScope {
        std::set<std::string> folders;
        std::set<std::string> subtrees;
        std::set<std::string> busy;
    };
    // Taken by the next Scan() (and so by the next run) alone; empty: a full scan.
    std::optional<ScanScope> nextScanScope;
    // Asked for one run ("--allow-delete-all"): an empty local folder and any share of
    // deletions are taken as meant.
    bool allowDeleteAll = false;
    // Asked for one run ("--bwlimit"): the upload cap of every site in bytes per second, 0 for
    // none, in place of the sites' own.
    std::optional<int64_t> uploadRateLimitOverride;

    // --- Detection (change_detection.cpp, file_list.cpp, command_lines.cpp) ---
    void ClearItems();
    // Reloads timeMap from the file list; an unreadable list leaves it empty (everything
    // counts as changed under the file-list strategy). What the journal of a run that never
    // finished holds as confirmed counts as recorded.
    void ReadFileList();
    // Records every item without changed, failed and deleted marks; then the journal is no
    // longer needed and goes. Does nothing when the file list setting is empty or the scan
    // failed. False when the list could not be written.
    bool WriteFileList();
    // Beside the file list: what the servers confirmed during the last run that did not finish.
    [[nodiscard]] std::string journalPath() const;
    // Where certificates and SSH host keys the user trusted are kept: the data directory.
    [[nodiscard]] std::string trustStorePath() const;
    // Makes a new session for `site` report to `sink`, with the project's stop and trust
    // store and the site's key file and atomic uploads.
    void prepareSession(RemoteSession& session, const FtpSite& site, FtpEventSink& sink);
    // Appends to items and pendingCommands; never empties them.
    void DetectChanges();
    // A fresh look at the local folder against the record: empties items and pendingCommands,
    // reloads the file list and detects the changes. Every run, dry run and rescan starts here.
    void Scan();
    // Returns the archive move line for `fileName` in `serverDir` and sets item.archivePath.
    [[nodiscard]] std::string BuildArchiveMove(
        const std::string& fileName, const std::string& serverDir, FileItem& item) const;
    // The same move as a queued command that knows its parts.
    [[nodiscard]] PendingCommand archiveMoveCommand(
        const std::string& fileName, const std::string& serverDir, FileItem& item) const;

    // --- Report (project_report.cpp) ---
    // Builds this project's report page for one site and returns its path (projectPath +
    // ".html"), which the caller then uploads; the path is returned even when writing failed.
    // On the first call of a run (reportRowsAppended clear) it appends one row per changed or
    // deleted item to projectPath + ".report" and sets reportRowsAppended, so a project with
    // several sites appends its rows once. RunUpload must clear reportRowsAppended when a
    // run starts, and call this after the transfers of each site, once FileItem::failed
    // holds that site's outcome. A failure is reported as "Crash in ReportHTML" through the
    // event sink.
    [[nodiscard]] std::string ReportHTML(const std::string& startDirectory);
    bool reportRowsAppended = false;
    std::string dataDirectory; // report templates; empty: getDataDirectory()

    // --- Run (upload_run.cpp) ---
    // What a sink threw during run(): the stage ("upload" or "finish") and its text.
    struct RunFault {
        const char* stage;
        std::string what;
    };
    // Heard between the stages of run(): once the scan is done (what is queued can be counted;
    // a stop may still come), and once the sending is over, before the outcome is recorded.
    struct RunHooks {
        std::function<void()> scanned;
        std::function<void()> sent;
    };
    // One whole run, the way every front end starts one: Scan, RunUpload, FinishRun. Throws
    // nothing: what a sink throws ends that stage, nothing unconfirmed is recorded, and the
    // answer names each stage so ended. Leaves detectionDone clear.
    [[nodiscard]] std::vector<RunFault> run(const RunHooks& hooks = {});
    // Serves every site in turn with one FTP client: transcript, connect, archive and remote
    // folders, pre-script, the pending commands, deleted files, post-script, report, archive
    // pruning, quit. Each put that fails marks its item; nothing connects when no changes
    // are pending.
    void RunUpload();
    // Hands "OK "/"Error " result lines to the sink, clears the archive marks of the files
    // that went up (strategy 1) and rewrites the file list. After a cancel it records what
    // every site confirmed (RunUpload marks the rest failed) and prints no Error lines.
    void FinishRun();
    void MarkFailed(const std::string& localPath);
    // Adds to runErrors and hands "Error <text>" to the sink.
    void reportRunError(const std::string& text);
    // Every changed item, or with a path only the first changed item with exactly that path.
    void MarkAllFailed(const std::string& localPath = {});
    // Deletes all but the archmax newest entries of archivdir on the server, newest by the
    // stamp in their names; at most a few hundred per run.
    void PruneArchive(RemoteSession& client);
    // What one site's archive folder holds, as listed at the start of its turn and grown by
    // the moves of the run.
    struct ArchiveFolder {
        bool listed = false;
        std::vector<RemoteEntry> entries;
        std::set<std::string> names;
        // Moves from several connections of one site pick their names one at a time.
        std::mutex mutex;
    };
    // Where the server copy of a deleted item lives: its folder below the remote folder (as
    // archive names use it), its name, and its path from the server's root under `startdir`.
    // Nothing for a path outside the local folder ("site2" beside "site"): deleting by its
    // remainder would hit another file on the server.
    struct DeletedTarget {
        std::string serverDir;
        std::string fileName;
        std::string serverPath;
    };
    [[nodiscard]] std::optional<DeletedTarget> deletedTarget(const FileItem& item, const std::string& startdir) const;
    // What a run does on one site, decided from the scan before it connects: the run carries
    // it out, the dry run describes it, and neither decides anything of its own. Queued
    // commands name server paths before the site's start directory, deletions whole ones.
    struct SitePlan {
        std::vector<std::string> folders; // made first: the archive folder, the remote folder
        bool listArchive = false; // archive moves pick names not yet taken there
        const std::vector<std::string>* beforeScript = nullptr; // the site's own lines, run first
        const std::vector<PendingCommand>* queued = nullptr; // folders, puts and their archive moves, lines
        const std::vector<std::string>* afterScript = nullptr;
        struct Deletion {
            FileItem* item;
            DeletedTarget target;
        };
        std::vector<Deletion> deletions;
        bool archiveDeletions = false; // moved into the archive folder rather than deleted
        // Server folders of deleted files whose local folder is gone too, deepest first:
        // removed after the deletions (a server keeps a folder that still holds anything).
        std::vector<std::string> emptiedFolders;
        // Part files that uploads of earlier runs left unfinished on this site, by the local
        // file they were for; none of them is sent again in this run.
        struct LeftoverPart {
            std::string localPath;
            std::string serverPath;
        };
        std::vector<LeftoverPart> leftoverParts;
        std::string report; // where the report page goes; empty: nowhere
        int pruneKeep = -1; // >= 0: the archive folder keeps this many newest entries
    };
    // For the items and queued commands of the last scan, which it points into.
    [[nodiscard]] SitePlan planSite(const FtpSite& site);
    int unreachableSites = 0; // sites the last RunUpload could not log in to
    // What each site confirmed in the last RunUpload, in the order of sites.
    struct SiteOutcome {
        int uploaded = 0;
        int deleted = 0;
        int failed = 0;
    };
    std::vector<SiteOutcome> siteOutcomes;
    // What each file of the last RunUpload came to on each site, in the order they ended.
    struct StepOutcome {
        enum class Kind : char { Uploaded, Deleted, Archived, Failed, Moved };
        Kind kind = Kind::Uploaded;
        int site = 0; // 1-based
        std::string path; // the local file; for moves of replaced files the server path
        std::string detail; // Archived: where it went; Moved: the local path it had; Failed: why
        bool operator==(const StepOutcome&) const = default;
    };
    std::vector<StepOutcome> stepOutcomes;
    // Hears each outcome as it is added to stepOutcomes, on the thread of the connection that
    // settled it, one at a time.
    std::function<void(const StepOutcome&)> outcomeHeard;
    // Carries out `plan` (items and queued commands of this project) over `client`, which is
    // connected and stays so: the full compare sends and deletes by the run's own road. The
    // plan names whole server paths, so `site` has no start directory; with `makeSession` its
    // url and login open up to its connections. No transcript; nothing is recorded until a
    // commit. Answers what each step came to.
    [[nodiscard]] std::vector<StepOutcome> carryOut(RemoteSession& client, const SitePlan& plan,
        const FtpSite& site = {},
        const std::function<std::unique_ptr<RemoteSession>(const std::string&)>& makeSession = {});
    std::atomic<int> currentSite { 0 }; // 1-based site RunUpload is serving, 0 outside the site loop
    int clientBudgetMilliseconds = 30000; // how long one blocking socket call may hang

    // Collaborators the owner may replace (tests substitute their own).
    FileAttributes* fileAttributes = nullptr; // archive marks; nullptr: every file counts as changed
    const MachineOptions* machineOptions = nullptr; // nullptr: defaults
    PasswordStore* passwordStore = nullptr; // nullptr: the desktop keyring, never prompting
    // A new, unconnected session for a site's url; empty: the protocol the url names.
    std::function<std::unique_ptr<RemoteSession>(const std::string& url)> sessionMaker;
    std::function<int64_t()> clock = [] { return static_cast<int64_t>(std::time(nullptr)); };

    // The password `site` logs in with, looked up in the keyring when the file holds none.
    [[nodiscard]] SitePassword passwordFor(const FtpSite& site);

private:
    struct ScanContext;
    void pruneArchiveEntries(RemoteSession& client, std::vector<RemoteEntry> entries);
    // What the connections serving one site share (site_run.h).
    struct SiteRun;
    // One stretch of files over several connections (parallel_send.cpp).
    struct ParallelSend;
    // A session for the run's site reporting to `sink`, with the run's stop, trust store and
    // the site's key file and atomic uploads; not connected yet.
    [[nodiscard]] std::unique_ptr<RemoteSession> newSession(SiteRun& run, FtpEventSink& sink);
    // The cap this run puts on uploads to `site`; nullptr: none.
    [[nodiscard]] std::shared_ptr<RateLimiter> rateLimiterFor(const FtpSite& site) const;
    // Notes in the record that an upload of `localPath` begins under a part name; true when
    // it may continue the part an earlier one left (see mayResume).
    [[nodiscard]] bool beginUpload(SiteRun& run, const std::string& localPath);
    // One site's turn of RunUpload: connect, folders, pre-script, the queued commands,
    // deletions, post-script, report, pruning, quit.
    void serveSite(SiteRun& run);
    // A site whose password cannot be had: every file fails, and `problem` says how to mend it.
    void failSiteWithoutLogin(const FtpSite& site, SiteOutcome& outcome, size_t files, const std::string& problem);
    void serveConnectedSite(RemoteSession& client, SiteRun& run, const SitePlan& plan);
    // The plan's steps in their order: folders, before script, queued commands, deletions,
    // after script, report, pruning. The connection stays open.
    void executePlan(RemoteSession& client, SiteRun& run, const SitePlan& plan);
    // Deletes (or archives) the plan's deleted files. One refused, or not tried, marks its
    // item failed. `settled` hears of each, with whether it is gone from the server.
    // Files the site's moves took away are left alone.
    void removeDeletedFiles(RemoteSession& client, const SitePlan& plan, ArchiveFolder& archive,
        const std::set<std::string>& movedAway, const std::function<void(const FileItem&, bool)>& settled);
    // The part files the record knows earlier runs left on `site` (see SitePlan).
    [[nodiscard]] std::vector<SitePlan::LeftoverPart> leftoverParts(const FtpSite& site) const;
    // The server folders of the plan's deletions whose local folders are gone (see SitePlan).
    [[nodiscard]] std::vector<std::string> emptiedFolders(const SitePlan& plan) const;
    // Makes the archive and remote folders; lists the archive when moves will need names.
    void prepareSiteFolders(RemoteSession& client, const SitePlan& plan, SiteRun& run);
    // A user's before or after script, line by line, until the connection breaks.
    void runSiteScript(RemoteSession& client, const std::vector<std::string>& lines);
    // One file to send: its put and the archive move of its previous version, if any.
    struct FileUnit {
        const PendingCommand* move = nullptr;
        const PendingCommand* put = nullptr;
        int folder = -1; // the folder line it waits for, among those of its stretch
    };
    // The queued commands for one site: folders first, then the files of each stretch between
    // two lines that must keep their place, over as many connections as the site allows.
    void runQueuedCommands(RemoteSession& client, SiteRun& run, const std::vector<PendingCommand>& queued);
    void runLine(RemoteSession& client, SiteRun& run, const PendingCommand& pending);
    // A folder line on the run's own connection; a folder the server made just now joins
    // run.madeFolders.
    static void makeFolder(RemoteSession& client, SiteRun& run, const PendingCommand& folder);
    // Whether the file goes to a folder this run made (under the run's mutex where several
    // connections serve the site).
    [[nodiscard]] static bool intoMadeFolder(const SiteRun& run, const FileUnit& file);
    void sendFiles(RemoteSession& client, SiteRun& run, const std::vector<const PendingCommand*>& folders,
        const std::vector<FileUnit>& files);
    void sendFilesInParallel(RemoteSession& client, SiteRun& run, const std::vector<const PendingCommand*>& folders,
        const std::vector<FileUnit>& files);
    // The file's lines in the transcript: its archive move, if any, and its put.
    void writeTranscript(SiteRun& run, const FileUnit& file);
    // One file on one connection: its transcript lines, the upload, the outcome settled.
    void sendInTurn(RemoteSession& client, SiteRun& run, const FileUnit& file, bool intoNewFolder = false);
    // Tells the session which file it sends after the current one.
    void expectFile(RemoteSession& client, SiteRun& run, const FileUnit& file);
    // Uploads one file (after its archive move); true when the server confirmed it.
    // `intoNewFolder`: the file's folder is one this run made (see intoMadeFolder()).
    ClientResult sendFile(RemoteSession& client, SiteRun& run, const FileUnit& file, bool intoNewFolder = false);
    // Records the outcome for the file `localPath` sends (none when empty): the journal and
    // the counts hear of it, a failure marks the item. Under the run's mutex when several
    // connections serve the site.
    void settleFile(SiteRun& run, const std::string& localPath, const ClientResult& result);
    // Why a step was not sent, for a step the run did not even try.
    [[nodiscard]] ClientResult notTried() const;
    void noteOutcome(StepOutcome outcome);
    std::mutex outcomesMutex_;
    // Carries out an archive move under a name not yet in the archive; true when the server
    // confirmed it.
    bool moveIntoArchive(RemoteSession& client, const PendingCommand& move, ArchiveFolder& archive);
    void ScanDirectory(ScanContext& scan, const std::string& localDir, const std::string& serverDir);
    // The subfolders of one folder (name, whether reached through a link), each scanned in turn
    // unless a link leads outside the site or up to a folder that holds it.
    void enterSubfolders(ScanContext& scan, const std::string& localDir, const std::string& serverDir,
        const std::vector<std::pair<std::string, bool>>& folders);
    // After a scan with a scope: the recorded files it did not look at, as unchanged items.
    void keepUnscannedRecords(ScanContext& scan);
    // Appends the item of a file the skip rules let through and returns whether it changed;
    // `archiveMove` receives the archive move when one is due. `found` is what is on disk now.
    bool TestFile(ScanContext& scan, const std::string& localDir, const std::string& serverDir, const std::string& name,
        const FileStamp& found, PendingCommand& archiveMove);
    [[nodiscard]] std::string fileListPath() const;
    // Under the content strategy: whether the item's bytes differ from those recorded as
    // sent; fills in its digest.
    bool contentDiffers(ScanContext& scan, FileItem& item, const RecordedFile* record);
    // Takes the digests of one folder's `files` ahead, on two threads when there are enough.
    void prehashFolder(ScanContext& scan, const std::vector<std::pair<std::string, FileStamp>>& files);
    // Recorded files the scan did not find, outside `unreadableFolders`, as deleted items;
    // held back when too many are gone.
    void addVanishedItems(const ScanContext& scan, const std::string& projectName);
    // The puts of new files that have the bytes of a `vanished` recorded file: counted, or
    // turned into moves of the server copy. Answers how many.
    enum class MoveStep : char { Count, Queue };
    size_t pairMoves(const std::vector<std::string>& vanished, MoveStep step);
    // One queued move on one site: renamed, or sent when the server cannot rename it.
    void moveOnServer(RemoteSession& client, SiteRun& run, const PendingCommand& move);
};

// What the record may keep of a file just sent: its digest only while the file is still as
// it was when the digest was taken. Once written again, the bytes the server got may be
// others, and the next run must not take them for the recorded ones.
[[nodiscard]] RecordedFile sentRecordOf(const FileItem& item);
