#include "shell/ftp_browser.h"

#include "config/project_settings.h"
#include "connect/site_password.h"
#include "engine/full_compare.h"
#include "engine/web_project.h"
#include "ftp/ftp_client.h"
#include "session/next_token.h"
#include "session/server_text.h"
#include "shell/project_list.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Trees deeper than this are taken for a loop (a link back up, or a server listing a
// folder inside itself).
constexpr int kMaxDepth = 64;

std::string lowered(const std::string& text)
{
    std::string result = text;
    for (char& c : result)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return result;
}

bool isDotOrDotDot(const std::string& name)
{
    return name == "." || name == "..";
}

bool equalIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && lowered(a) == lowered(b);
}

// Absolute, without "." and ".." steps, repeated or trailing '/'.
std::string normalizedLocal(const std::string& path)
{
    std::vector<std::string> pieces;
    size_t position = 0;
    while (position <= path.size()) {
        size_t end = path.find('/', position);
        if (end == std::string::npos)
            end = path.size();
        std::string piece = path.substr(position, end - position);
        position = end + 1;
        if (piece.empty() || piece == ".")
            continue;
        if (piece == "..") {
            if (!pieces.empty())
                pieces.pop_back();
            continue;
        }
        pieces.push_back(std::move(piece));
    }
    std::string result;
    for (const std::string& piece : pieces)
        result += "/" + piece;
    return result.empty() ? "/" : result;
}

std::string joinLocal(const std::string& directory, const std::string& name)
{
    return !directory.empty() && directory.back() == '/' ? directory + name : directory + "/" + name;
}

// The command interpreter cuts arguments at white space and commas unless quoted.
bool quoteForCommand(const std::string& path, std::string& argument)
{
    if (path.find('"') != std::string::npos)
        return false;
    argument = path.find_first_of(" \t,") == std::string::npos ? path : "\"" + path + "\"";
    return true;
}

// A listed link keeps " -> target" in its name; the link's own name is what is copied.
std::string linkName(const std::string& name)
{
    size_t arrow = name.find(" -> ");
    return arrow == std::string::npos ? name : name.substr(0, arrow);
}

bool isDirectory(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

struct LocalEntry {
    std::string name;
    bool isDirectory = false;
    int64_t size = 0;
    int64_t time = 0;
};

// The entries of a local folder in the order the file system returns them. Entries that
// are neither files nor folders (pipes, sockets, dangling links) are left out.
std::vector<LocalEntry> readLocalFolder(const std::string& folder, bool keepDotDot)
{
    std::vector<LocalEntry> entries;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir)
        return entries;
    int fd = ::dirfd(dir.get());
    while (const dirent* entry = ::readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name == "." || (name == ".." && !keepDotDot))
            continue;
        LocalEntry found { name, name == "..", 0, 0 };
        struct stat info { };
        if (!found.isDirectory) {
            if (::fstatat(fd, entry->d_name, &info, 0) != 0)
                continue;
            if (S_ISDIR(info.st_mode)) {
                found.isDirectory = true;
            } else if (S_ISREG(info.st_mode)) {
                found.size = static_cast<int64_t>(info.st_size);
            } else {
                continue;
            }
            found.time = static_cast<int64_t>(info.st_mtim.tv_sec);
        }
        entries.push_back(std::move(found));
    }
    return entries;
}

} // namespace

FtpBrowser::FtpBrowser(const MachineOptions& options)
    : factory_(options)
    , session_(std::make_unique<FtpClient>(options))
{
    char buffer[PATH_MAX];
    localDirectory_ = ::getcwd(buffer, sizeof buffer) ? normalizedLocal(buffer) : std::string("/");
}

