#include "sftp/sftp_watchdog.h"

#include "platform/stop_signal.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

SftpWatchdog::SftpWatchdog(std::chrono::milliseconds budget)
    : budget_(budget)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_.reset(fds[0]);
        wakeWrite_.reset(fds[1]);
    }
    thread_ = std::thread([this] { run(); });
}

SftpWatchdog::~SftpWatchdog()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake();
    thread_.join();
}

void SftpWatchdog::wake()
{
    if (wakeWrite_.get() < 0)
        return;
    const char byte = 1;
    // A full pipe already holds a wake-up.
    while (write(wakeWrite_.get(), &byte, 1) < 0 && errno == EINTR) { }
}

void SftpWatchdog::arm(int socket, const StopSignal* stop)
{
    {
        std::lock_guard lock(mutex_);
        socket_ = socket;
        stop_ = stop;
        stopDescriptor_ = stop != nullptr ? stop->descriptor() : -1;
        lastProgress_ = std::chrono::steady_clock::now();
        armed_ = socket >= 0;
    }
    wake();
}

void SftpWatchdog::progress()
{
    std::lock_guard lock(mutex_);
    lastProgress_ = std::chrono::steady_clock::now();
}

void SftpWatchdog::disarm()
{
    {
        std::lock_guard lock(mutex_);
        armed_ = false;
        socket_ = -1;
    }
    wake();
}

SftpWatchdog::Verdict SftpWatchdog::verdict() const
{
    std::lock_guard lock(mutex_);
    return verdict_;
}

void SftpWatchdog::reset()
{
    std::lock_guard lock(mutex_);
    verdict_ = Verdict::None;
}

void SftpWatchdog::run()
{
    std::unique_lock lock(mutex_);
    while (!quit_) {
        int timeout = -1;
        int stopDescriptor = -1;
        if (armed_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                lastProgress_ + budget_ - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::max<int64_t>(0, left.count()));
            stopDescriptor = stopDescriptor_;
        }
        lock.unlock();
        pollfd waits[2] = { { wakeRead_.get(), POLLIN, 0 }, { stopDescriptor, POLLIN, 0 } };
        // Without a wake-up pipe the thread looks again every 50 ms.
        if (wakeRead_.get() < 0 && (timeout < 0 || timeout > 50))
            timeout = 50;
        (void)poll(waits, stopDescriptor >= 0 ? 2 : 1, timeout);
        char drain[64];
        while (wakeRead_.get() >= 0 && read(wakeRead_.get(), drain, sizeof drain) > 0) { }
        lock.lock();
        if (!armed_ || quit_)
            continue;
        Verdict verdict = Verdict::None;
        if (stop_ != nullptr && stop_->raised())
            verdict = Verdict::Stopped;
        else if (std::chrono::steady_clock::now() >= lastProgress_ + budget_)
            verdict = Verdict::TimedOut;
        if (verdict == Verdict::None)
            continue;
        // Under the lock: disarm() cannot return, and the socket cannot be freed, meanwhile.
        ::shutdown(socket_, SHUT_RDWR);
        verdict_ = verdict;
        armed_ = false;
    }
}
