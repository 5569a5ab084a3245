#pragma once

#include <cstdint>
#include <string>

// One local file found by a scan, or a recorded file that has since disappeared.
struct FileItem {
    bool changed = false;
    bool failed = false;
    bool deleted = false;
    std::string path; // full local path
    std::string archivePath; // server path of the archived previous version, if one was queued
    std::string author;
    std::string editor;
    int64_t mtime = 0; // seconds since 1970, UTC
    int64_t size = 0;
};

// One queued command line and the local file it uploads (empty for all but put lines).
struct PendingCommand {
    std::string command;
    std::string localPath;
};
