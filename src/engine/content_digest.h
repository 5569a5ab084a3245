#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A 128-bit fingerprint of a file's bytes (XXH3-128). It tells a file a build tool merely
// wrote again from one whose content changed; it is no defence against someone who forges a
// collision on purpose, who could as well upload by hand.
struct ContentDigest {
    uint64_t high = 0;
    uint64_t low = 0;
    bool operator==(const ContentDigest&) const = default;

    // 32 lower-case hex digits, the high half first (as xxhsum -H2 prints it).
    [[nodiscard]] std::string hex() const;
    // nullopt unless `text` is exactly 32 hex digits.
    [[nodiscard]] static std::optional<ContentDigest> fromHex(std::string_view text);
};

// What a file is on disk, as far as telling that it was written goes. The status change time
// moves with every write, rename or time change and cannot be set back by hand, so while it
// holds still the bytes are the same.
struct FileStamp {
    int64_t seconds = 0;
    int32_t nanoseconds = 0;
    int64_t size = 0;
    uint64_t inode = 0;
    int64_t statusChange = 0; // nanoseconds since 1970
    bool operator==(const FileStamp&) const = default;
};

// The file's stamp now; nullopt when it cannot be had.
[[nodiscard]] std::optional<FileStamp> stampOfFile(const std::string& path);

// Reads the file in blocks and answers the digest of its bytes, but only when the file is
// `expected` when opened and still after the last block, and its last change lies in a tick
// of the file system's clock that has passed: a write after the reading then always moves
// the stamp. nullopt when any of that fails or the file cannot be read.
[[nodiscard]] std::optional<ContentDigest> digestFile(const std::string& path, const FileStamp& expected);
