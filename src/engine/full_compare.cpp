#include "engine/full_compare.h"

#include "engine/command_lines.h"
#include "engine/web_project.h"
#include "session/remote_session.h"
#include "session/upload_names.h"

#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

// A server that lists a folder inside itself (a link to "." or a parent) would otherwise
// send the walk round for ever.
constexpr int kMaxDepth = 64;

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool isDotOrDotDot(const std::string& name)
{
    return name == "." || name == "..";
}

// A listed link keeps " -> target" in its name; the compare is about the name itself.
std::string linkName(const std::string& name)
{
    size_t arrow = name.find(" -> ");
    return arrow == std::string::npos ? name : name.substr(0, arrow);
}

} // namespace

FullCompare::FullCompare(RemoteSession& client, const ProjectSettings& project, std::string localDirectory,
    std::string remoteStart, FtpEventSink& sink)
    : client_(client)
    , project_(project)
    , localDirectory_(withoutTrailingSlashes(std::move(localDirectory)))
    , remoteStart_(std::move(remoteStart))
    , sink_(sink)
    , cache_(client)
{
}

void FullCompare::allowConnections(
    const FtpSite& site, std::function<std::unique_ptr<RemoteSession>(const std::string&)> makeSession)
{
    site_ = site;
    site_.startdir.clear();
    makeSession_ = std::move(makeSession);
}

std::string FullCompare::joinRemote(const std::string& directory, const std::string& name)
{
    if (directory.empty() || directory.back() == '/')
        return directory + name;
    return directory + "/" + name;
}

bool FullCompare::isProtectedServerFile(const std::string& remotePath)
{
    size_t slash = remotePath.rfind('/');
    std::string name = slash == std::string::npos ? remotePath : remotePath.substr(slash + 1);
    return name != ".fp_folder_info" && !name.empty() && name[0] == '.';
}

void FullCompare::scanLocal()
{
    // The project's own scan with its skip rules, on a scratch project so that nothing of
    // the real one (items, pending commands, file list) is touched. An empty time map under
    // the file-list strategy marks every file changed, which is what Find starts from.
    WebProject scanner;
    static_cast<ProjectSettings&>(scanner) = project_;
    MachineOptions noMetadata;
    noMetadata.frontPage = false;
    scanner.machineOptions = &noMetadata;
    scanner.strategy = 2;
    scanner.archivdir.clear();
    scanner.sites.clear();
    scanner.local = localDirectory_;
    scanner.remote = withoutTrailingSlashes(remoteStart_);
    if (scanner.remote == "/")
        scanner.remote.clear();
    scanner.eventSink = &sink_;
    scanner.ClearItems();
    scanner.DetectChanges();
    items_ = std::move(scanner.items);
}

std::string FullCompare::remotePathOf(const FileItem& item) const
{
    if (item.deleted)
        return item.path;
    std::string relative = item.path.substr(std::min(item.path.size(), localDirectory_.size() + 1));
    return joinRemote(remoteStart_, relative);
}

void FullCompare::Find()
{
    items_.clear();
    remoteFileMap_.clear();
    leftovers_.clear();
    cache_.clear();
    scanLocal();
    for (size_t i = 0; i < items_.size(); ++i) {
        FileItem& item = items_[i];
        item.changed = true;
        item.failed = false;
        remoteFileMap_[remotePathOf(item)] = i;
    }
    listed_.assign(items_.size(), false);
    walk(remoteStart_, 0);
}

void FullCompare::walk(const std::string& directory, int depth)
{
    sink_.message("FTP: %s", directory.c_str());
    if (depth > kMaxDepth)
        return;
    // A copy: serving the subfolders adds listings to the cache.
    std::vector<RemoteEntry> entries = cache_.listing(directory);
    for (const RemoteEntry& entry : entries) {
        std::string name = linkName(entry.name);
        if (name.empty() || isDotOrDotDot(name))
            continue;
        std::string path = joinRemote(directory, name);
        if (entry.isDirectory) {
            walk(path, depth + 1);
            continue;
        }
        auto local = remoteFileMap_.find(path);
        if (local == remoteFileMap_.end() && isUploadLeftover(path)) {
            leftovers_.push_back(std::move(path));
        } else if (local == remoteFileMap_.end()) {
            FileItem serverOnly;
            serverOnly.deleted = true;
            serverOnly.path = path;
            items_.push_back(std::move(serverOnly));
        } else {
            listed_[local->second] = true;
            if (entry.size == items_[local->second].size)
                items_[local->second].changed = false;
        }
    }
}

FullCompare::Counts FullCompare::counts() const
{
    Counts counts;
    for (const FileItem& item : items_) {
        if (item.deleted)
            ++counts.deleted;
        else if (!item.changed)
            ++counts.sameSize;
        else
            ++counts.changed;
    }
    return counts;
}

std::string FullCompare::countsLine(const std::string& format) const
{
    Counts values = counts();
    const int fields[] = { values.deleted, values.changed, values.sameSize };
    std::string line;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'd' && next < 3) {
            line += std::to_string(fields[next++]);
            ++i;
            continue;
        }
        line += format[i];
    }
    return line;
}

