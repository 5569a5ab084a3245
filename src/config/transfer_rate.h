#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A rate in bytes per second as people write it: "500k", "4M", "1G" (multiples of 1024,
// either case) or plain digits. "0" means no cap. nullopt for anything else, for a cap below
// kMinTransferRate (a transfer that slow is cut by servers as idle) and for values beyond
// what a link could carry.
inline constexpr int64_t kMinTransferRate = 1024;
[[nodiscard]] std::optional<int64_t> parseTransferRate(std::string_view text);
// The shortest form parseTransferRate reads back to `bytesPerSecond` ("4M", "1536k", "1000").
[[nodiscard]] std::string transferRateText(int64_t bytesPerSecond);
