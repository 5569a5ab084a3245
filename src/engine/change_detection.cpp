#include "engine/web_project.h"

#include "engine/command_lines.h"
#include "engine/content_digest.h"
#include "engine/skip_rules.h"
#include "platform/file_attributes.h"
#include "platform/file_utils.h"
#include "report/frontpage_meta.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

// State of one DetectChanges call. Nothing of it outlives the call, so one project's scan
// never shapes another's command lines.
// Looks up the records of a folder's files in name order. A folder's files follow one another
// in the record, so the record after the last one found is usually the next file's: a
// comparison instead of a descent through the whole tree.
class RecordCursor {
public:
    explicit RecordCursor(const std::map<std::string, RecordedFile>& records)
        : records_(records)
        , next_(records.end())
    {
    }
    [[nodiscard]] const RecordedFile* find(const std::string& path)
    {
        if (next_ == records_.end() || next_->first != path)
            next_ = records_.lower_bound(path);
        if (next_ == records_.end() || next_->first != path)
            return nullptr;
        return &(next_++)->second;
    }

private:
    const std::map<std::string, RecordedFile>& records_;
    std::map<std::string, RecordedFile>::const_iterator next_;
};

struct WebProject::ScanContext {
    explicit ScanContext(const std::map<std::string, RecordedFile>& recorded)
        : records(recorded)
    {
    }

    std::string lastScriptDir; // server folder of the last queued mkdir/cd line
    int directoryCount = 0;
    int changedFileCount = 0;
    std::vector<std::string> loweredFilePatterns;
    bool readAuthorMeta = true;
    // Folders that could not be listed, with a trailing "/": the files recorded below them
    // are not known to be gone.
    std::vector<std::string> unreadableFolders;
    // Folders on the current descent path; a symbolic link back to one of them would
    // otherwise recurse without end.
    std::vector<std::pair<dev_t, ino_t>> openFolders;
    std::string realRoot; // the local folder with its links resolved, for judging folder links
    // The program's data folder (project files, passwords): never web content, even when
    // the local folder holds it.
    std::pair<dev_t, ino_t> dataFolder { 0, 0 };
    // Where notifications said something changed; nullptr: everywhere.
    const ScanScope* scope = nullptr;
    std::set<std::string> pathToScope; // folders on the way to those of the scope
    std::set<std::string> testedFolders; // whose files this scan looked at

    // Whether the files of `folder` are looked at.
    [[nodiscard]] bool testsFilesOf(const std::string& folder) const
    {
        return scope == nullptr || scope->folders.contains(folder) || inSubtree(folder);
    }
    // Whether a scan goes into `folder` at all.
    [[nodiscard]] bool entersFolder(const std::string& folder) const
    {
        return scope == nullptr || pathToScope.contains(folder) || inSubtree(folder);
    }
    [[nodiscard]] bool inSubtree(const std::string& path) const
    {
        for (const std::string& top : scope->subtrees)
            if (path == top || (path.size() > top.size() && path.starts_with(top) && path[top.size()] == '/'))
                return true;
        return false;
    }
    // Content strategy: digests taken ahead for the files of the folder being tested.
    std::unordered_map<std::string, std::optional<ContentDigest>> digests;
    // Files tested that the record knows. When it reaches the record's size, nothing
    // recorded is gone, and no set of every path need be built to find out.
    size_t recordedFound = 0;
    RecordCursor records;
};

