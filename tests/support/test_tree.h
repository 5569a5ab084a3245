#pragma once

#include "support/temp_dir.h"

#include <cstdint>
#include <string>
#include <string_view>

// A web folder "<temp>/web" whose files are created with chosen contents and modification
// times, so that change-detection tests read like the scenario they check.
class TestTree {
public:
    static constexpr int64_t kDefaultTime = 1'165'500'000; // December 2006

    TestTree();

    // The temporary folder holding the tree (project files go here).
    [[nodiscard]] const std::string& base() const { return m_dir.path(); }
    // The web folder, without a trailing "/".
    [[nodiscard]] const std::string& root() const { return m_root; }
    [[nodiscard]] std::string path(std::string_view relative) const;

    // Writes `relative` below the web folder (parents included) and sets its time.
    std::string add(std::string_view relative, std::string_view content = "x", int64_t mtime = kDefaultTime) const;
    std::string folder(std::string_view relative) const;
    void setTime(std::string_view relative, int64_t mtime) const;
    // Writes a file outside the web folder, relative to base().
    std::string addOutside(std::string_view relative, std::string_view content) const;

private:
    TempDir m_dir;
    std::string m_root;
};
