// Rates as people write them, in the project file and on the command line.

#include "config/transfer_rate.h"

#include <gtest/gtest.h>

namespace {

struct RateRow {
    const char* text;
    std::optional<int64_t> bytesPerSecond;
};

const RateRow kRates[] = {
    { "4M", 4 << 20 },
    { "4m", 4 << 20 },
    { "500k", 500 << 10 },
    { "500K", 500 << 10 },
    { "1G", int64_t { 1 } << 30 },
    { "100000", 100000 },
    { "1024", 1024 },
    { "1k", 1024 },
    { "0", 0 },
    { "0M", 0 },
    // Slower than a server lets a data connection idle.
    { "1023", std::nullopt },
    { "1", std::nullopt },
    { "", std::nullopt },
    { "M", std::nullopt },
    { "-4M", std::nullopt },
    { "+4M", std::nullopt },
    { "4 M", std::nullopt },
    { " 4M", std::nullopt },
    { "4MB", std::nullopt },
    { "4MM", std::nullopt },
    { "1.5M", std::nullopt },
    { "4T", std::nullopt },
    { "fast", std::nullopt },
    // Beyond any link, and the multiplication must not wrap into a small cap.
    { "9999999999999999999", std::nullopt },
    { "99999999999G", std::nullopt },
    { "1048577G", std::nullopt },
};

TEST(TransferRate, EachRowReadsAsExpected)
{
    for (const RateRow& row : kRates) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(parseTransferRate(row.text), row.bytesPerSecond);
    }
}

TEST(TransferRate, TextReadsBackToTheSameRate)
{
    for (const int64_t rate :
        { int64_t { 4 } << 20, int64_t { 1536 } << 10, int64_t { 3 } << 30, int64_t { 100000 } }) {
        SCOPED_TRACE(rate);
        EXPECT_EQ(parseTransferRate(transferRateText(rate)), rate);
    }
    EXPECT_EQ(transferRateText(4 << 20), "4M");
}

} // namespace