std::vector<FullCompare::Step> FullCompare::plan(Deletion deletion, Resend resend) const
{
    std::vector<Step> steps;
    for (const FileItem& item : items_) {
        if (item.deleted) {
            if (deletion == Deletion::DeleteServerOnlyFiles && !isProtectedServerFile(item.path))
                steps.push_back({ Step::Kind::Delete, {}, item.path });
        } else if (item.changed || resend == Resend::AlsoSameSize) {
            steps.push_back({ Step::Kind::Send, item.path, remotePathOf(item) });
        }
    }
    return steps;
}

std::vector<FullCompare::Difference> FullCompare::differences() const
{
    std::vector<Difference> found;
    for (size_t index = 0; index < items_.size(); ++index) {
        const FileItem& item = items_[index];
        if (item.deleted && !isProtectedServerFile(item.path))
            found.push_back({ Difference::Kind::OnlyOnServer, item.path });
        else if (!item.deleted && item.changed)
            found.push_back({ index < listed_.size() && listed_[index] ? Difference::Kind::SizeDiffers
                                                                       : Difference::Kind::MissingOnServer,
                remotePathOf(item) });
    }
    for (const std::string& path : leftovers_)
        found.push_back({ Difference::Kind::Leftover, path });
    return found;
}

std::vector<WebProject::StepOutcome> FullCompare::Start(Deletion deletion, Resend resend)
{
    // The run's executor on a scratch project: its items and queued commands are this plan's,
    // and its record is never committed.
    WebProject executor;
    static_cast<ProjectSettings&>(executor) = project_;
    executor.archivdir.clear();
    executor.htmlreport.clear();
    executor.eventSink = &sink_;
    const std::vector<Step> steps = plan(deletion, resend);
    executor.items.reserve(steps.size()); // the plan points into them
    std::unordered_map<std::string_view, const FileItem*> scanned;
    for (const FileItem& item : items_)
        scanned.emplace(item.path, &item);
    std::set<std::string> folders;
    // A file whose folder is missing on the server gets its folders first, outermost first.
    const auto queueFolders = [&](const std::string& folder) {
        std::vector<std::string> missing;
        for (std::string at = folder; at.size() > remoteStart_.size() && at.starts_with(remoteStart_);
             at = at.substr(0, at.rfind('/'))) {
            if (!folders.insert(at).second)
                break;
            missing.push_back(at);
        }
        for (auto it = missing.rbegin(); it != missing.rend(); ++it)
            executor.pendingCommands.push_back(enterFolderCommand(*it));
    };
    WebProject::SitePlan work;
    work.queued = &executor.pendingCommands;
    for (const Step& step : steps) {
        FileItem item;
        item.path = step.kind == Step::Kind::Send ? step.localPath : step.serverPath;
        if (auto found = scanned.find(step.localPath); step.kind == Step::Kind::Send && found != scanned.end())
            item = *found->second;
        item.changed = true;
        item.failed = false;
        item.deleted = step.kind == Step::Kind::Delete;
        executor.items.push_back(std::move(item));
        const size_t slash = step.serverPath.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : step.serverPath.substr(0, slash);
        if (step.kind == Step::Kind::Delete) {
            work.deletions.push_back(
                { &executor.items.back(), { folder, step.serverPath.substr(slash + 1), step.serverPath } });
            continue;
        }
        queueFolders(folder);
        executor.pendingCommands.push_back(putCommand(step.localPath, step.serverPath));
    }
    std::vector<WebProject::StepOutcome> outcomes = executor.carryOut(client_, work, site_, makeSession_);
    for (const WebProject::StepOutcome& outcome : outcomes)
        if (outcome.kind == WebProject::StepOutcome::Kind::Deleted)
            cache_.remove(outcome.path);
    // A lost connection or a stop ends the pass before the clean-up.
    if (client_.isBroken() || client_.timedOut())
        return outcomes;
    // After the uploads: a live file missing at Find has been sent again by now.
    removeLeftovers(outcomes);
    removeEmptyDirectories(remoteStart_, 0);
    return outcomes;
}

void FullCompare::removeLeftovers(std::vector<WebProject::StepOutcome>& outcomes)
{
    for (const std::string& path : leftovers_) {
        if (client_.isBroken())
            return;
        if (isReplacedFileLeftover(path) && client_.remoteFileExists(leftoverLiveName(path)) != true) {
            sink_.message("Keeping %s: %s is missing", path.c_str(), leftoverLiveName(path).c_str());
            continue;
        }
        sink_.message("Deleting %s", path.c_str());
        if (client_.deleteFile(path).ok()) {
            cache_.remove(path);
            outcomes.push_back({ WebProject::StepOutcome::Kind::Deleted, 1, path, {} });
        }
    }
}

void FullCompare::removeEmptyDirectories(const std::string& directory, int depth)
{
    sink_.message("Delete empty dirs: %s", directory.c_str());
    if (depth > kMaxDepth)
        return;
    bool empty = true;
    std::vector<RemoteEntry> entries = cache_.listing(directory);
    for (const RemoteEntry& entry : entries) {
        std::string name = linkName(entry.name);
        if (name.empty() || isDotOrDotDot(name))
            continue;
        if (entry.isDirectory)
            removeEmptyDirectories(joinRemote(directory, name), depth + 1);
        else
            empty = false;
    }
    if (empty)
        (void)client_.removeDirectory(directory);
}
