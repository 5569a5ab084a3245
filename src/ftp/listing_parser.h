#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// One line of a LIST answer, parsed. `name` and `id` point into the line that was parsed:
// the entry is only valid while that text lives.
struct ListingEntry {
    enum class SizeKind { None = 0, Bytes = 1 };
    // Local: an EPLF server's own seconds since 1970 (UTC). The remote kinds are the server's
    // wall clock counted as if it were UTC, to the minute or to the day.
    enum class TimeKind { None = 0, Local = 1, RemoteMinute = 2, RemoteDay = 3 };
    enum class IdKind { None = 0, Full = 1 };

    std::string_view name;
    bool tryChangeDirectory = false;
    bool tryRetrieve = false;
    SizeKind sizeKind = SizeKind::None;
    int64_t size = 0;
    TimeKind timeKind = TimeKind::None;
    int64_t time = 0;
    IdKind idKind = IdKind::None;
    std::string_view id;
};

// Recognises EPLF, UNIX `ls -l` (with the NetWare and NetPresenz variants), VMS/MultiNet and
// MS-DOS/IIS lines. `line` comes without its line end. `now` (seconds since 1970, UTC) only
// places dates that carry no year; nothing is kept between calls, so any thread may call it.
// On false the entry may be partly filled.
[[nodiscard]] bool parseListingLine(std::string_view line, ListingEntry& entry, int64_t now);

// The same with the system clock as `now`.
[[nodiscard]] bool parseListingLine(std::string_view line, ListingEntry& entry);

// The lines of a listing text, cut at carriage returns and line feeds, empty ones left out.
// The views point into `listing`.
[[nodiscard]] std::vector<std::string_view> listingLines(std::string_view listing);
