#pragma once

#include "engine/file_item.h"

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

// What the servers confirmed during a run, written down as it happens. The file list is
// rewritten only when a run finishes; a run killed before that (SIGKILL, a power cut) would
// otherwise lose every confirmation, and the next run would send everything again. The next
// run folds the journal in before it looks for changes.
//
// One journal file holds one segment per run that did not finish, each opened by a header
// naming the number of sites of that run:
//     tarnwick journal 1 sites=2
//     u 1 /home/u/web/a.html=1165500000.123456789 4096
//     d 2 /home/u/web/old.html
//     b 1 /home/u/web/big.pdf=1165500000.123456789 734003200 inode:1234
// "b" marks an upload begun under a part name: unless the same site confirmed it since, its
// part file may still lie on that server. The local file as it was when the upload began
// tells a later run whether the part may be continued; journals of older versions name the
// path alone.
// A file counts as confirmed only when every site of its segment confirmed it. A line cut
// short by a crash (no line end) is ignored.
//
// Appending is safe from several threads at once.
class RunJournal {
public:
    RunJournal() = default;
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Starts a segment for a run to `siteCount` sites, after whatever the file holds. False
    // when the file cannot be written: the run then goes on with only its final record.
    [[nodiscard]] bool open(const std::string& path, int siteCount);
    [[nodiscard]] bool isOpen() const;
    // `site` is 1-based.
    void recordUpload(int site, const std::string& path, const RecordedFile& record);
    void recordDeletion(int site, const std::string& path);
    // `asBegun` (may be nullptr): the local file when the upload began.
    void recordBegun(int site, const std::string& path, const RecordedFile* asBegun);
    // Forces what was written to the disk and closes the file.
    void close();

    // What earlier runs had confirmed to all their sites, segment after segment.
    struct Confirmed {
        std::map<std::string, RecordedFile> uploads;
        std::set<std::string> deletions;
        // (site, local path) of uploads begun and not confirmed by that site since.
        std::set<std::pair<int, std::string>> unfinished;
        // The local file as the last of those uploads began, where the journal says.
        std::map<std::pair<int, std::string>, RecordedFile> begunAs;
        [[nodiscard]] bool empty() const { return uploads.empty() && deletions.empty(); }
    };
    // nullopt when there is no journal (or it cannot be read).
    [[nodiscard]] static std::optional<Confirmed> read(const std::string& path);

    // "PATH=SECONDS.NNNNNNNNN SIZE", as a file-list line without its line end.
    [[nodiscard]] static std::string recordText(const std::string& path, const RecordedFile& record);

private:
    void append(const std::string& line);

    std::mutex mutex_;
    int descriptor_ = -1;
    std::chrono::steady_clock::time_point lastSync_;
};
