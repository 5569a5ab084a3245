#pragma once

#include "engine/web_project.h"
#include "platform/folder_watch.h"

#include <chrono>
#include <optional>

// Turns a stream of notifications into runs: changes are gathered until the folder has been
// quiet for the settle time, or for at most the cap since the first of them under a steady
// stream of writes, so a build writing 2,000 files becomes one run and a saved page goes up
// within a moment.
class ChangeSettler {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kSettle { 1000 };
    static constexpr std::chrono::milliseconds kCap { 10000 };

    explicit ChangeSettler(std::chrono::milliseconds settle = kSettle, std::chrono::milliseconds cap = kCap);

    void add(const FolderChanges& changes, Clock::time_point now);

    // What a run due now has to look at: a scope, or no scope for a full scan (the kernel
    // dropped events). Nothing when no run is due yet. Files still being written stay busy
    // across runs until they are closed.
    struct Due {
        std::optional<WebProject::ScanScope> scope;
        size_t folders = 0; // how many folders the run looks into (for the log)
    };
    [[nodiscard]] std::optional<Due> take(Clock::time_point now);

    // How long the caller may wait for more notifications before a run may be due.
    [[nodiscard]] std::chrono::milliseconds wait(Clock::time_point now) const;

private:
    std::chrono::milliseconds settle_;
    std::chrono::milliseconds cap_;
    FolderChanges pending_;
    std::optional<Clock::time_point> first_;
    Clock::time_point last_ {};
};
