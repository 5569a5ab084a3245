#include "platform/stop_signal.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

StopSignal::StopSignal()
    : descriptor_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

StopSignal::~StopSignal()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

void StopSignal::raise()
{
    if (raised_.exchange(true, std::memory_order_acq_rel))
        return;
    if (descriptor_ < 0)
        return;
    const uint64_t one = 1;
    while (::write(descriptor_, &one, sizeof one) < 0 && errno == EINTR) { }
}

void StopSignal::clear()
{
    if (!raised_.exchange(false, std::memory_order_acq_rel) || descriptor_ < 0)
        return;
    uint64_t count = 0;
    while (::read(descriptor_, &count, sizeof count) < 0 && errno == EINTR) { }
}
