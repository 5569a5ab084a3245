#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A private folder made with mkdtemp under $TMPDIR (else /tmp), removed with everything in
// it when the object goes away. Tests build their file trees here instead of at fixed paths.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, without a trailing "/"; empty when mkdtemp failed.
    [[nodiscard]] const std::string& path() const { return m_path; }
    // The absolute path of `relative` inside the folder.
    [[nodiscard]] std::string file(std::string_view relative) const;
    // Writes `content` to `relative`, creating the parent folders; returns the absolute path.
    // Fails the current test (and returns the path anyway) when the file cannot be written.
    std::string writeFile(std::string_view relative, std::string_view content) const;
    // Creates `relative` and its parents as folders; returns the absolute path.
    std::string makeDirectory(std::string_view relative) const;

private:
    std::string m_path;
};

// Deterministic bytes that differ at every offset, so a lost or repeated block shows in a
// file compared after a transfer.
[[nodiscard]] std::string patternBytes(size_t size, uint32_t seed = 2463534242u);
