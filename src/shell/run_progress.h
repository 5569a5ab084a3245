#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

// Where the uploads of a run stand, for the status line of the window and of the terminal.
//
// It counts completions from the client's notifications alone, without knowing how the
// transfers are carried out: every begun upload waits in line with its size, and the bytes
// reported are credited to the waiting files in the order they began. So the counts stay
// right when several connections later send at once and their notifications interleave.
//
// Any thread may call it; the time is handed in, so the figures can be checked without a clock.
class RunProgress {
public:
    using Clock = std::chrono::steady_clock;

    struct Snapshot {
        int filesDone = 0;
        int filesTotal = 0;
        int64_t bytesDone = 0;
        int64_t bytesTotal = 0;
        double seconds = 0; // since the uploads began
        std::string currentFile; // the upload begun last
    };

    // The uploads of a run begin: `files` puts of `bytes` in all (every site counted).
    void begin(int files, int64_t bytes, Clock::time_point now);
    void uploadBegins(const std::string& localFile);
    void fileSize(int64_t bytes);
    void bytes(int64_t count);
    // The transfer begun last ended without its bytes: it counts as done all the same.
    void transferFailed();
    // Every queued upload has had its turn.
    void finish();
    [[nodiscard]] bool active() const;
    [[nodiscard]] Snapshot snapshot(Clock::time_point now) const;

    // "12/40 files, 3.4 MB of 9.1 MB, 1.2 MB/s, 0:05 left, /path/current.html"; the rate and
    // the time left appear once there is something to measure them by.
    [[nodiscard]] static std::string describe(const Snapshot& snapshot);

private:
    void creditWaiting();

    mutable std::mutex mutex_;
    bool active_ = false;
    Clock::time_point start_;
    Snapshot counts_;
    std::deque<int64_t> waiting_; // sizes of begun, unfinished uploads (-1: not known yet)
    int64_t credit_ = 0; // bytes received beyond the files already finished
};
