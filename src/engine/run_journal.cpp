#include "engine/run_journal.h"

#include "platform/file_utils.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <set>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::string_view kHeader = "tarnwick journal 1 sites=";
// A confirmation reaches the kernel at once, so it outlives the process; it reaches the disk
// (and outlives a power cut) within this time. Syncing every line would cost a disk flush
// per file.
constexpr std::chrono::milliseconds kSyncInterval { 300 };

bool writeAll(int descriptor, std::string_view text)
{
    while (!text.empty()) {
        ssize_t written = ::write(descriptor, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// "N REST": the site number and what follows its blank.
bool splitSite(std::string_view text, int& site, std::string_view& rest)
{
    size_t blank = text.find(' ');
    if (blank == 0 || blank == std::string_view::npos || blank > 4)
        return false;
    site = 0;
    for (char c : text.substr(0, blank)) {
        if (c < '0' || c > '9')
            return false;
        site = site * 10 + (c - '0');
    }
    rest = text.substr(blank + 1);
    return site >= 1 && !rest.empty();
}

// A record as recordBegun writes it: time with its fraction and a size, nothing less; text
// that merely looks like one is part of a path.
std::optional<RecordedFile> parseBegunRecord(std::string_view text)
{
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    std::optional<RecordedFile> record = parseRecordedFile(text);
    if (record && (record->nanoseconds < 0 || record->size < 0))
        return std::nullopt;
    return record;
}

// One run's confirmations, per file the set of sites that confirmed it.
struct Segment {
    int sites = 0;
    std::map<std::string, std::pair<RecordedFile, std::vector<bool>>> uploads;
    std::map<std::string, std::vector<bool>> deletions;
    std::set<std::pair<int, std::string>> begun;
    std::map<std::pair<int, std::string>, RecordedFile> begunAs;

    void fold(RunJournal::Confirmed& into) const
    {
        for (const auto& [path, upload] : uploads)
            for (size_t site = 0; site < upload.second.size(); ++site)
                if (upload.second[site])
                    into.unfinished.erase({ static_cast<int>(site + 1), path });
        for (const auto& key : begun) {
            into.unfinished.insert(key);
            // A later begin without a record (an older version) says nothing of the file.
            if (const auto record = begunAs.find(key); record != begunAs.end())
                into.begunAs[key] = record->second;
            else
                into.begunAs.erase(key);
        }
        std::erase_if(into.begunAs, [&into](const auto& entry) { return !into.unfinished.contains(entry.first); });
        const auto everySite = [](const std::vector<bool>& seen) {
            for (bool one : seen)
                if (!one)
                    return false;
            return true;
        };
        for (const auto& [path, upload] : uploads) {
            if (!everySite(upload.second))
                continue;
            into.uploads[path] = upload.first;
            into.deletions.erase(path);
        }
        for (const auto& [path, seen] : deletions) {
            if (!everySite(seen))
                continue;
            into.deletions.insert(path);
            into.uploads.erase(path);
        }
    }
};

} // namespace

RunJournal::~RunJournal()
{
    close();
}

bool RunJournal::open(const std::string& path, int siteCount)
{
    std::lock_guard lock(mutex_);
    if (descriptor_ >= 0)
        ::close(descriptor_);
    descriptor_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (descriptor_ < 0)
        return false;
    // A line a crash cut short must neither swallow the header that follows it nor pass for
    // a whole one.
    if (std::optional<std::string> before = readWholeFile(path); before && !before->empty() && before->back() != '\n') {
        const size_t lastEnd = before->rfind('\n');
        (void)::ftruncate(descriptor_, lastEnd == std::string::npos ? 0 : static_cast<off_t>(lastEnd + 1));
    }
    const std::string header = std::string(kHeader) + std::to_string(siteCount) + '\n';
    if (!writeAll(descriptor_, header)) {
        ::close(descriptor_);
        descriptor_ = -1;
        return false;
    }
    (void)::fdatasync(descriptor_);
    lastSync_ = std::chrono::steady_clock::now();
    return true;
}

bool RunJournal::isOpen() const
{
    return descriptor_ >= 0;
}

std::string RunJournal::recordText(const std::string& path, const RecordedFile& record)
{
    std::string text;
    appendRecordedFile(text, path, record);
    text.pop_back();
    return text;
}

void RunJournal::recordUpload(int site, const std::string& path, const RecordedFile& record)
{
    append("u " + std::to_string(site) + ' ' + recordText(path, record) + '\n');
}

void RunJournal::recordDeletion(int site, const std::string& path)
{
    append("d " + std::to_string(site) + ' ' + path + '\n');
}

void RunJournal::recordBegun(int site, const std::string& path, const RecordedFile* asBegun)
{
    append("b " + std::to_string(site) + ' ' + (asBegun != nullptr ? recordText(path, *asBegun) : path) + '\n');
}

void RunJournal::append(const std::string& line)
{
    // The file list cannot hold a name with a line break either: such a file is sent again.
    if (line.find('\n') != line.size() - 1)
        return;
    std::lock_guard lock(mutex_);
    if (descriptor_ < 0)
        return;
    // One write per line: with O_APPEND the kernel never interleaves two of them.
    if (!writeAll(descriptor_, line))
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSync_ >= kSyncInterval) {
        (void)::fdatasync(descriptor_);
        lastSync_ = now;
    }
}

void RunJournal::close()
{
    std::lock_guard lock(mutex_);
    if (descriptor_ < 0)
        return;
    (void)::fdatasync(descriptor_);
    ::close(descriptor_);
    descriptor_ = -1;
}

std::optional<RunJournal::Confirmed> RunJournal::read(const std::string& path)
{
    std::optional<std::string> content = readWholeFile(path);
    if (!content)
        return std::nullopt;
    Confirmed confirmed;
    std::optional<Segment> segment;
    std::string_view rest = *content;
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        if (end == std::string_view::npos)
            break; // cut short by a crash: not confirmed
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        if (line.starts_with(kHeader)) {
            if (segment)
                segment->fold(confirmed);
            segment.reset();
            int sites = 0;
            std::string_view count = line.substr(kHeader.size());
            if (count.empty() || count.size() > 4)
                continue;
            for (char c : count)
                sites = c >= '0' && c <= '9' && sites >= 0 ? sites * 10 + (c - '0') : -1;
            if (sites >= 1)
                segment = Segment { sites, {}, {}, {}, {} };
            continue;
        }
        // Lines before any readable header belong to no run whose sites are known.
        if (!segment || line.size() < 3 || line[1] != ' ')
            continue;
        int site = 0;
        std::string_view body;
        if (!splitSite(line.substr(2), site, body) || site > segment->sites)
            continue;
        const size_t index = static_cast<size_t>(site - 1);
        if (line[0] == 'u') {
            size_t equals = body.rfind('=');
            if (equals == std::string_view::npos || equals == 0)
                continue;
            std::optional<RecordedFile> record = parseRecordedFile(body.substr(equals + 1));
            if (!record)
                continue;
            auto& entry = segment->uploads[std::string(body.substr(0, equals))];
            // Another record for the same file (edited and sent again) starts its count over.
            if (entry.second.empty() || !(entry.first == *record))
                entry = { *record, std::vector<bool>(static_cast<size_t>(segment->sites), false) };
            entry.second[index] = true;
            segment->begun.erase({ site, std::string(body.substr(0, equals)) });
        } else if (line[0] == 'b') {
            // A path may hold "=": only a readable record after the last one makes it a record.
            const size_t equals = body.rfind('=');
            std::optional<RecordedFile> record = equals == std::string_view::npos || equals == 0
                ? std::nullopt
                : parseBegunRecord(body.substr(equals + 1));
            const std::pair<int, std::string> key { site, std::string(record ? body.substr(0, equals) : body) };
            segment->begun.insert(key);
            if (record)
                segment->begunAs[key] = *record;
            else
                segment->begunAs.erase(key);
        } else if (line[0] == 'd') {
            auto& seen = segment->deletions[std::string(body)];
            if (seen.empty())
                seen.assign(static_cast<size_t>(segment->sites), false);
            seen[index] = true;
        }
    }
    if (segment)
        segment->fold(confirmed);
    return confirmed;
}