std::vector<ServerEntry> FtpBrowser::buildServerEntries(const ProjectList& projects, const std::vector<FtpSite>& sites)
{
    std::vector<ServerEntry> entries;
    for (int i = 0; i < projects.count(); ++i) {
        WebProject* project = projects.at(i);
        if (!project)
            continue;
        for (const FtpSite& site : project->sites) {
            ServerEntry entry { projects.nameAt(i) + "." + site.name, site, project };
            entry.site.localDirectory = project->local;
            entries.push_back(std::move(entry));
        }
    }
    for (const FtpSite& site : sites)
        entries.push_back({ site.name, site, nullptr });
    std::stable_sort(
        entries.begin(), entries.end(), [](const ServerEntry& a, const ServerEntry& b) { return a.text < b.text; });
    return entries;
}

void FtpBrowser::sortRows(std::vector<BrowserRow>& rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const BrowserRow& a, const BrowserRow& b) {
        if (a.isDirectory != b.isDirectory)
            return a.isDirectory;
        return lowered(a.name) < lowered(b.name);
    });
}

std::vector<std::string> FtpBrowser::pathItems(const std::string& path, char separator)
{
    const std::string alone(1, separator);
    std::set<std::string> items { alone };
    std::string prefix = !path.empty() && path[0] == separator ? alone : std::string();
    size_t position = 0;
    while (position < path.size()) {
        size_t end = path.find(separator, position);
        if (end == std::string::npos)
            end = path.size();
        std::string piece = path.substr(position, end - position);
        position = end + 1;
        if (piece.empty())
            continue;
        if (!prefix.empty() && prefix != alone)
            prefix += separator;
        prefix += piece;
        items.insert(prefix);
    }
    return { items.begin(), items.end() };
}

std::string FtpBrowser::dateText(int64_t time)
{
    std::time_t seconds = static_cast<std::time_t>(time);
    std::tm parts {};
    if (!::localtime_r(&seconds, &parts))
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%d:%d %d.%d.%d", parts.tm_hour, parts.tm_min, parts.tm_mday, parts.tm_mon + 1,
        parts.tm_year + 1900);
    return text;
}