namespace {

struct DirectoryEntry {
    std::string name;
    bool folder = false;
    bool link = false;
    int64_t mtime = 0;
    int32_t mtimeNanoseconds = 0;
    int64_t size = 0;
    uint64_t inode = 0; // of the file a link leads to
    int64_t statusChange = 0;
};

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Reads one folder's entries; false when the listing broke off.
bool listFolder(DIR* dir, std::vector<DirectoryEntry>& entries)
{
    int fd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry)
            return errno == 0;
        if (isDotOrDotDot(entry->d_name))
            continue;
        DirectoryEntry found { entry->d_name, false, entry->d_type == DT_LNK, 0, 0, 0, 0, 0 };
        if (entry->d_type == DT_UNKNOWN) {
            struct stat own { };
            found.link = ::fstatat(fd, entry->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
        }
        if (entry->d_type == DT_DIR) {
            found.folder = true;
        } else if (entry->d_type == DT_REG || entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // Links are followed: a link to a file counts as that file. Devices, pipes and
            // sockets are no web content; reading a pipe would block the run.
            struct stat info { };
            if (::fstatat(fd, entry->d_name, &info, 0) != 0)
                continue;
            if (S_ISDIR(info.st_mode)) {
                found.folder = true;
            } else if (S_ISREG(info.st_mode)) {
                found.mtime = static_cast<int64_t>(info.st_mtim.tv_sec);
                found.mtimeNanoseconds = static_cast<int32_t>(info.st_mtim.tv_nsec);
                found.size = static_cast<int64_t>(info.st_size);
                found.inode = static_cast<uint64_t>(info.st_ino);
                found.statusChange = static_cast<int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec;
            } else {
                continue;
            }
        } else {
            continue;
        }
        entries.push_back(std::move(found));
    }
}

// Under the content strategy, the files of a folder that will be read: those the record does
// not know, whose stamps moved, or whose digest it lacks.
std::vector<std::pair<std::string, FileStamp>> filesToHash(const std::string& localDir,
    const std::vector<DirectoryEntry>& entries, const std::map<std::string, RecordedFile>& timeMap,
    const std::vector<std::string>& loweredPatterns)
{
    std::vector<std::pair<std::string, FileStamp>> files;
    RecordCursor records(timeMap);
    for (const DirectoryEntry& entry : entries) {
        if (entry.folder || isForbiddenFileLowered(entry.name, loweredPatterns))
            continue;
        std::string path = localDir + "/" + entry.name;
        const RecordedFile* recorded = records.find(path);
        if (recorded == nullptr || !recorded->digest
            || recorded->differsFrom(entry.mtime, entry.mtimeNanoseconds, entry.size)
            || (recorded->inode != 0 && recorded->inode != entry.inode))
            files.emplace_back(std::move(path),
                FileStamp { entry.mtime, entry.mtimeNanoseconds, entry.size, entry.inode, entry.statusChange });
    }
    return files;
}

bool isBelowAny(const std::string& path, const std::vector<std::string>& folders)
{
    for (const std::string& folder : folders)
        if (path.compare(0, folder.size(), folder) == 0)
            return true;
    return false;
}

// Whether `path` is `folder` or lies below it.
bool isAtOrBelow(const std::string& path, const std::string& folder)
{
    return path == folder
        || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0
            && (folder.ends_with('/') || path[folder.size()] == '/'));
}

std::string resolved(const std::string& path)
{
    std::unique_ptr<char, void (*)(void*)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

} // namespace

void WebProject::ClearItems()
{
    items.clear();
}

void WebProject::reportRunError(const std::string& text)
{
    runErrors.push_back(text);
    FtpEventSink& sink = eventSink ? *eventSink : *this;
    sink.onProblem(text);
    sink.message("Error %s\n", text.c_str());
}

void WebProject::Scan()
{
    ClearItems();
    pendingCommands.clear();
    ReadFileList();
    DetectChanges();
    nextScanScope.reset();
}

