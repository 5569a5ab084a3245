#pragma once

#include "platform/file_descriptor.h"

#include <set>
#include <string>
#include <unordered_map>

// What changed below a watched folder since the last look, by folder: the scan after it
// needs to look only there.
struct FolderChanges {
    std::set<std::string> folders; // whose files were written, added, removed or renamed
    std::set<std::string> subtrees; // folders that appeared or went, whole
    std::set<std::string> writing; // files written to and not closed yet
    bool overflow = false; // the kernel dropped events: only a full scan knows what changed
    [[nodiscard]] bool empty() const { return folders.empty() && subtrees.empty() && !overflow; }
};

// Watches a folder and every folder below it with the kernel's file notifications (inotify),
// adding folders as they appear. The owner polls descriptor() for input and then calls
// collect(). Not shared between threads.
class FolderWatch {
public:
    // Starts watching `root` (no trailing "/"); false with error() set when the kernel
    // refuses (no inotify, or the per-user watch limit is reached).
    [[nodiscard]] bool start(const std::string& root);
    [[nodiscard]] int descriptor() const { return inotify_.get(); }
    [[nodiscard]] const std::string& error() const { return error_; }
    [[nodiscard]] size_t watchedFolders() const { return folders_.size(); }

    // Reads every event waiting, without blocking, into `changes`.
    void collect(FolderChanges& changes);

private:
    // Watches `folder` and what is below it; new folders found so are whole subtrees.
    void watchTree(const std::string& folder, FolderChanges* changes, int depth);
    void handle(int watch, unsigned mask, const std::string& name, FolderChanges& changes);

    FileDescriptor inotify_;
    std::unordered_map<int, std::string> folders_; // watch descriptor -> folder
    std::string error_;
};
