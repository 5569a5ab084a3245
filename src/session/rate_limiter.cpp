#include "session/rate_limiter.h"

#include "platform/stop_signal.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <thread>

namespace {

// What a connection that sent nothing for a while may send at once: enough to keep the
// pipe full across a turn, too little to show as a burst above the cap.
constexpr std::chrono::milliseconds kBurst { 50 };

// Sleeps until `until`, or until `stop` is raised; false in the second case.
bool waitUntil(std::chrono::steady_clock::time_point until, const StopSignal* stop)
{
    for (;;) {
        if (stop != nullptr && stop->raised())
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
            return true;
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(until - now) + std::chrono::milliseconds(1);
        if (stop == nullptr || stop->descriptor() < 0) {
            std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(left, std::chrono::milliseconds(100)));
            continue;
        }
        pollfd watched { stop->descriptor(), POLLIN, 0 };
        if (::poll(&watched, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
            std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(left, std::chrono::milliseconds(100)));
    }
}

} // namespace

RateLimiter::RateLimiter(int64_t bytesPerSecond)
    : bytesPerSecond_(std::max(bytesPerSecond, kMinBytesPerSecond))
{
}

size_t RateLimiter::blockSize(size_t largest) const
{
    const auto tenth = static_cast<size_t>(bytesPerSecond_ / 10);
    return std::clamp<size_t>(tenth, 1024, std::max<size_t>(largest, 1024));
}

bool RateLimiter::take(size_t bytes, const StopSignal* stop)
{
    const auto cost = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(bytesPerSecond_)));
    Clock::time_point start;
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        // Time nobody used is not saved up beyond the burst.
        due_ = std::max(due_, now - kBurst);
        start = due_;
        due_ += cost;
    }
    // The bytes go out once the ones granted before them would have, at the cap.
    return waitUntil(start + kBurst, stop);
}