void WebProject::DetectChanges()
{
    changesPending = false;
    clearCancel();
    runErrors.clear();
    scanFailed = false;
    deletionsHeld = false;
    const std::string projectName = projectPath.empty() ? std::string("the project") : projectPath;
    // Without a local folder there is nothing to compare; running on would record an empty
    // list and make the next run send (or delete) everything.
    if (local.empty()) {
        reportRunError("no local folder (local=) in " + projectName + ": nothing done");
        scanFailed = true;
        detectionDone = true;
        return;
    }
    if (std::unique_ptr<DIR, int (*)(DIR*)> root(::opendir(local.c_str()), &::closedir); !root) {
        reportRunError("the local folder " + local + " cannot be read (" + std::strerror(errno)
            + "): nothing uploaded, deleted or recorded");
        scanFailed = true;
        detectionDone = true;
        return;
    }
    ScanContext scan(timeMap);
    scan.realRoot = resolved(local);
    {
        struct stat data { };
        std::string dataPath = dataDirectory.empty() ? getDataDirectory() : dataDirectory;
        if (!dataPath.empty() && ::stat(dataPath.c_str(), &data) == 0)
            scan.dataFolder = { data.st_dev, data.st_ino };
    }
    scan.loweredFilePatterns = lowerFilePatterns(forbiddenFiles);
    scan.readAuthorMeta = machineOptions ? machineOptions->frontPage : MachineOptions {}.frontPage;
    if (!sites.empty())
        currentStartDir = sites.front().startdir;
    if (nextScanScope) {
        scan.scope = &*nextScanScope;
        for (const auto* named : { &nextScanScope->folders, &nextScanScope->subtrees })
            for (std::string at : *named)
                while (at.size() > local.size() && scan.pathToScope.insert(at).second) {
                    const size_t slash = at.rfind('/');
                    if (slash == std::string::npos)
                        break;
                    at.resize(slash);
                }
    }

    const size_t itemsBefore = items.size();
    items.reserve(itemsBefore + timeMap.size());
    ScanDirectory(scan, local, remote);
    if (scan.scope != nullptr)
        keepUnscannedRecords(scan);
    if (!pendingCommands.empty())
        changesPending = true;
    // An unmounted disk or a failed checkout looks like a site whose every file was removed.
    if (items.size() == itemsBefore && !timeMap.empty() && !allowDeleteAll) {
        reportRunError("the local folder " + local + " holds no files while " + std::to_string(timeMap.size())
            + " are recorded: nothing uploaded, deleted or recorded. If the files were removed on purpose, "
            + "run \"tarnwick --allow-delete-all " + fileNamePart(projectName)
            + "\" once to delete them on the server");
        scanFailed = true;
        changesPending = false;
        detectionDone = true;
        return;
    }

    addVanishedItems(scan, projectName);
    detectionDone = true;
}

void WebProject::addVanishedItems(const ScanContext& scan, const std::string& projectName)
{
    std::vector<std::string> vanished;
    if (scan.recordedFound < timeMap.size()) {
        std::unordered_set<std::string_view> present;
        present.reserve(items.size());
        for (const FileItem& item : items)
            present.insert(item.path);
        for (const auto& [path, time] : timeMap) {
            if (present.count(path) == 0 && !isBelowAny(path, scan.unreadableFolders)
                && !(scan.scope != nullptr && scan.scope->busy.contains(path)))
                vanished.push_back(path);
        }
    }
    // A file moved within the site is no deletion: a folder moved whole must not look like a
    // site that went missing. Moves happen only where the old copy would be deleted anyway.
    const bool movesPossible = strategy == kContentStrategy && deleteRemoved == 1;
    const size_t gone = vanished.size() - (movesPossible ? pairMoves(vanished, MoveStep::Count) : 0);
    if (deleteRemoved == 1 && !allowDeleteAll && exceedsDeletionShare(gone, timeMap.size())) {
        deletionsHeld = true;
        reportRunError(std::to_string(gone) + " of " + std::to_string(timeMap.size()) + " recorded files are gone from "
            + local + ", more than maxdelete=" + std::to_string(maxdelete)
            + "%: nothing is deleted. To allow it once, run \"tarnwick --allow-delete-all " + fileNamePart(projectName)
            + "\", or raise maxdelete in " + projectName);
    }
    if (movesPossible && !deletionsHeld)
        (void)pairMoves(vanished, MoveStep::Queue);
    for (std::string& path : vanished) {
        FileItem item;
        item.path = std::move(path);
        item.changed = true;
        item.deleted = true;
        // Held back: kept in the record, sent by no command.
        item.failed = deletionsHeld;
        items.push_back(std::move(item));
        if (!deletionsHeld)
            changesPending = true;
    }
}

