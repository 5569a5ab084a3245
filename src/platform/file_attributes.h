#pragma once

#include <cstdint>
#include <string>

// A regular file as a folder walk has just found it, symbolic links followed.
struct FoundFile {
    int64_t mtimeNanoseconds = 0; // since 1970, UTC
    int64_t size = 0;
    uint64_t inode = 0;
};

// The file attributes change detection relies on. Linux has no archive bit and no hidden
// flag, so the real implementation emulates the archive bit (ArchiveMarkStore); tests may
// substitute their own.
class FileAttributes {
public:
    virtual ~FileAttributes() = default;
    // True when the file changed since its mark was last cleared (or was never cleared).
    [[nodiscard]] virtual bool isArchiveSet(const std::string& path) = 0;
    // The same answer for a file the caller has just examined: a walk over a large site
    // would otherwise examine every file twice.
    [[nodiscard]] virtual bool isArchiveSetFor(const std::string& path, const FoundFile& /*found*/)
    {
        return isArchiveSet(path);
    }
    // Records the file's current state as "uploaded". False when the file cannot be examined.
    virtual bool clearArchive(const std::string& path) = 0;
    [[nodiscard]] virtual bool isHidden(const std::string& /*path*/) { return false; }
};
