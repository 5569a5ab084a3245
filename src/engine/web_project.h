#pragma once

#include "config/machine_options.h"
#include "config/project_settings.h"
#include "engine/file_item.h"
#include "ftp/ftp_event_sink.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class FileAttributes;

// One web project: its stored settings plus the state and operations of its upload engine.
// Until an owner installs another sink, the project reports to itself, doing nothing.
// Only one thread at a time runs the engine operations; cancelRequested may be set from any
// thread.
class WebProject : public ProjectSettings, public FtpEventSink {
public:
    WebProject() = default;
    WebProject(const WebProject&) = delete;
    WebProject& operator=(const WebProject&) = delete;

    // Run state, never stored.
    std::atomic<bool> cancelRequested { false };
    bool changesPending = false;
    bool detectionDone = false;
    std::string currentStartDir;
    FtpEventSink* eventSink = this;
    std::vector<PendingCommand> pendingCommands;
    std::vector<FileItem> items;
    std::map<std::string, int64_t> timeMap;

    // --- Detection (change_detection.cpp, file_list.cpp, command_lines.cpp) ---
    void ClearItems();
    void ReadFileList();
    void WriteFileList();
    void DetectChanges();
    // Returns the archive move line for `fileName` in `serverDir` and sets item.archivePath.
    [[nodiscard]] std::string BuildArchiveMove(
        const std::string& fileName, const std::string& serverDir, FileItem& item) const;

    // --- Run (upload_run.cpp) ---
    void RunUpload();
    void FinishRun();
    void MarkFailed(const std::string& localPath);
    void MarkAllFailed(const std::string& localPath = {});

    // Collaborators the owner may replace (tests substitute their own).
    FileAttributes* fileAttributes = nullptr; // archive marks; nullptr: every file counts as changed
    const MachineOptions* machineOptions = nullptr; // nullptr: defaults
    std::function<int64_t()> clock = [] { return static_cast<int64_t>(std::time(nullptr)); };
};
