#pragma once

#include "config/ftp_site.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The stored half of a web project: everything its ".ftp" file holds. The upload engine's
// run state lives in WebProject, which extends this.
class ProjectSettings {
public:
    // Stored settings, in file order, with the values of a fresh project.
    std::string ftp;
    // How changed files are found: 0 and 1 by archive marks (1 clears them after a run), any
    // other value by the file list: times and sizes, or with kContentStrategy the bytes of
    // the files whose times or sizes moved.
    int strategy = 1;
    static constexpr int kFileListStrategy = 2;
    static constexpr int kContentStrategy = 3;
    std::string htmlreport;
    std::string archivdir;
    int archmax = 10;
    int all = 0;
    std::string remote;
    std::string local;
    std::string temp; // derived on load: the folder of the project file
    std::string filelist; // derived on load: the project file path + ".txt"
    int minutes = 0;
    int deleteRemoved = 0; // key "delete"
    // The largest share (percent) of the recorded files one run may delete; 100: no limit.
    int maxdelete = 50;
    // Whether deleting `gone` of `total` files is more than maxdelete allows; a handful is a
    // small site being tidied rather than a folder that went missing, and always allowed.
    [[nodiscard]] bool exceedsDeletionShare(size_t gone, size_t total) const
    {
        constexpr size_t kUnguardedDeletions = 5;
        return maxdelete < 100 && gone > kUnguardedDeletions
            && gone * 100 > static_cast<size_t>(maxdelete > 0 ? maxdelete : 0) * total;
    }
    // 1: changes in the local folder are uploaded as they happen (desktop, service, --watch).
    int watch = 0;

    std::vector<FtpSite> sites;
    std::vector<std::string> forbiddenDirectories;
    std::vector<std::string> forbiddenFiles;

    // Set by LoadProject, used by SaveProject and the companion files.
    std::string projectPath;
    int minuteCounter = 0;

    // Reads the file at `path` into this object, appending sites and list entries. A file
    // that cannot be opened prints "can not open ini\n" and leaves the defaults.
    void LoadProject(const std::string& path);
    // Writes the whole object to projectPath after copying the old file to ".bak". Returns
    // false when the file could not be written; the previous file is then left intact.
    // New files (the project file and its copy) are made readable by the owner only: they
    // hold passwords.
    [[nodiscard]] bool SaveProject() const;

    // The text SaveProject writes. A value is cut at its first line feed, which the format
    // cannot hold; empty list lines are left out.
    [[nodiscard]] std::string serialize() const;

private:
    // The previous file as its ".bak" copy keeps it; nullopt when there is none.
    [[nodiscard]] std::optional<std::string> backupText() const;
    // Applies a line "key=value" when `key` names a stored setting (any letter case).
    bool setFromKeyLine(std::string_view key, std::string_view value);
};
