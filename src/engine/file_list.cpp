#include "engine/web_project.h"

#include "platform/file_utils.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Decimal digits at `i`, moving past them; nullopt when there are none or they overflow.
std::optional<int64_t> parseDigits(std::string_view text, size_t& i)
{
    size_t start = i;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        if (value > (INT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (i == start)
        return std::nullopt;
    return value;
}

// The tags after the size, each after a blank. A tag not known here, or one that cannot be
// read, is skipped: a damaged digest only means the file is read again.
void readTags(std::string_view text, RecordedFile& record)
{
    constexpr std::string_view kDigest = "xxh3:";
    constexpr std::string_view kInode = "inode:";
    while (!text.empty()) {
        const size_t blank = text.find(' ');
        std::string_view tag = text.substr(0, blank);
        text.remove_prefix(blank == std::string_view::npos ? text.size() : blank + 1);
        if (tag.starts_with(kDigest)) {
            record.digest = ContentDigest::fromHex(tag.substr(kDigest.size()));
        } else if (tag.starts_with(kInode)) {
            size_t i = kInode.size();
            std::optional<int64_t> inode = parseDigits(tag, i);
            record.inode = inode && i == tag.size() ? static_cast<uint64_t>(*inode) : 0;
        }
    }
}

} // namespace

// The value after the last "=": optional blanks, an optional "-", the seconds, then
// optionally "." and the fraction of a second and, after a blank, the size. Older lists hold
// the seconds alone (and a line whose seconds overflow 64 bits cannot come from any writer:
// it is dropped). Whatever follows a part that cannot be read is ignored.
std::optional<RecordedFile> parseRecordedFile(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = i < text.size() && text[i] == '-';
    if (negative)
        ++i;
    size_t start = i;
    std::optional<int64_t> seconds = parseDigits(text, i);
    if (!seconds && i != start)
        return std::nullopt;
    // No digits at all has always read as time 0.
    RecordedFile record(negative ? -seconds.value_or(0) : seconds.value_or(0));
    if (i < text.size() && text[i] == '.') {
        size_t fractionStart = ++i;
        int64_t fraction = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            if (i - fractionStart < 9)
                fraction = fraction * 10 + (text[i] - '0');
        }
        size_t length = i - fractionStart;
        if (length == 0)
            return record;
        for (size_t scale = length; scale < 9; ++scale)
            fraction *= 10;
        record.nanoseconds = static_cast<int32_t>(fraction);
    }
    if (i < text.size() && text[i] == ' ') {
        ++i;
        if (std::optional<int64_t> size = parseDigits(text, i))
            record.size = *size;
    }
    readTags(text.substr(i), record);
    return record;
}

void appendRecordedFile(std::string& content, const std::string& path, const RecordedFile& record)
{
    content += path;
    content += '=';
    content += std::to_string(record.seconds);
    if (record.nanoseconds >= 0) {
        char fraction[16];
        std::snprintf(fraction, sizeof fraction, ".%09d", static_cast<int>(record.nanoseconds));
        content += fraction;
    }
    if (record.size >= 0) {
        content += ' ';
        content += std::to_string(record.size);
    }
    // Never without a letter in front: an older reader takes digits after a blank for the size.
    if (record.digest) {
        content += " xxh3:";
        content += record.digest->hex();
    }
    if (record.inode != 0) {
        content += " inode:";
        content += std::to_string(record.inode);
    }
    content += '\n';
}

std::string WebProject::fileListPath() const
{
    if (!projectPath.empty())
        return projectPath + ".txt";
    return filelist;
}

std::string WebProject::journalPath() const
{
    if (filelist.empty())
        return {};
    return fileListPath() + ".journal";
}

void WebProject::ReadFileList()
{
    record.load(filelist.empty() ? fileListPath() : filelist, journalPath());
}

bool WebProject::WriteFileList()
{
    if (filelist.empty() || scanFailed)
        return false;
    filelist = fileListPath();
    return record.commit(filelist, journalPath(), items, fileAttributes);
}

bool stillAsScanned(const FileItem& item)
{
    struct stat info { };
    return ::stat(item.path.c_str(), &info) == 0 && static_cast<int64_t>(info.st_mtim.tv_sec) == item.mtime
        && static_cast<int32_t>(info.st_mtim.tv_nsec) == item.mtimeNanoseconds
        && static_cast<int64_t>(info.st_size) == item.size;
}