size_t WebProject::pairMoves(const std::vector<std::string>& vanished, MoveStep step)
{
    // Below this a rename saves little over sending the bytes, and small files are often
    // alike (empty ones, the same icon in many folders).
    constexpr int64_t kMinMovedSize = 64 * 1024;
    const auto key
        = [](const ContentDigest& digest, int64_t size) { return digest.hex() + ' ' + std::to_string(size); };
    std::multimap<std::string, const std::string*> gone;
    for (const std::string& path : vanished) {
        const RecordedFile& recorded = timeMap.at(path);
        if (recorded.digest && recorded.size >= kMinMovedSize)
            gone.emplace(key(*recorded.digest, recorded.size), &path);
    }
    std::unordered_map<std::string_view, const FileItem*> added;
    for (const FileItem& item : items)
        if (!gone.empty() && item.changed && !item.deleted && !item.failed && item.digest && item.size >= kMinMovedSize
            && !timeMap.contains(item.path))
            added.emplace(item.path, &item);
    size_t pairs = 0;
    for (PendingCommand& pending : pendingCommands) {
        const auto found = pending.kind == PendingCommand::Kind::Put ? added.find(pending.localPath) : added.end();
        if (found == added.end())
            continue;
        const auto match = gone.find(key(*found->second->digest, found->second->size));
        if (match == gone.end())
            continue;
        FileItem old;
        old.path = *match->second;
        std::optional<DeletedTarget> source = deletedTarget(old, {});
        if (!source)
            continue;
        ++pairs;
        gone.erase(match);
        if (step == MoveStep::Count)
            continue;
        pending.kind = PendingCommand::Kind::Move;
        pending.movedFrom = source->serverPath;
        pending.movedFromFile = old.path;
        pending.command = moveLine(pending.movedFrom, pending.remotePath);
    }
    return pairs;
}

void WebProject::keepUnscannedRecords(ScanContext& scan)
{
    std::unordered_set<std::string_view> found;
    found.reserve(items.size());
    for (const FileItem& item : items)
        found.insert(item.path);
    for (const auto& [path, recorded] : timeMap) {
        if (found.contains(path))
            continue;
        const std::string folder = path.substr(0, path.rfind('/'));
        // Looked for and not there: gone, as in a full scan. A file still being written was
        // not looked at and keeps its record.
        if ((scan.testedFolders.contains(folder) || scan.inSubtree(folder)) && !scan.scope->busy.contains(path))
            continue;
        // Unchanged by all the notifications said: as recorded, without a look at the disk.
        FileItem item;
        item.path = path;
        item.mtime = recorded.seconds;
        item.mtimeNanoseconds = recorded.nanoseconds;
        item.size = recorded.size;
        item.inode = recorded.inode;
        item.digest = recorded.digest;
        items.push_back(std::move(item));
        ++scan.recordedFound;
    }
}

void WebProject::enterSubfolders(ScanContext& scan, const std::string& localDir, const std::string& serverDir,
    const std::vector<std::pair<std::string, bool>>& folders)
{
    FtpEventSink& sink = eventSink ? *eventSink : *this;
    for (const auto& [name, link] : folders) {
        std::string folder = localDir + "/" + name;
        if (!scan.entersFolder(folder))
            continue;
        if (link) {
            // A link to a folder is content only when it points inside the site and not up to a
            // folder that holds it: "up -> .." would upload the parent, data folder included.
            std::string target = resolved(folder);
            std::string here = resolved(localDir);
            if (target.empty() || scan.realRoot.empty() || target == scan.realRoot
                || !isAtOrBelow(target, scan.realRoot) || isAtOrBelow(here, target)) {
                sink.message("Warning link %s skipped: it points outside the local folder or to a folder above it\n",
                    folder.c_str());
                // What an earlier version recorded below it is not known to be gone.
                scan.unreadableFolders.push_back(folder + "/");
                continue;
            }
        }
        ScanDirectory(scan, folder, serverDir + "/" + name);
    }
}

