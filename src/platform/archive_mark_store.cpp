#include "platform/archive_mark_store.h"

#include "platform/file_lock.h"
#include "platform/file_utils.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <iterator>
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
    marks_ = content ? parse(*content) : Marks();
    nextMark_ = 0;
    changes_.clear();
}

ArchiveMarkStore::Marks ArchiveMarkStore::parse(std::string_view content)
{
    // Line form: "<mtime ns> <size> <inode> <absolute path>\n". A line that does not parse, or
    // a last line without its line feed (a cut-off store), is dropped: its file then counts as
    // changed, which costs an upload but never skips one.
    Marks marks;
    marks.reserve(static_cast<size_t>(std::count(content.begin(), content.end(), '\n')));
    std::string_view rest = content;
    for (size_t end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        Stamp stamp;
        if (!takeNumber(line, stamp.mtimeNanoseconds) || !takeNumber(line, stamp.size) || !takeNumber(line, stamp.inode)
            || line.empty() || line.front() != '/' || line.find('\0') != std::string_view::npos)
            continue;
        marks.push_back({ std::string(line), stamp });
    }
    // save() writes the lines sorted; a store put together otherwise is sorted here, the last
    // line for a path winning.
    auto byPath = [](const Mark& a, const Mark& b) { return a.path < b.path; };
    if (std::adjacent_find(marks.begin(), marks.end(), [](const Mark& a, const Mark& b) { return !(a.path < b.path); })
        == marks.end())
        return marks;
    std::stable_sort(marks.begin(), marks.end(), byPath);
    size_t kept = 0;
    for (size_t i = 0; i < marks.size(); ++i) {
        if (i + 1 < marks.size() && marks[i].path == marks[i + 1].path)
            continue;
        if (kept != i)
            marks[kept] = std::move(marks[i]);
        ++kept;
    }
    marks.resize(kept);
    return marks;
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
    Marks onDisk = current ? parse(*current) : Marks();
    Marks cleared;
    cleared.reserve(changes_.size());
    for (const auto& [path, stamp] : changes_)
        cleared.push_back({ path, stamp });
    std::sort(cleared.begin(), cleared.end(), [](const Mark& a, const Mark& b) { return a.path < b.path; });
    // The marks cleared here win over the same file's mark on disk.
    Marks merged;
    merged.reserve(onDisk.size() + cleared.size());
    auto disk = onDisk.begin();
    for (Mark& mark : cleared) {
        for (; disk != onDisk.end() && disk->path < mark.path; ++disk)
            merged.push_back(std::move(*disk));
        if (disk != onDisk.end() && disk->path == mark.path)
            ++disk;
        merged.push_back(std::move(mark));
    }
    std::move(disk, onDisk.end(), std::back_inserter(merged));

    std::string content;
    for (const Mark& mark : merged) {
        // A path with a line feed cannot be one line; its file simply counts as changed next run.
        if (mark.path.find('\n') != std::string::npos)
            continue;
        // Files that are gone take their marks with them, so the store does not grow forever.
        struct stat info { };
        if (::lstat(mark.path.c_str(), &info) != 0 && errno == ENOENT)
            continue;
        content += std::to_string(mark.stamp.mtimeNanoseconds);
        content += ' ';
        content += std::to_string(mark.stamp.size);
        content += ' ';
        content += std::to_string(mark.stamp.inode);
        content += ' ';
        content += mark.path;
        content += '\n';
    }
    if (!writeFileAtomically(storePath_, content, 0600))
        return false;
    marks_ = std::move(merged);
    nextMark_ = 0;
    changes_.clear();
    return true;
}

const ArchiveMarkStore::Stamp* ArchiveMarkStore::markOf(const std::string& key)
{
    if (!changes_.empty())
        if (auto changed = changes_.find(key); changed != changes_.end())
            return &changed->second;
    if (nextMark_ < marks_.size() && marks_[nextMark_].path == key)
        return &marks_[nextMark_++].stamp;
    auto found = std::lower_bound(
        marks_.begin(), marks_.end(), key, [](const Mark& mark, const std::string& path) { return mark.path < path; });
    nextMark_ = static_cast<size_t>(found - marks_.begin());
    if (found == marks_.end() || found->path != key)
        return nullptr;
    ++nextMark_;
    return &found->stamp;
}

ArchiveMarkStore::Stamp ArchiveMarkStore::stampOf(const struct stat& info)
{
    return { static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
        static_cast<int64_t>(info.st_size), static_cast<uint64_t>(info.st_ino) };
}

bool ArchiveMarkStore::isArchiveSet(const std::string& path)
{
    struct stat info { };
    if (path.empty() || ::stat(path.c_str(), &info) != 0)
        return true;
    return differsFromMark(path, stampOf(info));
}

bool ArchiveMarkStore::isArchiveSetFor(const std::string& path, const FoundFile& found)
{
    return path.empty() || differsFromMark(path, { found.mtimeNanoseconds, found.size, found.inode });
}

bool ArchiveMarkStore::differsFromMark(const std::string& path, const Stamp& current)
{
    // An absolute path is its own key: copying it for every file of a large site would cost
    // more than the lookup.
    const bool absolute = path.front() == '/';
    std::string relativeKey = absolute ? std::string() : absolutePath(path);
    const std::string& key = absolute ? path : relativeKey;
    std::lock_guard lock(mutex_);
    const Stamp* mark = markOf(key);
    return mark == nullptr || !(*mark == current);
}

bool ArchiveMarkStore::clearArchive(const std::string& path)
{
    std::string key = absolutePath(path);
    struct stat info { };
    if (key.empty() || ::stat(key.c_str(), &info) != 0)
        return false;
    std::lock_guard lock(mutex_);
    changes_[key] = stampOf(info);
    return true;
}
