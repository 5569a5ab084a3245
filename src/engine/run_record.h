#pragma once

#include "engine/file_item.h"
#include "engine/run_journal.h"

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class FileAttributes;

// What the project knows its servers hold, in the three places that must change together: the
// file list (rewritten when a run finishes), the journal of the run under way (each
// confirmation as it arrives, so a killed run loses nothing) and the archive marks a journal
// showed to be stale. Nothing else writes them: detection reads the record, a run confirms
// into it, and commit() makes the outcome the new file list.
//
// Confirmations may come from several connections at once; everything else belongs to the
// thread that runs the project.
class RunRecord {
public:
    // The file list as loaded, with what an unfinished run's journal confirmed folded in.
    std::map<std::string, RecordedFile> timeMap;

    // Reads `fileList` (a missing one is a first run; an unreadable one is reported and reads
    // empty, so everything counts as changed) and folds in what `journal` confirmed. Either
    // path may be empty: nothing is kept there.
    void load(const std::string& fileList, const std::string& journal);
    // For the archive-mark strategies: whether the last unfinished run confirmed `path` as it
    // is found now, although its mark is set; the mark then goes at commit().
    [[nodiscard]] bool confirmedAsFound(const std::string& path, const RecordedFile& found);

    // Starts a segment of the `journal` for a run to `siteCount` sites; false (errno set) when
    // it cannot be written, and then nothing may be sent. True when `journal` is empty.
    [[nodiscard]] bool beginRun(const std::string& journal, int siteCount);
    // `site` is 1-based.
    void confirmUpload(int site, const std::string& path, const RecordedFile& record);
    void confirmDeletion(int site, const std::string& path);
    // An upload of `path` to `site` is about to put a part file there: until it is
    // confirmed, a later run knows to remove that part (see unfinishedUploads).
    // `asBegun` (may be nullptr): the local file as the upload begins, for resumeFrom().
    void noteBegun(int site, const std::string& path, const RecordedFile* asBegun);
    // The local file as the unfinished upload of `path` to `site` began, when that is known.
    [[nodiscard]] std::optional<RecordedFile> begunAs(int site, const std::string& path);
    // The part file of an upload an earlier run left unfinished is gone from `site`.
    void confirmPartRemoved(int site, const std::string& path);
    // (site, local path) of uploads that earlier runs began and no run finished since.
    [[nodiscard]] const std::set<std::pair<int, std::string>>& unfinishedUploads() const { return unfinished_; }
    void endRun();

    // Writes every item without changed, failed and deleted marks to `fileList`; a failed
    // item keeps what was recorded for it before. Then the stale marks are cleared (through
    // `marks`, when given) and `journal` goes. False when the list could not be written: the
    // journal then stays, so the confirmations are not lost.
    [[nodiscard]] bool commit(const std::string& fileList, const std::string& journal,
        const std::vector<FileItem>& items, FileAttributes* marks);

private:
    // What commit() leaves of the journal: the uploads still unfinished, for the next run.
    [[nodiscard]] bool keepOnlyUnfinished(const std::string& journal);

    RunJournal journal_;
    // Shared by the connections of a run.
    std::mutex unfinishedMutex_;
    std::set<std::pair<int, std::string>> unfinished_;
    std::map<std::pair<int, std::string>, RecordedFile> begunAs_;
    int sites_ = 1;
    // Uploads the unfinished run's journal confirmed (see confirmedAsFound).
    std::map<std::string, RecordedFile> journalUploads_;
    std::vector<std::string> marksToClear_;
};
