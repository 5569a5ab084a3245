#pragma once

#include "platform/file_descriptor.h"

#include <chrono>
#include <mutex>
#include <thread>

class StopSignal;

// Ends a blocking library call that makes no progress: libssh 0.10 retries a timed-out read
// inside an SFTP request for ever, and none of its waits sees the stop signal. While armed,
// a thread of its own watches the clock and the stop signal's descriptor; when the budget
// passes without progress() or the signal rises, it shuts the session's socket down, so the
// call fails at once. The descriptor is only shut down, never closed: its owner frees it.
//
// Armed and disarmed by the one thread that uses the session; progress() from that thread too.
class SftpWatchdog {
public:
    enum class Verdict {
        None,
        TimedOut,
        Stopped,
    };

    explicit SftpWatchdog(std::chrono::milliseconds budget);
    // Joins the thread.
    ~SftpWatchdog();
    SftpWatchdog(const SftpWatchdog&) = delete;
    SftpWatchdog& operator=(const SftpWatchdog&) = delete;

    // A blocking call on `socket` begins. `stop` may be nullptr.
    void arm(int socket, const StopSignal* stop);
    // The call moved on (a chunk went through): its budget starts again.
    void progress();
    // The call ended; the socket may go away after this returns.
    void disarm();
    // Why the socket was cut, if it was; stays until reset().
    [[nodiscard]] Verdict verdict() const;
    void reset();

private:
    void run();
    void wake();

    const std::chrono::milliseconds budget_;
    mutable std::mutex mutex_;
    int socket_ = -1;
    int stopDescriptor_ = -1;
    const StopSignal* stop_ = nullptr;
    bool armed_ = false;
    bool quit_ = false;
    Verdict verdict_ = Verdict::None;
    std::chrono::steady_clock::time_point lastProgress_;
    FileDescriptor wakeRead_;
    FileDescriptor wakeWrite_;
    std::thread thread_;
};
