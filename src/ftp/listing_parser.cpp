#include "ftp/listing_parser.h"

#include <ctime>

namespace {

// Field numbers are read without checking for digits, so garbage makes garbage values. The
// arithmetic wraps (unsigned) instead of overflowing, which keeps such lines harmless.
uint32_t number32(std::string_view field)
{
    uint32_t value = 0;
    for (char c : field)
        value = value * 10u + static_cast<uint32_t>(static_cast<unsigned char>(c)) - '0';
    return value;
}

// Sizes and EPLF times get 64 bits: files beyond 4 GiB are common, and a wrapped size would
// make every size check after an upload fail.
int64_t number64(std::string_view field)
{
    uint64_t value = 0;
    for (char c : field)
        value = value * 10u + static_cast<uint64_t>(static_cast<unsigned char>(c)) - '0';
    return static_cast<int64_t>(value);
}

int32_t asInt32(std::string_view field)
{
    return static_cast<int32_t>(number32(field));
}

int32_t wrapAdd(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t wrapSub(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int32_t wrapMul(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

constexpr const char* kMonths[12]
    = { "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec" };

int monthOf(std::string_view field)
{
    if (field.size() != 3)
        return -1;
    for (int month = 0; month < 12; ++month) {
        bool matches = true;
        for (size_t i = 0; i < 3 && matches; ++i) {
            const char expected = kMonths[month][i];
            matches = field[i] == expected || field[i] == expected - 'a' + 'A';
        }
        if (matches)
            return month;
    }
    return -1;
}

// Days from 1970-01-01 to the given day of the Gregorian calendar (month 0-11), counted on a
// calendar whose year starts in March so that the leap day comes last. Only the final
// conversion to seconds is widened, so dates after 2038 stay right.
int64_t dateSeconds(int32_t year, int32_t month, int32_t day)
{
    if (month >= 2) {
        month -= 2;
    } else {
        month += 10;
        year = wrapSub(year, 1);
    }
    int32_t result = wrapAdd(wrapAdd(wrapMul(wrapSub(day, 1), 10), 5), wrapMul(306, month)) / 10;
    if (result == 365) {
        year = wrapSub(year, 3);
        result = 1460;
    } else {
        result = wrapAdd(result, wrapMul(365, year % 4));
    }
    year /= 4;
    result = wrapAdd(result, wrapMul(1461, year % 25));
    year /= 25;
    if (result == 36524) {
        year = wrapSub(year, 3);
        result = 146096;
    } else {
        result = wrapAdd(result, wrapMul(36524, year % 4));
    }
    year /= 4;
    result = wrapAdd(result, wrapAdd(wrapMul(146097, wrapSub(year, 5)), 11017));
    return static_cast<int64_t>(result) * 86400;
}

int64_t currentYear(int64_t now)
{
    int64_t day = now / 86400;
    if (now % 86400 < 0)
        --day;
    day -= 11017;
    int64_t year = 5 + day / 146097;
    day %= 146097;
    if (day < 0) {
        day += 146097;
        --year;
    }
    year *= 4;
    if (day == 146096) {
        year += 3;
        day = 36524;
    } else {
        year += day / 36524;
        day %= 36524;
    }
    year *= 25;
    year += day / 1461;
    day %= 1461;
    year *= 4;
    if (day == 1460) {
        year += 3;
        day = 365;
    } else {
        year += day / 365;
        day %= 365;
    }
    if ((day * 10 + 5) / 306 >= 10)
        ++year;
    return year;
}

// A date without a year lands in the first year that puts it less than 350 days before now:
// recent past dates keep their year, anything later in the current year stays in it.
int64_t guessedDate(int32_t month, int32_t day, int64_t now)
{
    const int64_t thisYear = currentYear(now);
    int64_t seconds = 0;
    for (int64_t year = thisYear - 1; year <= thisYear + 99; ++year) {
        seconds = dateSeconds(static_cast<int32_t>(year), month, day);
        if (now - seconds < 350 * 86400)
            return seconds;
    }
    return seconds;
}

// Blank-only names would name the listed folder itself; nothing sensible can be done with them.
bool hasUsableName(std::string_view name)
{
    return name.find_first_not_of(' ') != std::string_view::npos;
}

bool parseEplf(std::string_view line, ListingEntry& entry)
{
    size_t factStart = 1;
    for (size_t i = 1; i < line.size(); ++i) {
        if (line[i] == '\t') {
            entry.name = line.substr(i + 1);
            return !entry.name.empty();
        }
        if (line[i] != ',')
            continue;
        if (i > factStart) {
            const std::string_view value = line.substr(factStart + 1, i - factStart - 1);
            switch (line[factStart]) {
            case '/': entry.tryChangeDirectory = true; break;
            case 'r': entry.tryRetrieve = true; break;
            case 's':
                entry.sizeKind = ListingEntry::SizeKind::Bytes;
                entry.size = number64(value);
                break;
            case 'm':
                entry.timeKind = ListingEntry::TimeKind::Local;
                entry.time = number64(value);
                break;
            case 'i':
                entry.idKind = ListingEntry::IdKind::Full;
                entry.id = value;
                break;
            default: break;
            }
        }
        factStart = i + 1;
    }
    return false;
}

// The first letter says what the entry is; a link may lead to a folder or to a file, so both
// are worth trying.
void setUnixKind(char type, ListingEntry& entry)
{
    switch (type) {
    case 'd': entry.tryChangeDirectory = true; break;
    case '-': entry.tryRetrieve = true; break;
    case 'l':
        entry.tryChangeDirectory = true;
        entry.tryRetrieve = true;
        break;
    default: break;
    }
}

// The column after the day holds "h:mm" or "hh:mm" for recent files, whose year has to be
// guessed, and the year for older ones. Anything shorter than a year rejects the line.
bool setUnixTime(std::string_view field, int32_t month, int32_t day, int64_t now, ListingEntry& entry)
{
    int32_t hour = 0;
    int32_t minute = 0;
    bool hasTime = false;
    if (field.size() == 4 && field[1] == ':') {
        hour = asInt32(field.substr(0, 1));
        minute = asInt32(field.substr(2, 2));
        hasTime = true;
    } else if (field.size() == 5 && field[2] == ':') {
        hour = asInt32(field.substr(0, 2));
        minute = asInt32(field.substr(3, 2));
        hasTime = true;
    } else if (field.size() < 4) {
        return false;
    }
    if (hasTime) {
        entry.timeKind = ListingEntry::TimeKind::RemoteMinute;
        entry.time = guessedDate(month, day, now) + int64_t { hour } * 3600 + int64_t { minute } * 60;
    } else {
        entry.timeKind = ListingEntry::TimeKind::RemoteDay;
        entry.time = dateSeconds(asInt32(field), month, day);
    }
    return true;
}

// The name column runs to the end of the line and may carry more than the name.
void trimUnixName(std::string_view line, ListingEntry& entry)
{
    if (line[0] == 'l') {
        if (const size_t arrow = entry.name.find(" -> "); arrow != std::string_view::npos)
            entry.name = entry.name.substr(0, arrow);
    }
    // NetWare pads the name column with three blanks.
    if ((line[1] == ' ' || line[1] == '[') && entry.name.size() > 3 && entry.name.substr(0, 3) == "   ")
        entry.name.remove_prefix(3);
}

bool parseUnix(std::string_view line, ListingEntry& entry, int64_t now)
{
    setUnixKind(line[0], entry);

    enum class Column { Permissions, LinkCount, Owner, Size, SizeOrMonth, Day, TimeOrYear, Name };
    Column column = Column::Permissions;
    size_t fieldStart = 0;
    int64_t size = 0;
    int32_t month = 0;
    int32_t day = 0;
    for (size_t i = 1; i < line.size(); ++i) {
        if (line[i] != ' ' || line[i - 1] == ' ')
            continue;
        const std::string_view field = line.substr(fieldStart, i - fieldStart);
        switch (column) {
        case Column::Permissions: column = Column::LinkCount; break;
        case Column::LinkCount:
            // NetPresenz prints "folder" where the link count would be and leaves out the owner.
            column = (field.size() == 6 && field[0] == 'f') ? Column::Size : Column::Owner;
            break;
        case Column::Owner: column = Column::Size; break;
        case Column::Size:
            size = number64(field);
            column = Column::SizeOrMonth;
            break;
        case Column::SizeOrMonth:
            // Until a month turns up, the group column (if any) was skipped and the last number
            // seen is the size.
            if (const int found = monthOf(field); found >= 0) {
                month = found;
                column = Column::Day;
            } else {
                size = number64(field);
            }
            break;
        case Column::Day:
            day = asInt32(field);
            column = Column::TimeOrYear;
            break;
        case Column::TimeOrYear:
            if (!setUnixTime(field, month, day, now, entry))
                return false;
            entry.name = line.substr(i + 1);
            column = Column::Name;
            break;
        case Column::Name: break;
        }
        fieldStart = i + 1;
        while (fieldStart < line.size() && line[fieldStart] == ' ')
            ++fieldStart;
    }
    if (column != Column::Name)
        return false;

    entry.sizeKind = ListingEntry::SizeKind::Bytes;
    entry.size = size;
    trimUnixName(line, entry);
    return hasUsableName(entry.name);
}

// Moves through one line and refuses to go past its end, so every family can say "running off
// the end rejects the line" once.
class Cursor {
public:
    explicit Cursor(std::string_view line, size_t position = 0)
        : line_(line)
        , position_(position)
    {
    }

    [[nodiscard]] bool atEnd() const { return position_ >= line_.size(); }
    [[nodiscard]] char peek() const { return line_[position_]; }
    [[nodiscard]] size_t position() const { return position_; }
    void step() { ++position_; }

    // The text up to (not including) the next `stop`; false when there is none.
    [[nodiscard]] bool takeUntil(char stop, std::string_view& field)
    {
        const size_t end = line_.find(stop, position_);
        if (end == std::string_view::npos)
            return false;
        field = line_.substr(position_, end - position_);
        position_ = end;
        return true;
    }
    // Steps over a run of `c`; false when that reaches the end of the line.
    [[nodiscard]] bool skipAll(char c)
    {
        while (!atEnd() && peek() == c)
            ++position_;
        return !atEnd();
    }
    // Steps over a run of characters other than `c`; false at the end of the line.
    [[nodiscard]] bool skipAllBut(char c)
    {
        while (!atEnd() && peek() != c)
            ++position_;
        return !atEnd();
    }
    [[nodiscard]] std::string_view rest() const { return line_.substr(position_); }

private:
    std::string_view line_;
    size_t position_;
};

bool parseVms(std::string_view line, size_t semicolon, ListingEntry& entry)
{
    entry.name = line.substr(0, semicolon);
    if (entry.name.size() > 4 && entry.name.ends_with(".DIR")) {
        entry.name.remove_suffix(4);
        entry.tryChangeDirectory = true;
    } else {
        entry.tryRetrieve = true;
    }

    Cursor cursor(line, semicolon);
    if (!cursor.skipAllBut(' ') || !cursor.skipAll(' ') || !cursor.skipAllBut(' ') || !cursor.skipAll(' '))
        return false;
    std::string_view field;
    if (!cursor.takeUntil('-', field))
        return false;
    const int32_t day = asInt32(field);
    if (!cursor.skipAll('-') || !cursor.takeUntil('-', field))
        return false;
    const int month = monthOf(field);
    if (month < 0 || !cursor.skipAll('-') || !cursor.takeUntil(' ', field))
        return false;
    const int32_t year = asInt32(field);
    if (!cursor.skipAll(' ') || !cursor.takeUntil(':', field))
        return false;
    const int32_t hour = asInt32(field);
    if (!cursor.skipAll(':'))
        return false;
    const std::string_view rest = cursor.rest();
    const int32_t minute = asInt32(rest.substr(0, rest.find_first_of(": ")));

    entry.timeKind = ListingEntry::TimeKind::RemoteMinute;
    entry.time = dateSeconds(year, month, day) + int64_t { hour } * 3600 + int64_t { minute } * 60;
    return hasUsableName(entry.name);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool parseMsdos(std::string_view line, ListingEntry& entry)
{
    Cursor cursor(line, 1);
    std::string_view first;
    std::string_view second;
    std::string_view third;
    if (!cursor.takeUntil('-', first))
        return false;
    first = line.substr(0, cursor.position());
    if (!cursor.skipAll('-') || !cursor.takeUntil('-', second) || !cursor.skipAll('-') || !cursor.takeUntil(' ', third))
        return false;
    int32_t month;
    int32_t day;
    int32_t year;
    if (first.size() == 4) {
        // Newer IIS versions write year-month-day.
        year = asInt32(first);
        month = wrapSub(asInt32(second), 1);
        day = asInt32(third);
    } else {
        month = wrapSub(asInt32(first), 1);
        day = asInt32(second);
        year = asInt32(third);
        if (year < 50)
            year += 2000;
        if (year < 1000)
            year += 1900;
    }

    std::string_view field;
    if (!cursor.skipAll(' ') || !cursor.takeUntil(':', field) || !cursor.skipAll(':'))
        return false;
    int32_t hour = asInt32(field);
    // The minute is the digit run after the colon; an AM or PM marker may follow directly,
    // and without one the clock is 24-hour.
    const size_t minuteStart = cursor.position();
    while (!cursor.atEnd() && isDigit(cursor.peek()))
        cursor.step();
    const int32_t minute = asInt32(line.substr(minuteStart, cursor.position() - minuteStart));
    if (cursor.atEnd())
        return false;
    if (cursor.peek() == 'A' || cursor.peek() == 'P') {
        if (hour == 12)
            hour = 0;
        if (cursor.peek() == 'P')
            hour = wrapAdd(hour, 12);
        cursor.step();
        if (!cursor.atEnd() && cursor.peek() == 'M')
            cursor.step();
    }

    if (!cursor.skipAll(' '))
        return false;
    if (cursor.peek() == '<') {
        entry.tryChangeDirectory = true;
        if (!cursor.skipAllBut(' '))
            return false;
    } else {
        if (!cursor.takeUntil(' ', field))
            return false;
        entry.sizeKind = ListingEntry::SizeKind::Bytes;
        entry.size = number64(field);
        entry.tryRetrieve = true;
    }
    if (!cursor.skipAll(' '))
        return false;
    entry.name = cursor.rest();

    entry.timeKind = ListingEntry::TimeKind::RemoteMinute;
    entry.time = dateSeconds(year, month, day) + int64_t { hour } * 3600 + int64_t { minute } * 60;
    return hasUsableName(entry.name);
}

} // namespace

bool parseListingLine(std::string_view line, ListingEntry& entry, int64_t now)
{
    entry = ListingEntry {};
    if (line.size() < 2)
        return false;
    switch (line[0]) {
    case '+': return parseEplf(line, entry);
    case 'b':
    case 'c':
    case 'd':
    case 'l':
    case 'p':
    case 's':
    case '-': return parseUnix(line, entry, now);
    default: break;
    }
    if (const size_t semicolon = line.find(';'); semicolon != std::string_view::npos)
        return parseVms(line, semicolon, entry);
    if (isDigit(line[0]))
        return parseMsdos(line, entry);
    return false;
}

bool parseListingLine(std::string_view line, ListingEntry& entry)
{
    return parseListingLine(line, entry, static_cast<int64_t>(std::time(nullptr)));
}

std::vector<std::string_view> listingLines(std::string_view listing)
{
    std::vector<std::string_view> lines;
    size_t position = 0;
    while (position < listing.size()) {
        size_t end = listing.find_first_of("\r\n", position);
        if (end == std::string_view::npos)
            end = listing.size();
        if (end > position)
            lines.push_back(listing.substr(position, end - position));
        position = end + 1;
    }
    return lines;
}
