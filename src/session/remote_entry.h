#pragma once

#include <cstdint>
#include <string>

// One parsed line of a server listing, as kept by listEntries. A symbolic link keeps its
// " -> target" in the name; directoryArgument() follows it.
struct RemoteEntry {
    std::string name;
    // The entry's own name as the server knows it: no link target, no VMS version or
    // trailer. What a command about the entry itself (a deletion) must name.
    std::string fileName;
    int64_t size = 0;
    int64_t modificationTime = 0; // seconds since 1970, UTC
    bool isDirectory = false; // "may be a directory": worth a CWD

    bool operator==(const RemoteEntry&) const = default;
};
