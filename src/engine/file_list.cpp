#include "engine/web_project.h"

#include "engine/run_journal.h"
#include "platform/file_attributes.h"

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

namespace {

// The list's lines into `into`; a missing list (a first run) leaves it empty without a word.
void readRecords(const std::string& path, std::map<std::string, RecordedFile>& into)
{
    std::optional<std::string> content = path.empty() ? std::nullopt : readWholeFile(path);
    if (!content) {
        struct stat info { };
        if (!path.empty() && (::stat(path.c_str(), &info) == 0 || errno != ENOENT))
            std::printf("Error opening %s\n", path.c_str());
        return;
    }
    std::string_view rest = *content;
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        // The value holds no "=", a path may: split at the last one.
        size_t equals = line.rfind('=');
        if (equals == std::string_view::npos)
            continue;
        std::optional<RecordedFile> record = parseRecordedFile(line.substr(equals + 1));
        if (!record)
            continue;
        // The first line for a path wins.
        into.emplace(std::string(line.substr(0, equals)), *record);
    }
}

} // namespace

void WebProject::ReadFileList()
{
    timeMap.clear();
    journalUploads_.clear();
    marksToClear_.clear();
    readRecords(filelist.empty() ? fileListPath() : filelist, timeMap);
    // A run killed before its end left the list as it was before that run; what the servers
    // had confirmed by then is in the journal.
    const std::string journal = journalPath();
    std::optional<RunJournal::Confirmed> confirmed = journal.empty() ? std::nullopt : RunJournal::read(journal);
    if (!confirmed)
        return;
    for (const auto& [file, record] : confirmed->uploads)
        timeMap[file] = record;
    for (const std::string& file : confirmed->deletions)
        timeMap.erase(file);
    journalUploads_ = std::move(confirmed->uploads);
}

bool WebProject::WriteFileList()
{
    if (filelist.empty() || scanFailed)
        return false;
    filelist = fileListPath();
    std::string content;
    for (const FileItem& item : items) {
        // A line break in a name would make the rest of the line read back as another path;
        // leaving the file out only means it is sent again next time.
        if (item.path.find('\n') != std::string::npos)
            continue;
        if (!item.changed && !item.failed && !item.deleted) {
            appendRecordedFile(content, item.path, { item.mtime, item.mtimeNanoseconds, item.size });
            continue;
        }
        // A file that failed keeps what was recorded before: its server copy is still the
        // recorded one, so the next run compares against it again (and a deletion that did
        // not happen is found again).
        if (item.failed) {
            auto recorded = timeMap.find(item.path);
            if (recorded != timeMap.end())
                appendRecordedFile(content, item.path, recorded->second);
        }
    }
    if (!writeFileAtomically(filelist, content)) {
        std::printf("Error opening %s\n", filelist.c_str());
        return false;
    }
    if (fileAttributes != nullptr)
        for (const std::string& path : marksToClear_)
            (void)fileAttributes->clearArchive(path);
    marksToClear_.clear();
    journalUploads_.clear();
    // Everything it held is in the list now (or was sent again and recorded anew).
    (void)::unlink(journalPath().c_str());
    return true;
}
