#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One line of an MLSD answer: "fact=value;fact=value; name". Facts are matched without
// regard to case; unknown ones are ignored.
struct MlsdEntry {
    std::string name; // a link with a known target reads "name -> target", as LIST shows it
    bool isDirectory = false; // a folder, or a link that may lead to one
    bool hasSize = false;
    int64_t size = 0;
    bool hasTime = false;
    int64_t time = 0; // "modify", seconds since 1970, UTC
};

// nullopt for a line without the blank before the name, an empty name, and the entries for
// the folder itself and its parent (type cdir and pdir, "." and "..").
[[nodiscard]] std::optional<MlsdEntry> parseMlsdLine(std::string_view line);

// "YYYYMMDDHHMMSS" with an optional fraction, as seconds since 1970 UTC; nullopt when a
// field is out of range.
[[nodiscard]] std::optional<int64_t> parseMlsdTime(std::string_view text);
