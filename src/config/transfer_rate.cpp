#include "config/transfer_rate.h"

namespace {

// Far beyond any link, and small enough that no multiple overflows.
constexpr int64_t kMaxTransferRate = int64_t { 1 } << 50;

} // namespace

std::optional<int64_t> parseTransferRate(std::string_view text)
{
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    int64_t unit = 1;
    switch (text.back()) {
    case 'k':
    case 'K': unit = int64_t { 1 } << 10; break;
    case 'm':
    case 'M': unit = int64_t { 1 } << 20; break;
    case 'g':
    case 'G': unit = int64_t { 1 } << 30; break;
    default: break;
    }
    if (unit != 1)
        text.remove_suffix(1);
    if (text.empty())
        return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > kMaxTransferRate)
            return std::nullopt;
    }
    // Asked before multiplying: a rate past the limit must not overflow on its way there.
    if (value > kMaxTransferRate / unit)
        return std::nullopt;
    value *= unit;
    if (value != 0 && value < kMinTransferRate)
        return std::nullopt;
    return value;
}

std::string transferRateText(int64_t bytesPerSecond)
{
    for (const auto& [shift, suffix] : { std::pair { 30, 'G' }, std::pair { 20, 'M' }, std::pair { 10, 'k' } }) {
        const int64_t unit = int64_t { 1 } << shift;
        if (bytesPerSecond != 0 && bytesPerSecond % unit == 0)
            return std::to_string(bytesPerSecond / unit) + suffix;
    }
    return std::to_string(bytesPerSecond);
}
