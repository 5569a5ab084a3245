#pragma once

#include <string>

// The file attributes change detection relies on. Linux has no archive bit and no hidden
// flag, so the real implementation emulates the archive bit (ArchiveMarkStore); tests may
// substitute their own.
class FileAttributes {
public:
    virtual ~FileAttributes() = default;
    // True when the file changed since its mark was last cleared (or was never cleared).
    [[nodiscard]] virtual bool isArchiveSet(const std::string& path) = 0;
    // Records the file's current state as "uploaded". False when the file cannot be examined.
    virtual bool clearArchive(const std::string& path) = 0;
    [[nodiscard]] virtual bool isHidden(const std::string& /*path*/) { return false; }
};
