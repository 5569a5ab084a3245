#pragma once

#include "platform/file_attributes.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

// Emulated archive bit. A file "has the archive attribute" unless its modification time
// (nanoseconds), size and inode equal the stamp recorded when the attribute was cleared.
// Stamps live in one text file per user ("archive.marks" in the data folder). A lost or
// damaged store only makes files count as changed again: an extra upload, never a missed one.
// Safe to share between threads.
class ArchiveMarkStore final : public FileAttributes {
public:
    explicit ArchiveMarkStore(std::string storePath);

    // Loads the stamps; a missing or damaged file yields an empty store.
    void load();
    // Rewrites the store by temporary file and rename when something was cleared.
    [[nodiscard]] bool save();

    [[nodiscard]] bool isArchiveSet(const std::string& path) override;
    bool clearArchive(const std::string& path) override;

private:
    struct Stamp {
        int64_t mtimeNanoseconds = 0;
        int64_t size = 0;
        uint64_t inode = 0;
        bool operator==(const Stamp&) const = default;
    };

    std::string storePath_;
    std::mutex mutex_;
    std::unordered_map<std::string, Stamp> stamps_;
    bool dirty_ = false;
};
