#include "engine/run_record.h"

#include "platform/file_attributes.h"
#include "platform/file_utils.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

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

void RunRecord::load(const std::string& fileList, const std::string& journal)
{
    timeMap.clear();
    journalUploads_.clear();
    marksToClear_.clear();
    unfinished_.clear();
    begunAs_.clear();
    readRecords(fileList, timeMap);
    // A run killed before its end left the list as it was before that run; what the servers
    // had confirmed by then is in the journal.
    std::optional<RunJournal::Confirmed> confirmed = journal.empty() ? std::nullopt : RunJournal::read(journal);
    if (!confirmed)
        return;
    for (const auto& [file, record] : confirmed->uploads)
        timeMap[file] = record;
    for (const std::string& file : confirmed->deletions)
        timeMap.erase(file);
    journalUploads_ = std::move(confirmed->uploads);
    unfinished_ = std::move(confirmed->unfinished);
    begunAs_ = std::move(confirmed->begunAs);
}

bool RunRecord::confirmedAsFound(const std::string& path, const RecordedFile& found)
{
    const auto confirmed = journalUploads_.find(path);
    if (confirmed == journalUploads_.end()
        || confirmed->second.differsFrom(found.seconds, found.nanoseconds, found.size))
        return false;
    marksToClear_.push_back(path);
    return true;
}

bool RunRecord::beginRun(const std::string& journal, int siteCount)
{
    sites_ = siteCount;
    return journal.empty() || journal_.open(journal, siteCount);
}

void RunRecord::confirmUpload(int site, const std::string& path, const RecordedFile& record)
{
    journal_.recordUpload(site, path, record);
    std::lock_guard lock(unfinishedMutex_);
    unfinished_.erase({ site, path });
    begunAs_.erase({ site, path });
}

void RunRecord::noteBegun(int site, const std::string& path, const RecordedFile* asBegun)
{
    journal_.recordBegun(site, path, asBegun);
    std::lock_guard lock(unfinishedMutex_);
    unfinished_.insert({ site, path });
    if (asBegun != nullptr)
        begunAs_[{ site, path }] = *asBegun;
    else
        begunAs_.erase({ site, path });
}

std::optional<RecordedFile> RunRecord::begunAs(int site, const std::string& path)
{
    std::lock_guard lock(unfinishedMutex_);
    const auto found = begunAs_.find({ site, path });
    return found == begunAs_.end() ? std::nullopt : std::optional<RecordedFile>(found->second);
}

void RunRecord::confirmPartRemoved(int site, const std::string& path)
{
    std::lock_guard lock(unfinishedMutex_);
    unfinished_.erase({ site, path });
    begunAs_.erase({ site, path });
}

bool RunRecord::keepOnlyUnfinished(const std::string& journal)
{
    std::lock_guard lock(unfinishedMutex_);
    if (unfinished_.empty())
        return ::unlink(journal.c_str()) == 0 || errno == ENOENT;
    int sites = sites_;
    for (const auto& [site, path] : unfinished_)
        sites = std::max(sites, site);
    RunJournal kept;
    const std::string fresh = journal + ".new";
    (void)::unlink(fresh.c_str());
    if (!kept.open(fresh, sites))
        return false;
    for (const auto& key : unfinished_) {
        const auto asBegun = begunAs_.find(key);
        kept.recordBegun(key.first, key.second, asBegun != begunAs_.end() ? &asBegun->second : nullptr);
    }
    kept.close();
    return ::rename(fresh.c_str(), journal.c_str()) == 0;
}

void RunRecord::confirmDeletion(int site, const std::string& path)
{
    journal_.recordDeletion(site, path);
}

void RunRecord::endRun()
{
    journal_.close();
}

bool RunRecord::commit(
    const std::string& fileList, const std::string& journal, const std::vector<FileItem>& items, FileAttributes* marks)
{
    std::string content;
    for (const FileItem& item : items) {
        // A line break in a name would make the rest of the line read back as another path;
        // leaving the file out only means it is sent again next time.
        if (item.path.find('\n') != std::string::npos)
            continue;
        if (!item.changed && !item.failed && !item.deleted) {
            appendRecordedFile(content, item.path, recordOf(item));
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
    if (!writeFileAtomically(fileList, content)) {
        std::printf("Error opening %s\n", fileList.c_str());
        return false;
    }
    if (marks != nullptr)
        for (const std::string& path : marksToClear_)
            (void)marks->clearArchive(path);
    marksToClear_.clear();
    journalUploads_.clear();
    // Everything it held is in the list now (or was sent again and recorded anew), but for
    // the uploads still unfinished: their parts are removed by the next run.
    if (!journal.empty())
        (void)keepOnlyUnfinished(journal);
    return true;
}
