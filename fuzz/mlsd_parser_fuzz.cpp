#include "ftp/mlsd_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

// Any line: no crash, and what comes out holds together (a name that is part of the line,
// sizes and times only when their facts parsed).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view line(reinterpret_cast<const char*>(data), size);
    std::optional<MlsdEntry> entry = parseMlsdLine(line);
    if (entry) {
        if (entry->name.empty() || entry->name == "." || entry->name == "..")
            abort();
        if (!entry->hasSize && entry->size != 0)
            abort();
        if (!entry->hasTime && entry->time != 0)
            abort();
        if (entry->size < 0)
            abort();
        std::string_view name = entry->name;
        if (line.find(name.substr(0, name.find(" -> "))) == std::string_view::npos)
            abort();
    }
    (void)parseMlsdTime(line);
    return 0;
}
