#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

// The program's data folder ($XDG_DATA_HOME/Tarnwick/, else ~/.local/share/Tarnwick/, else
// /var/lib/tarnwick/), created when missing, always with a trailing "/".
[[nodiscard]] std::string getDataDirectory();

// The part after the last "/" (the whole text when there is none).
[[nodiscard]] std::string fileNamePart(std::string_view path);
// The part before the last "/" (empty when there is none).
[[nodiscard]] std::string directoryPart(std::string_view path);
// Size in bytes, or -1 when the file cannot be examined.
[[nodiscard]] int64_t fileSize(const std::string& path);
// The system's text for an errno value ("Connection reset by peer"); safe on any thread.
[[nodiscard]] std::string errorText(int error);
// The same text to stand in the middle of a sentence: "connection refused".
[[nodiscard]] std::string errorWords(int error);
// Broken-down local time of `seconds` since 1970 (UTC), thread-safe.
[[nodiscard]] struct tm localTimeOf(int64_t seconds);

// Writes `content` to a temporary file beside `path` and renames it over `path`, so that a
// crash or a full disk never leaves a truncated file. `mode` applies to a newly made file.
[[nodiscard]] bool writeFileAtomically(const std::string& path, std::string_view content, unsigned mode = 0644);

// Reads a whole file; nullopt when it cannot be opened or is not a regular file.
[[nodiscard]] std::optional<std::string> readWholeFile(const std::string& path);
