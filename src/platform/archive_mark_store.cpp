#include "platform/archive_mark_store.h"

#include "platform/file_lock.h"
#include "platform/file_utils.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

// Marks are kept by absolute path so that one store serves every project and folder.
std::string absolutePath(const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return path;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

template <typename Number> bool takeNumber(std::string_view& text, Number& value)
{
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() || end == text.data() + text.size() || *end != ' ')
        return false;
    text.remove_prefix(static_cast<size_t>(end - text.data()) + 1);
    return true;
}

} // namespace

ArchiveMarkStore::ArchiveMarkStore(std::string storePath)
    : storePath_(std::move(storePath))
{
}

void ArchiveMarkStore::load()
{
    std::optional<std::string> content = readWholeFile(storePath_);
    std::lock_guard lock(mutex_);
    stamps_ = content ? parse(*content) : Stamps();
    changes_.clear();
}

ArchiveMarkStore::Stamps ArchiveMarkStore::parse(std::string_view content)
{
    // Line form: "<mtime ns> <size> <inode> <absolute path>\n". A line that does not parse, or
    // a last line without its line feed (a cut-off store), is dropped: its file then counts as
    // changed, which costs an upload but never skips one.
    Stamps stamps;
    std::string_view rest = content;
    for (size_t end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        Stamp stamp;
        if (!takeNumber(line, stamp.mtimeNanoseconds) || !takeNumber(line, stamp.size) || !takeNumber(line, stamp.inode)
            || line.empty() || line.front() != '/' || line.find('\0') != std::string_view::npos)
            continue;
        stamps[std::string(line)] = stamp;
    }
    return stamps;
}

bool ArchiveMarkStore::save()
{
    std::lock_guard lock(mutex_);
    if (changes_.empty())
        return true;
    // Without the lock (a folder that refuses the lock file) the store is still written: a
    // lost mark costs an upload, a store never written costs every upload.
    FileLock storeLock;
    (void)storeLock.lock(storePath_ + ".lock", FileLock::Wait::UntilFree);
    std::optional<std::string> current = readWholeFile(storePath_);
    Stamps merged = current ? parse(*current) : Stamps();
    for (const auto& [path, stamp] : changes_)
        merged[path] = stamp;

    std::vector<const std::pair<const std::string, Stamp>*> entries;
    entries.reserve(merged.size());
    for (const auto& entry : merged) {
        // A path with a line feed cannot be one line; its file simply counts as changed next run.
        if (entry.first.find('\n') != std::string::npos)
            continue;
        // Files that are gone take their marks with them, so the store does not grow forever.
        struct stat info { };
        if (::lstat(entry.first.c_str(), &info) != 0 && errno == ENOENT)
            continue;
        entries.push_back(&entry);
    }
    std::sort(entries.begin(), entries.end(), [](auto* a, auto* b) { return a->first < b->first; });
    std::string content;
    for (const auto* entry : entries) {
        content += std::to_string(entry->second.mtimeNanoseconds);
        content += ' ';
        content += std::to_string(entry->second.size);
        content += ' ';
        content += std::to_string(entry->second.inode);
        content += ' ';
        content += entry->first;
        content += '\n';
    }
    if (!writeFileAtomically(storePath_, content, 0600))
        return false;
    stamps_ = std::move(merged);
    changes_.clear();
    return true;
}

bool ArchiveMarkStore::isArchiveSet(const std::string& path)
{
    std::string key = absolutePath(path);
    struct stat info { };
    if (::stat(key.c_str(), &info) != 0)
        return true;
    Stamp current { static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
        static_cast<int64_t>(info.st_size), static_cast<uint64_t>(info.st_ino) };
    std::lock_guard lock(mutex_);
    auto found = stamps_.find(key);
    return found == stamps_.end() || !(found->second == current);
}

bool ArchiveMarkStore::clearArchive(const std::string& path)
{
    std::string key = absolutePath(path);
    struct stat info { };
    if (key.empty() || ::stat(key.c_str(), &info) != 0)
        return false;
    Stamp current { static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
        static_cast<int64_t>(info.st_size), static_cast<uint64_t>(info.st_ino) };
    std::lock_guard lock(mutex_);
    stamps_[key] = current;
    changes_[key] = current;
    return true;
}
