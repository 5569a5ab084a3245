#include "ftp/mlsd_parser.h"

#include <strings.h>

namespace {

bool equalsIgnoringCase(std::string_view text, std::string_view word)
{
    return text.size() == word.size() && strncasecmp(text.data(), word.data(), word.size()) == 0;
}

bool startsIgnoringCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

std::optional<int64_t> decimal(std::string_view text)
{
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day)
{
    year -= month <= 2 ? 1 : 0;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    int64_t yearOfEra = year - era * 400;
    int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

std::optional<int64_t> parseMlsdTime(std::string_view text)
{
    size_t dot = text.find('.');
    if (dot != std::string_view::npos) {
        if (!decimal(text.substr(dot + 1)))
            return std::nullopt;
        text = text.substr(0, dot);
    }
    if (text.size() != 14 || !decimal(text))
        return std::nullopt;
    int64_t year = *decimal(text.substr(0, 4));
    int64_t month = *decimal(text.substr(4, 2));
    int64_t day = *decimal(text.substr(6, 2));
    int64_t hour = *decimal(text.substr(8, 2));
    int64_t minute = *decimal(text.substr(10, 2));
    int64_t second = *decimal(text.substr(12, 2));
    static constexpr int kDaysIn[] = { 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    // A leap second (60) is accepted: it names a real instant.
    if (month < 1 || month > 12 || day < 1 || day > kDaysIn[month - 1] || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    return ((daysFromCivil(year, month, day) * 24 + hour) * 60 + minute) * 60 + second;
}

std::optional<MlsdEntry> parseMlsdLine(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    // Every fact ends in ";" and one blank precedes the name, so the first "; " ends the
    // facts even when a name or a fact value holds blanks.
    size_t end = line.find("; ");
    size_t blank = end != std::string_view::npos ? end + 1 : line.find(' ');
    if (blank == std::string_view::npos)
        return std::nullopt;
    std::string_view facts = line.substr(0, blank);
    std::string_view name = line.substr(blank + 1);
    if (name.empty() || name == "." || name == "..")
        return std::nullopt;

    MlsdEntry entry;
    entry.name = std::string(name);
    std::string linkTarget;
    size_t start = 0;
    while (start < facts.size()) {
        size_t end = facts.find(';', start);
        if (end == std::string_view::npos)
            end = facts.size();
        std::string_view fact = facts.substr(start, end - start);
        start = end + 1;
        size_t equals = fact.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string_view key = fact.substr(0, equals);
        std::string_view value = fact.substr(equals + 1);
        if (equalsIgnoringCase(key, "type")) {
            if (equalsIgnoringCase(value, "cdir") || equalsIgnoringCase(value, "pdir"))
                return std::nullopt;
            if (equalsIgnoringCase(value, "dir")) {
                entry.isDirectory = true;
            } else if (startsIgnoringCase(value, "OS.unix=slink") || startsIgnoringCase(value, "OS.unix=symlink")) {
                // A link may lead to a folder: worth a try, as with a listed link.
                entry.isDirectory = true;
                size_t colon = value.find(':');
                if (colon != std::string_view::npos && colon + 1 < value.size())
                    linkTarget = std::string(value.substr(colon + 1));
            }
        } else if (equalsIgnoringCase(key, "size")) {
            if (std::optional<int64_t> size = decimal(value)) {
                entry.hasSize = true;
                entry.size = *size;
            }
        } else if (equalsIgnoringCase(key, "modify")) {
            if (std::optional<int64_t> time = parseMlsdTime(value)) {
                entry.hasTime = true;
                entry.time = *time;
            }
        }
    }
    if (!linkTarget.empty())
        entry.name += " -> " + linkTarget;
    return entry;
}
