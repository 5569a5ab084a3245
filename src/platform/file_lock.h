#pragma once

#include <string>

// An exclusive advisory lock (flock) on a file of its own, held while the object lives. The
// kernel releases it when the process ends in any way, so a killed process never leaves a
// lock behind; the file itself stays and is simply locked again next time.
//
// flock locks belong to the open file: two FileLock objects on the same path exclude each
// other even within one process. The descriptor is close-on-exec, so programs the process
// starts do not hold the lock on after it.
class FileLock {
public:
    enum class Wait {
        DontWait, // fail at once with HeldElsewhere
        UntilFree,
    };
    enum class Outcome {
        Locked,
        HeldElsewhere, // someone else holds it (DontWait only)
        Failed, // the file could not be opened or locked; error() says why
    };

    FileLock() = default;
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Creates `path` (mode 0600) when missing and locks it; a lock held by this object is
    // released first.
    [[nodiscard]] Outcome lock(const std::string& path, Wait wait);
    void unlock();
    [[nodiscard]] bool isLocked() const { return descriptor_ >= 0; }
    // errno of the last Failed outcome.
    [[nodiscard]] int error() const { return error_; }

private:
    int descriptor_ = -1;
    int error_ = 0;
};
