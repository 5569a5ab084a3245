#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Dial-up connection over NetworkManager's `nmcli`, found on the search path when the object
// is started. Without `nmcli` the service is unavailable: dial answers kNotImplemented and
// isConnected answers true (there is nothing to dial), so callers go on as if the network
// were up. Dial, hang-up and the queries block the calling thread; every run of `nmcli` is
// bounded by the command budget and the child is killed when it overruns.
// One object per user (client, run, dialog); not shared between threads.
class DialUp {
public:
    static constexpr int32_t kNotImplemented = static_cast<int32_t>(0x80004001u);
    // A status for an `nmcli` that could not be run or overran its budget.
    static constexpr int32_t kCommandFailed = -1;

    // `searchPath` replaces $PATH for finding `nmcli` (tests); the budget bounds each run.
    explicit DialUp(std::optional<std::string> searchPath = std::nullopt,
        std::chrono::milliseconds commandBudget = std::chrono::seconds(100));
    ~DialUp();
    DialUp(const DialUp&) = delete;
    DialUp& operator=(const DialUp&) = delete;

    // Looks for `nmcli` and starts the monitor thread. A second call does nothing.
    void start();
    // 0 when the connection came up; the exit status of `nmcli` (or kCommandFailed) when
    // not; kNotImplemented when the service is unavailable.
    [[nodiscard]] int32_t dial(const std::string& entryName);
    // Takes down the connection this object brought up, if any.
    void hangUp();
    [[nodiscard]] bool isConnected();
    // Names of the configured connections; empty when unavailable.
    [[nodiscard]] std::vector<std::string> enumerateEntries();
    // Ends the monitor thread and waits for it.
    void stop();

    [[nodiscard]] bool isAvailable() const { return !nmcliPath_.empty(); }

private:
    struct CommandResult {
        int32_t status = kCommandFailed;
        std::string output;
    };
    [[nodiscard]] CommandResult runNmcli(const std::vector<std::string>& arguments) const;
    void monitor();

    std::optional<std::string> searchPath_;
    std::chrono::milliseconds commandBudget_;
    std::string nmcliPath_;
    std::optional<std::string> dialedEntry_;

    std::mutex monitorMutex_;
    std::condition_variable monitorWake_;
    bool stopRequested_ = false;
    std::thread monitorThread_;
};
