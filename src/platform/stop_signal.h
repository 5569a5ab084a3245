#pragma once

#include <atomic>

// Ends every wait of a run at once, from any thread: a stop must not have to wait out a
// stalled transfer's budget. Waits that honour it poll descriptor() beside their socket; it
// stays readable from raise() until clear().
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Safe from any thread and from a signal handler.
    void raise();
    // Only while no wait uses it: a new run starts unstopped.
    void clear();
    [[nodiscard]] bool raised() const { return raised_.load(std::memory_order_acquire); }
    // -1 when the kernel gave no descriptor; waits then only see raised() between calls.
    [[nodiscard]] int descriptor() const { return descriptor_; }

private:
    int descriptor_ = -1;
    std::atomic<bool> raised_ { false };
};
