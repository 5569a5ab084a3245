#include "platform/folder_watch.h"

#include "platform/file_utils.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM
    | IN_MOVED_TO | IN_DELETE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

// A folder inside itself through links is not followed (IN_DONT_FOLLOW, no links read), but
// a deep tree still ends somewhere.
constexpr int kMaxDepth = 128;

std::string joined(const std::string& folder, const std::string& name)
{
    return folder + "/" + name;
}

} // namespace

bool FolderWatch::start(const std::string& root)
{
    inotify_.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (inotify_.get() < 0) {
        error_ = "cannot watch " + root + ": " + errorText(errno);
        return false;
    }
    folders_.clear();
    error_.clear();
    watchTree(root, nullptr, 0);
    return error_.empty();
}

void FolderWatch::watchTree(const std::string& folder, FolderChanges* changes, int depth)
{
    const int watch = ::inotify_add_watch(inotify_.get(), folder.c_str(), kFolderEvents);
    if (watch < 0) {
        // A folder that went again at once is no error; the limit of watches is.
        if (errno != ENOENT && errno != ENOTDIR && error_.empty())
            error_ = "cannot watch " + folder + ": " + errorText(errno)
                + (errno == ENOSPC ? " (raise fs.inotify.max_user_watches)" : "");
        return;
    }
    folders_[watch] = folder;
    if (changes != nullptr)
        changes->subtrees.insert(folder);
    if (depth >= kMaxDepth)
        return;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir)
        return;
    std::vector<std::string> below;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (entry->d_type != DT_DIR || std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        below.push_back(joined(folder, entry->d_name));
    }
    dir.reset();
    for (const std::string& inner : below)
        watchTree(inner, changes, depth + 1);
}

void FolderWatch::collect(FolderChanges& changes)
{
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(inotify_.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            handle(event->wd, event->mask, event->len > 0 ? std::string(event->name) : std::string(), changes);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

void FolderWatch::handle(int watch, unsigned mask, const std::string& name, FolderChanges& changes)
{
    if (mask & IN_Q_OVERFLOW) {
        changes.overflow = true;
        return;
    }
    const auto folder = folders_.find(watch);
    if (folder == folders_.end())
        return;
    if (mask & IN_IGNORED) {
        folders_.erase(folder);
        return;
    }
    if (mask & IN_DELETE_SELF) {
        changes.subtrees.insert(folder->second);
        return;
    }
    const std::string path = joined(folder->second, name);
    if (mask & IN_ISDIR) {
        if (mask & (IN_CREATE | IN_MOVED_TO))
            watchTree(path, &changes, 0);
        else if (mask & (IN_DELETE | IN_MOVED_FROM))
            changes.subtrees.insert(path);
        changes.folders.insert(folder->second);
        return;
    }
    // Written to (or made, which opens it) but not closed: sending it now could send half
    // of it. A link or a special file is made without an open.
    struct stat info { };
    if ((mask & IN_MODIFY)
        || ((mask & IN_CREATE) && ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))) {
        changes.writing.insert(path);
        if (mask & IN_MODIFY)
            return;
    }
    if (mask & IN_CLOSE_WRITE)
        changes.writing.erase(path);
    changes.folders.insert(folder->second);
}