bool FtpBrowser::isSafeLocalName(const std::string& name)
{
    return !name.empty() && !isDotOrDotDot(name) && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

int FtpBrowser::rowNamed(const std::vector<BrowserRow>& rows, const std::string& name)
{
    for (size_t i = 0; i < rows.size(); ++i)
        if (equalIgnoringCase(rows[i].name, name))
            return static_cast<int>(i);
    return -1;
}

std::vector<int> FtpBrowser::rowsNamed(const std::vector<BrowserRow>& rows, const std::vector<std::string>& names)
{
    std::set<std::string> wanted;
    for (const std::string& name : names)
        wanted.insert(lowered(name));
    std::vector<int> found;
    for (size_t i = 0; i < rows.size(); ++i)
        if (wanted.count(lowered(rows[i].name)))
            found.push_back(static_cast<int>(i));
    return found;
}

std::vector<int> FtpBrowser::oneSidedRows(const std::vector<BrowserRow>& rows, const std::vector<BrowserRow>& other)
{
    std::set<std::string> names;
    for (const BrowserRow& row : other)
        names.insert(row.name);
    std::vector<int> found;
    for (size_t i = 0; i < rows.size(); ++i)
        if (!isDotOrDotDot(rows[i].name) && !names.count(rows[i].name))
            found.push_back(static_cast<int>(i));
    return found;
}

int64_t FtpBrowser::totalSize(const std::vector<FtpOperation>& batch)
{
    int64_t total = 0;
    for (const FtpOperation& operation : batch)
        if (operation.size > 0)
            total += (operation.size + 1023) / 1024 * 1024;
    return total;
}

bool FtpBrowser::isConnected() const
{
    return session_->state() == RemoteSession::State::LoggedIn;
}

void FtpBrowser::log(const std::string& text)
{
    // Skipped names come from the server's listing.
    session_->eventSink().onLine(printableServerText(text));
}

bool FtpBrowser::setLocalDirectory(const std::string& path)
{
    if (path.empty())
        return false;
    std::string absolute = normalizedLocal(path[0] == '/' ? path : joinLocal(localDirectory_, path));
    if (!isDirectory(absolute))
        return false;
    localDirectory_ = absolute;
    (void)session_->setLocalDirectory(absolute);
    return true;
}

std::string FtpBrowser::localPath(const std::string& name) const
{
    return joinLocal(localDirectory_, name);
}

bool FtpBrowser::connect(const ServerEntry& entry)
{
    // The new site may speak another protocol; the sink, trust store and local folder stay.
    std::unique_ptr<RemoteSession> session = factory_.make(entry.site.url);
    session->setEventSink(session_->setEventSink(nullptr));
    session->setTrustedCertificatesPath(session_->trustedCertificatesPath());
    (void)session->setLocalDirectory(session_->localDirectory());
    session_->quit();
    session_ = std::move(session);
    session_->setKeyFile(entry.site.keyfile);
    const std::string filePath = entry.project != nullptr ? entry.project->projectPath : std::string("sites.inf");
    const SitePassword password = sitePassword(entry.site,
        entry.project != nullptr ? passwordProjectName(entry.project->projectPath) : std::string(), filePath, nullptr);
    if (!password.problem.empty()) {
        session_->eventSink().onProblem(password.problem);
        return false;
    }
    if (!session_->connect(entry.site.url, entry.site.user, password.password.text()).ok())
        return false;
    relist();
    if (!entry.site.localDirectory.empty())
        (void)setLocalDirectory(entry.site.localDirectory);
    localRoot_ = entry.site.localDirectory;
    fillLocal();
    return true;
}

void FtpBrowser::fillLocal()
{
    localPathItems_ = pathItems(localDirectory_, '/');
    std::vector<BrowserRow> rows;
    for (const LocalEntry& entry : readLocalFolder(localDirectory_, true))
        rows.push_back({ entry.name, entry.size, entry.time, entry.isDirectory });
    sortRows(rows);
    localRows_ = std::move(rows);
}

void FtpBrowser::fillRemote(const std::vector<RemoteEntry>& entries)
{
    std::vector<BrowserRow> rows;
    for (const RemoteEntry& entry : entries) {
        if (entry.name.empty() || isDotOrDotDot(entry.name))
            continue;
        rows.push_back({ entry.name, entry.size, entry.modificationTime, entry.isDirectory });
    }
    sortRows(rows);
    rows.insert(rows.begin(), BrowserRow { "..", 0, 0, true });
    remoteRows_ = std::move(rows);
    remoteDirectory_ = session_->currentDirectory();
    remotePathItems_ = pathItems(remoteDirectory_, '/');
}

void FtpBrowser::relist()
{
    // An empty folder lists as empty text; it is shown all the same once the server said yes.
    RemoteSession::Listing listing = session_->listFolder("");
    if (listing.result.ok() || !listing.entries.empty())
        fillRemote(listing.entries);
}

void FtpBrowser::openRemote(const std::string& name, bool synchron)
{
    std::string argument;
    if (!quoteForCommand(name, argument)) {
        log("Skipped " + name);
        return;
    }
    (void)session_->changeDirectory(directoryArgument(argument));
    relist();
    if (synchron)
        localFollowsRemote();
}

std::string FtpBrowser::openLocal(const BrowserRow& row, bool synchron)
{
    if (!row.isDirectory)
        return localPath(row.name);
    if (setLocalDirectory(localPath(row.name)) || row.name == "..") {
        fillLocal();
        if (synchron)
            remoteFollowsLocal();
    }
    return {};
}

void FtpBrowser::chooseRemotePath(const std::string& path)
{
    std::string argument;
    if (!quoteForCommand(path, argument))
        return;
    (void)session_->changeDirectory(directoryArgument(argument));
    relist();
    localFollowsRemote();
}

void FtpBrowser::chooseLocalPath(const std::string& path, bool synchron)
{
    (void)setLocalDirectory(path);
    fillLocal();
    if (synchron)
        remoteFollowsLocal();
}

void FtpBrowser::localFollowsRemote()
{
    // Without a local root the server's folders would be made below the file system's root.
    if (localRoot_.empty())
        return;
    std::string remote = session_->currentDirectory();
    // The server names the folder; a ".." step in it would lead out of the local root.
    for (const std::string& piece : pathItems(remote, '/'))
        if (piece.size() >= 3 && piece.compare(piece.size() - 3, 3, "/..") == 0) {
            log("Skipped " + remote);
            return;
        }
    if (remote.find('\0') != std::string::npos || remote == ".." || remote.rfind("../", 0) == 0)
        return;
    std::string path = localRoot_;
    if (path.back() != '/')
        path += "/";
    path += remote;
    (void)::mkdir(path.c_str(), 0755);
    (void)setLocalDirectory(path);
    fillLocal();
}

void FtpBrowser::remoteFollowsLocal()
{
    std::string remainder
        = localDirectory_.size() >= localRoot_.size() ? localDirectory_.substr(localRoot_.size()) : std::string();
    std::string argument;
    if (!quoteForCommand("/" + remainder, argument))
        return;
    (void)session_->makeDirectory(directoryArgument(argument));
    if (session_->changeDirectory(directoryArgument(argument)).ok())
        relist();
}

std::vector<FtpOperation> FtpBrowser::downloadBatch(const std::vector<BrowserRow>& rows)
{
    using Kind = FtpOperation::Kind;
    std::vector<FtpOperation> batch;
    const std::string remoteStart = remoteDirectory_;
    const std::string localStart = localDirectory_;
    std::string remoteArgument;
    if (!quoteForCommand(remoteStart, remoteArgument))
        return batch;
    for (const BrowserRow& row : rows) {
        if (!isSafeLocalName(row.name)) {
            log("Skipped " + row.name);
            continue;
        }
        if (row.isDirectory) {
            addDownloadPlan(batch, FullCompare::joinRemote(remoteStart, row.name), joinLocal(localStart, row.name), 0);
            batch.push_back({ Kind::ChangeDirectory, remoteArgument, {}, -1 });
            batch.push_back({ Kind::ChangeLocalDirectory, localStart, {}, -1 });
        } else {
            batch.push_back({ Kind::Download, joinLocal(localStart, row.name),
                FullCompare::joinRemote(remoteStart, row.name), row.size });
        }
    }
    return batch;
}

void FtpBrowser::addDownloadPlan(
    std::vector<FtpOperation>& batch, const std::string& remote, const std::string& local, int depth)
{
    using Kind = FtpOperation::Kind;
    if (depth > kMaxDepth) {
        log("Skipped " + remote);
        return;
    }
    batch.push_back({ Kind::MakeLocalDirectory, local, {}, -1 });
    for (const RemoteEntry& entry : session_->listEntries(remote)) {
        std::string name = linkName(entry.name);
        if (isDotOrDotDot(name))
            continue;
        if (!isSafeLocalName(name)) {
            log("Skipped " + name);
            continue;
        }
        if (entry.isDirectory)
            addDownloadPlan(batch, FullCompare::joinRemote(remote, name), joinLocal(local, name), depth + 1);
        else
            batch.push_back(
                { Kind::Download, joinLocal(local, name), FullCompare::joinRemote(remote, name), entry.size });
    }
}

std::vector<FtpOperation> FtpBrowser::uploadBatch(const std::vector<BrowserRow>& rows)
{
    using Kind = FtpOperation::Kind;
    std::vector<FtpOperation> batch;
    const std::string remoteStart = remoteDirectory_;
    std::string remoteArgument;
    if (!quoteForCommand(remoteStart, remoteArgument))
        return batch;
    for (const BrowserRow& row : rows) {
        if (isDotOrDotDot(row.name))
            continue;
        if (row.isDirectory) {
            addUploadPlan(batch, localPath(row.name), FullCompare::joinRemote(remoteStart, row.name), 0);
            batch.push_back({ Kind::ChangeDirectory, remoteArgument, {}, -1 });
        } else {
            batch.push_back({ Kind::Upload, localPath(row.name), row.name, row.size });
        }
    }
    return batch;
}

void FtpBrowser::addUploadPlan(
    std::vector<FtpOperation>& batch, const std::string& local, const std::string& remote, int depth)
{
    using Kind = FtpOperation::Kind;
    std::string remoteArgument;
    if (depth > kMaxDepth || !quoteForCommand(remote, remoteArgument)) {
        log("Skipped " + local);
        return;
    }
    batch.push_back({ Kind::MakeAndChangeDirectory, remoteArgument, {}, -1 });
    batch.push_back({ Kind::ChangeDirectory, remoteArgument, {}, -1 });
    for (const LocalEntry& entry : readLocalFolder(local, false)) {
        if (entry.isDirectory) {
            addUploadPlan(batch, joinLocal(local, entry.name), FullCompare::joinRemote(remote, entry.name), depth + 1);
            batch.push_back({ Kind::ChangeDirectory, remoteArgument, {}, -1 });
        } else {
            batch.push_back({ Kind::Upload, joinLocal(local, entry.name), entry.name, entry.size });
        }
    }
    batch.push_back({ Kind::ChangeDirectory, remoteArgument, {}, -1 });
}

std::vector<FtpOperation> FtpBrowser::remoteDeleteBatch(const std::vector<BrowserRow>& rows)
{
    std::vector<FtpOperation> batch;
    for (const BrowserRow& row : rows) {
        // ".." or a name with '/' would reach beyond the folder the user looks at.
        if (!isSafeLocalName(row.name)) {
            log("Skipped " + row.name);
            continue;
        }
        std::string path = FullCompare::joinRemote(remoteDirectory_, row.name);
        if (row.isDirectory)
            addDeletePlan(batch, path, 0);
        else
            batch.push_back({ FtpOperation::Kind::DeleteFile, path, {}, -1 });
    }
    return batch;
}

void FtpBrowser::addDeletePlan(std::vector<FtpOperation>& batch, const std::string& remote, int depth)
{
    using Kind = FtpOperation::Kind;
    if (depth > kMaxDepth) {
        log("Skipped " + remote);
        return;
    }
    std::vector<RemoteEntry> entries = session_->listEntries(remote);
    std::vector<std::string> folders;
    for (const RemoteEntry& entry : entries) {
        std::string name = linkName(entry.name);
        if (isDotOrDotDot(name))
            continue;
        if (!isSafeLocalName(name)) {
            log("Skipped " + name);
            continue;
        }
        if (entry.isDirectory && name == entry.name)
            folders.push_back(name);
        else
            batch.push_back({ Kind::DeleteFile, FullCompare::joinRemote(remote, name), {}, -1 });
    }
    for (const std::string& folder : folders)
        addDeletePlan(batch, FullCompare::joinRemote(remote, folder), depth + 1);
    batch.push_back({ Kind::RemoveDirectory, remote, {}, -1 });
}

std::vector<std::string> FtpBrowser::downloadConflicts(const std::vector<FtpOperation>& batch) const
{
    std::vector<std::string> conflicts;
    for (const FtpOperation& operation : batch) {
        if (operation.kind != FtpOperation::Kind::Download)
            continue;
        int fd = ::open(operation.name1.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            conflicts.push_back(operation.name1);
        }
    }
    return conflicts;
}

std::vector<std::string> FtpBrowser::uploadConflicts(const std::vector<FtpOperation>& batch)
{
    using Kind = FtpOperation::Kind;
    std::map<std::string, std::set<std::string>> listed;
    auto namesIn = [&](const std::string& folder) -> const std::set<std::string>& {
        auto found = listed.find(folder);
        if (found != listed.end())
            return found->second;
        std::set<std::string> names;
        for (const RemoteEntry& entry : session_->listEntries(folder))
            names.insert(linkName(entry.name));
        return listed.emplace(folder, std::move(names)).first->second;
    };
    std::vector<std::string> conflicts;
    std::string folder = remoteDirectory_;
    for (const FtpOperation& operation : batch) {
        if (operation.kind == Kind::ChangeDirectory || operation.kind == Kind::MakeAndChangeDirectory) {
            folder = operation.name1;
            if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"')
                folder = folder.substr(1, folder.size() - 2);
        } else if (operation.kind == Kind::Upload && namesIn(folder).count(operation.name2)) {
            conflicts.push_back(FullCompare::joinRemote(folder, operation.name2));
        }
    }
    return conflicts;
}

int FtpBrowser::deleteFileCount(const std::vector<FtpOperation>& batch)
{
    return static_cast<int>(std::count_if(batch.begin(), batch.end(),
        [](const FtpOperation& operation) { return operation.kind == FtpOperation::Kind::DeleteFile; }));
}

void FtpBrowser::runBatch(const std::vector<FtpOperation>& batch)
{
    FtpEventSink& sink = session_->eventSink();
    sink.onTotalSize(totalSize(batch));
    for (const FtpOperation& operation : batch) {
        if (sink.shouldStop())
            break;
        struct stat existing { };
        if (operation.kind != FtpOperation::Kind::Download || ::lstat(operation.name1.c_str(), &existing) != 0) {
            (void)session_->runOperations({ operation });
            continue;
        }
        // The client never writes over a file; the old copy goes only once the new one is whole.
        std::string scratch;
        struct stat taken { };
        for (int attempt = 0; attempt < 100 && scratch.empty(); ++attempt) {
            std::string candidate = operation.name1 + ".part" + std::to_string(attempt);
            if (::lstat(candidate.c_str(), &taken) != 0)
                scratch = std::move(candidate);
        }
        if (scratch.empty()) {
            sink.onTransferFailed(operation.name1);
            continue;
        }
        const ClientResult result = session_->download(operation.name2, scratch, TransferMode::Image);
        struct stat arrived { };
        if (result.ok() && ::lstat(scratch.c_str(), &arrived) == 0) {
            if (::rename(scratch.c_str(), operation.name1.c_str()) != 0)
                ::unlink(scratch.c_str());
        } else {
            ::unlink(scratch.c_str());
        }
    }
}

bool FtpBrowser::makeLocalDirectory(const std::string& name)
{
    return isSafeLocalName(name) && ::mkdir(localPath(name).c_str(), 0755) == 0;
}

bool FtpBrowser::renameLocal(const std::string& oldName, const std::string& newName)
{
    if (!isSafeLocalName(oldName) || !isSafeLocalName(newName))
        return false;
    return ::renameat2(AT_FDCWD, localPath(oldName).c_str(), AT_FDCWD, localPath(newName).c_str(), RENAME_NOREPLACE)
        == 0;
}

int FtpBrowser::deleteLocalFiles(const std::vector<BrowserRow>& rows)
{
    int deleted = 0;
    for (const BrowserRow& row : rows) {
        if (row.isDirectory || !isSafeLocalName(row.name))
            continue;
        if (::unlink(localPath(row.name).c_str()) == 0)
            ++deleted;
    }
    return deleted;
}

void FtpBrowser::makeRemoteDirectory(const std::string& name)
{
    std::string argument;
    if (name.empty() || !quoteForCommand(name, argument))
        return;
    (void)session_->makeDirectory(directoryArgument(argument));
    relist();
}

void FtpBrowser::renameRemote(const std::string& oldName, const std::string& newName)
{
    if (oldName.empty() || newName.empty())
        return;
    (void)session_->renameFile(oldName, newName);
    relist();
}