void WebProject::ScanDirectory(ScanContext& scan, const std::string& localDir, const std::string& serverDir)
{
    FtpEventSink& sink = eventSink ? *eventSink : *this;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(localDir.c_str()), &::closedir);
    if (!dir) {
        reportRunError("the folder " + localDir + " cannot be read (" + std::strerror(errno)
            + "): its files are left as they are");
        scan.unreadableFolders.push_back(localDir + "/");
        return;
    }
    if (cancelRequested)
        return;
    if (isForbiddenDirectory(serverDir, forbiddenDirectories))
        return;
    size_t depthBefore = scan.openFolders.size();
    struct stat self { };
    if (::fstat(::dirfd(dir.get()), &self) == 0) {
        std::pair<dev_t, ino_t> identity { self.st_dev, self.st_ino };
        if (identity == scan.dataFolder)
            return;
        if (std::find(scan.openFolders.begin(), scan.openFolders.end(), identity) != scan.openFolders.end())
            return;
        scan.openFolders.push_back(identity);
    }

    ++scan.directoryCount;
    sink.statusMessage("%d dirs %d files\r", scan.directoryCount, scan.changedFileCount);
    const bool testFiles = scan.testsFilesOf(localDir);
    if (testFiles && scan.scope != nullptr)
        scan.testedFolders.insert(localDir);

    std::vector<DirectoryEntry> entries;
    bool complete = listFolder(dir.get(), entries);
    dir.reset();
    if (!complete) {
        std::printf("FindFirst returns error in %s\n", localDir.c_str());
        scan.unreadableFolders.push_back(localDir + "/");
        scan.openFolders.resize(depthBefore);
        return;
    }
    // The file system's own order is arbitrary (hash order on most); byte order makes the
    // queue and the list of modified files the same from run to run.
    std::sort(entries.begin(), entries.end(),
        [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    if (strategy == kContentStrategy)
        prehashFolder(scan, filesToHash(localDir, entries, timeMap, scan.loweredFilePatterns));

    for (const DirectoryEntry& entry : entries) {
        if (entry.folder || !testFiles)
            continue;
        // Still being written: sent once it is closed.
        if (scan.scope != nullptr && scan.scope->busy.contains(localDir + "/" + entry.name))
            continue;
        PendingCommand archiveMove;
        if (!TestFile(scan, localDir, serverDir, entry.name,
                { entry.mtime, entry.mtimeNanoseconds, entry.size, entry.inode, entry.statusChange }, archiveMove))
            continue;
        FileItem& item = items.back();
        // The put is sent from its typed parts, so a name the command language cannot quote
        // (one holding a double quote) goes up like any other.
        std::string serverPath = serverDir + "/" + entry.name;
        if (serverDir != scan.lastScriptDir) {
            // A folder that holds recorded files exists on the server: its MKD would only cost a
            // round trip. Should someone have removed it there, the put makes it after all.
            const bool known
                = !timeMap.empty() && std::any_of(entries.begin(), entries.end(), [&](const DirectoryEntry& other) {
                      return !other.folder && timeMap.contains(localDir + "/" + other.name);
                  });
            if (!known)
                pendingCommands.push_back(enterFolderCommand(serverDir));
            scan.lastScriptDir = serverDir;
        }
        if (!archiveMove.command.empty())
            pendingCommands.push_back(std::move(archiveMove));
        pendingCommands.push_back(putCommand(item.path, serverPath));
        ++scan.changedFileCount;
    }

    std::vector<std::pair<std::string, bool>> folders; // name, reached through a link
    for (const DirectoryEntry& entry : entries)
        if (entry.folder)
            folders.emplace_back(entry.name, entry.link);
    enterSubfolders(scan, localDir, serverDir, folders);
    scan.openFolders.resize(depthBefore);

    sink.statusMessage("%d dirs %d files\r", scan.directoryCount, scan.changedFileCount);
}

// Only a file whose stamps moved is read. One recorded before digests were kept is read once
// with its stamps unchanged, to learn what the server holds (as the time strategy would
// trust it); one whose bytes are as recorded is recorded anew with its new stamps.
void WebProject::prehashFolder(ScanContext& scan, const std::vector<std::pair<std::string, FileStamp>>& files)
{
    scan.digests.clear();
    // Below this a second thread costs more than it saves: the files are hashed one by one
    // as they are tested.
    constexpr size_t kParallelFrom = 32;
    if (files.size() < kParallelFrom)
        return;
    // Most files of a site are small: each costs a few system calls, which the other core
    // makes meanwhile.
    std::vector<std::optional<ContentDigest>> digests(files.size());
    std::atomic<size_t> next { 0 };
    const auto hashSome = [&] {
        for (size_t index = next++; index < files.size(); index = next++)
            digests[index] = digestFile(files[index].first, files[index].second);
    };
    try {
        std::jthread helper(hashSome);
        hashSome();
    } catch (const std::system_error&) {
        // No second thread to be had: this one does what is left.
        hashSome();
    }
    for (size_t index = 0; index < files.size(); ++index)
        scan.digests.emplace(files[index].first, digests[index]);
}

bool WebProject::contentDiffers(ScanContext& scan, FileItem& item, const RecordedFile* record)
{
    const bool moved = record == nullptr || record->differsFrom(item);
    if (!moved && record->digest)
        return false;
    const auto taken = scan.digests.find(item.path);
    item.digest = taken != scan.digests.end() ? taken->second : digestFile(item.path, item.stamp());
    if (!moved)
        return false;
    if (record == nullptr || !record->digest || !item.digest)
        return true;
    item.contentChanged = *item.digest != *record->digest;
    return item.contentChanged;
}

bool WebProject::TestFile(ScanContext& scan, const std::string& localDir, const std::string& serverDir,
    const std::string& name, const FileStamp& found, PendingCommand& archiveMove)
{
    std::string path = localDir + "/" + name;
    if (fileAttributes && fileAttributes->isHidden(path))
        return false;
    if (isForbiddenFileLowered(name, scan.loweredFilePatterns))
        return false;

    FileItem& item = items.emplace_back();
    item.path = std::move(path);
    item.mtime = found.seconds;
    item.mtimeNanoseconds = found.nanoseconds;
    item.size = found.size;
    item.inode = found.inode;
    item.statusChange = found.statusChange;
    const RecordedFile* recorded = scan.records.find(item.path);
    if (recorded != nullptr)
        ++scan.recordedFound;
    // A file as it was recorded still holds the bytes that were recorded.
    if (recorded != nullptr && !recorded->differsFrom(item))
        item.digest = recorded->digest;

    bool changed;
    if (strategy == 0 || strategy == 1) {
        // Compared with what the walk just saw: looking at every file a second time nearly
        // doubled the time a large unchanged site takes.
        changed = true;
        if (fileAttributes)
            changed = fileAttributes->isArchiveSetFor(
                item.path, { found.seconds * 1'000'000'000 + found.nanoseconds, found.size, found.inode });
        // A run killed after this file went up never cleared its mark.
        if (changed && record.confirmedAsFound(item.path, { found.seconds, found.nanoseconds, found.size }))
            changed = false;
    } else if (strategy == kContentStrategy) {
        changed = contentDiffers(scan, item, recorded);
    } else {
        changed = recorded == nullptr || recorded->differsFrom(found.seconds, found.nanoseconds, found.size);
    }
    if (!changed)
        return false;

    if (scan.readAuthorMeta)
        (void)readFrontPageMeta(localDir, name, item.author, item.editor);
    item.changed = true;
    // A file the list does not know has no previous version on the server to archive. Without
    // any list (a first run over a site already online) every file may have one.
    if (!archivdir.empty() && (timeMap.empty() || recorded != nullptr)) {
        archiveMove = archiveMoveCommand(name, serverDir, item);
        archiveMove.mayBeAbsent = timeMap.empty();
    }
    return true;
}
