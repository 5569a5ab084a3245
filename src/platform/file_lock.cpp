#include "platform/file_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

FileLock::~FileLock()
{
    unlock();
}

FileLock::FileLock(FileLock&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1))
    , error_(other.error_)
{
}

FileLock& FileLock::operator=(FileLock&& other) noexcept
{
    if (this != &other) {
        unlock();
        descriptor_ = std::exchange(other.descriptor_, -1);
        error_ = other.error_;
    }
    return *this;
}

FileLock::Outcome FileLock::lock(const std::string& path, Wait wait)
{
    unlock();
    int descriptor = -1;
    do {
        descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        error_ = errno;
        return Outcome::Failed;
    }
    const int operation = LOCK_EX | (wait == Wait::DontWait ? LOCK_NB : 0);
    int result = 0;
    do {
        result = ::flock(descriptor, operation);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        error_ = errno;
        ::close(descriptor);
        return error_ == EWOULDBLOCK ? Outcome::HeldElsewhere : Outcome::Failed;
    }
    descriptor_ = descriptor;
    error_ = 0;
    return Outcome::Locked;
}

void FileLock::unlock()
{
    if (descriptor_ < 0)
        return;
    // Closing the only descriptor of the open file releases the lock.
    ::close(descriptor_);
    descriptor_ = -1;
}
