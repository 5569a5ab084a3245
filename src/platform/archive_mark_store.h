#pragma once

#include "platform/file_attributes.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Emulated archive bit. A file "has the archive attribute" unless its modification time
// (nanoseconds), size and inode equal the stamp recorded when the attribute was cleared.
// Stamps live in one text file per user ("archive.marks" in the data folder). A lost or
// damaged store only makes files count as changed again: an extra upload, never a missed one.
// Safe to share between threads. Several processes (runs of different projects) may share
// the store: each save merges its own changes into what is on disk then.
class ArchiveMarkStore final : public FileAttributes {
public:
    explicit ArchiveMarkStore(std::string storePath);

    // Loads the stamps; a missing or damaged file yields an empty store.
    void load();
    // When something was cleared since load() or the last save: under an flock on
    // "<store>.lock", reads the store again, lays the stamps cleared here over it and
    // rewrites it by temporary file and rename. Stamps another process saved meanwhile stay.
    [[nodiscard]] bool save();

    [[nodiscard]] bool isArchiveSet(const std::string& path) override;
    [[nodiscard]] bool isArchiveSetFor(const std::string& path, const FoundFile& found) override;
    bool clearArchive(const std::string& path) override;

private:
    struct Stamp {
        int64_t mtimeNanoseconds = 0;
        int64_t size = 0;
        uint64_t inode = 0;
        bool operator==(const Stamp&) const = default;
    };
    [[nodiscard]] static Stamp stampOf(const struct stat& info);

    struct Mark {
        std::string path;
        Stamp stamp;
    };
    // Sorted by path, one mark a path: a detection asks in nearly that order, so most answers
    // are the mark after the previous one.
    using Marks = std::vector<Mark>;
    using Stamps = std::unordered_map<std::string, Stamp>;
    static Marks parse(std::string_view content);
    [[nodiscard]] bool differsFromMark(const std::string& path, const Stamp& current);
    // Under mutex_; nullptr when the file has no mark.
    const Stamp* markOf(const std::string& key);

    std::string storePath_;
    std::mutex mutex_;
    Marks marks_; // as loaded or last saved
    size_t nextMark_ = 0; // in marks_, after the last one found
    Stamps changes_; // cleared since load() or the last save; they override marks_
};
