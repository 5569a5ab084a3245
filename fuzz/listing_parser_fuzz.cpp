#include "ftp/listing_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

// The first eight bytes choose "now", so year guessing is fuzzed too; the rest is one line in
// an exactly sized buffer, so that any read past its end trips the address sanitizer.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int64_t now = 1781524800;
    if (size >= sizeof now) {
        uint64_t raw = 0;
        std::memcpy(&raw, data, sizeof raw);
        // Keep now within a few thousand years of 1970: the clock never reports more.
        now = static_cast<int64_t>(raw % (uint64_t { 1 } << 37)) - (int64_t { 1 } << 36);
        data += sizeof now;
        size -= sizeof now;
    }
    const std::unique_ptr<char[]> line(new char[size == 0 ? 1 : size]);
    if (size > 0)
        std::memcpy(line.get(), data, size);
    ListingEntry entry;
    if (!parseListingLine(std::string_view(line.get(), size), entry, now))
        return 0;
    const char* begin = line.get();
    const char* end = begin + size;
    if (entry.name.empty() || entry.name.data() < begin || entry.name.data() + entry.name.size() > end)
        std::abort();
    if (!entry.id.empty() && (entry.id.data() < begin || entry.id.data() + entry.id.size() > end))
        std::abort();
    return 0;
}
