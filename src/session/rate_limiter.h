#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

class StopSignal;

// The upload rate cap of one site, shared by all the connections that serve it: each takes
// its bytes before sending them, and waits for its turn when the cap is reached. Turns are
// handed out in the order they are asked for, so a connection cannot starve the others.
// Safe from any thread.
class RateLimiter {
public:
    // A cap below this would stretch one block's wait beyond what servers allow an idle
    // data connection.
    static constexpr int64_t kMinBytesPerSecond = 1024;

    explicit RateLimiter(int64_t bytesPerSecond);

    [[nodiscard]] int64_t bytesPerSecond() const { return bytesPerSecond_; }
    // How many bytes a sender should take at a time: a tenth of a second's worth, so the
    // connections take turns often and a stop is never waited out for long.
    [[nodiscard]] size_t blockSize(size_t largest) const;
    // Waits until `bytes` may go out. False when `stop` (may be nullptr) was raised first.
    [[nodiscard]] bool take(size_t bytes, const StopSignal* stop);

private:
    using Clock = std::chrono::steady_clock;

    const int64_t bytesPerSecond_;
    std::mutex mutex_;
    // When the bytes granted so far have all gone out at the cap.
    Clock::time_point due_ {};
};
