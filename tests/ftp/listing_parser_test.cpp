#include "ftp/listing_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using SizeKind = ListingEntry::SizeKind;
using TimeKind = ListingEntry::TimeKind;

// 2026-06-15 12:00:00 UTC: every test places year-less dates against this moment.
constexpr int64_t kNow = 1781524800;

struct Civil {
    int year, month, day, hour, minute;
};

Civil civilOf(int64_t seconds)
{
    const time_t value = static_cast<time_t>(seconds);
    struct tm parts { };
    gmtime_r(&value, &parts);
    return { parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min };
}

int64_t secondsOf(int year, int month, int day, int hour = 0, int minute = 0)
{
    struct tm parts { };
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    return static_cast<int64_t>(timegm(&parts));
}

struct EdgeRow {
    const char* what;
    const char* line;
    bool recognised;
    const char* name;
    bool directory;
    bool file;
    SizeKind sizeKind;
    int64_t size;
    TimeKind timeKind;
    int64_t time; // -1: checked by the test itself
};

const EdgeRow kEdgeRows[] = {
    { "unix year-less h:mm lands within the last 350 days",
        "-rw-r--r--   1 root     other        531 Jan 29 03:26 README", true, "README", false, true, SizeKind::Bytes,
        531, TimeKind::RemoteMinute, secondsOf(2026, 1, 29, 3, 26) },
    { "unix date later in the calendar but within 350 days back takes last year",
        "-rw-r--r--   1 root     other        531 Dec 24 23:59 xmas", true, "xmas", false, true, SizeKind::Bytes, 531,
        TimeKind::RemoteMinute, secondsOf(2025, 12, 24, 23, 59) },
    { "unix date just past 350 days ago moves forward", "-rw-r--r--   1 root     other   1 Jun 20 10:00 old", true,
        "old", false, true, SizeKind::Bytes, 1, TimeKind::RemoteMinute, secondsOf(2026, 6, 20, 10, 0) },
    { "unix date 300 days ago takes last year", "-rw-r--r--   1 root     other   1 Aug 20 10:00 old", true, "old",
        false, true, SizeKind::Bytes, 1, TimeKind::RemoteMinute, secondsOf(2025, 8, 20, 10, 0) },
    { "unix hh:mm", "drwxr-xr-x   2 root     other        512 Mar 05 14:07 pub", true, "pub", true, false,
        SizeKind::Bytes, 512, TimeKind::RemoteMinute, secondsOf(2026, 3, 5, 14, 7) },
    { "unix year gives midnight of that day", "-rw-r--r--   1 root     other        531 Sep 13  1994 README", true,
        "README", false, true, SizeKind::Bytes, 531, TimeKind::RemoteDay, secondsOf(1994, 9, 13) },
    { "unix year after 2038 does not wrap", "-rw-r--r--   1 root     other        531 Feb 28  2041 later", true,
        "later", false, true, SizeKind::Bytes, 531, TimeKind::RemoteDay, secondsOf(2041, 2, 28) },
    { "unix leap day", "-rw-r--r--   1 root     other        1 Feb 29  2000 leap", true, "leap", false, true,
        SizeKind::Bytes, 1, TimeKind::RemoteDay, secondsOf(2000, 2, 29) },
    { "unix without group column", "-rw-r--r--   1 root     2048 Jan 01  2001 nogroup", true, "nogroup", false, true,
        SizeKind::Bytes, 2048, TimeKind::RemoteDay, secondsOf(2001, 1, 1) },
    { "unix size beyond 4 GiB", "-rw-r--r--   1 u g 5000000000 Jan 01  2001 big.iso", true, "big.iso", false, true,
        SizeKind::Bytes, 5000000000, TimeKind::RemoteDay, secondsOf(2001, 1, 1) },
    { "unix link ends the name at the arrow", "lrwxrwxrwx   1 root     other          7 Jan 25  2000 bin -> usr/bin",
        true, "bin", true, true, SizeKind::Bytes, 7, TimeKind::RemoteDay, secondsOf(2000, 1, 25) },
    { "unix arrow in a plain file stays part of the name", "-rw-r--r-- 1 u g 7 Jan 25  2000 a -> b", true, "a -> b",
        false, true, SizeKind::Bytes, 7, TimeKind::RemoteDay, secondsOf(2000, 1, 25) },
    { "unix name keeps inner and trailing blanks", "-rw-r--r-- 1 u g 7 Jan 25  2000 my  file ", true, "my  file ",
        false, true, SizeKind::Bytes, 7, TimeKind::RemoteDay, secondsOf(2000, 1, 25) },
    { "unix month in capitals", "-rw-r--r-- 1 u g 7 JAN 25  2000 caps", true, "caps", false, true, SizeKind::Bytes, 7,
        TimeKind::RemoteDay, secondsOf(2000, 1, 25) },
    { "unix month in mixed case", "-rw-r--r-- 1 u g 7 jAn 25  2000 mixed", true, "mixed", false, true, SizeKind::Bytes,
        7, TimeKind::RemoteDay, secondsOf(2000, 1, 25) },
    { "unix device has neither flag", "crw-rw-rw-   1 root sys  13,  2 Jan 25  2000 null", true, "null", false, false,
        SizeKind::Bytes, 2, TimeKind::RemoteDay, secondsOf(2000, 1, 25) },
    { "netware strips three padding blanks", "d [R----F--] supervisor            512       Jan 16 18:53    login", true,
        "login", true, false, SizeKind::Bytes, 512, TimeKind::RemoteMinute, secondsOf(2026, 1, 16, 18, 53) },
    { "netpresenz folder column", "drwxrwxr-x               folder        2 May 10  1996 network", true, "network",
        true, false, SizeKind::Bytes, 2, TimeKind::RemoteDay, secondsOf(1996, 5, 10) },
    { "unix three-digit year is rejected", "drwxr-xr-x 3 110 1002 3 Dec 02  209 pub", false, "", false, false,
        SizeKind::None, 0, TimeKind::None, 0 },
    { "unix line without a name", "drwxr-xr-x 3 ftp ftp 4096 May 15 18:11", false, "", false, false, SizeKind::None, 0,
        TimeKind::None, 0 },
    { "unix name of blanks only", "drwxr-xr-x 2 0 0 4096 Mar 18  2007  ", false, "", false, false, SizeKind::None, 0,
        TimeKind::None, 0 },
    { "unix unknown month", "-rw-r--r-- 1 ftp ftp 528 Foo 01 2007 README", false, "", false, false, SizeKind::None, 0,
        TimeKind::None, 0 },
    { "total header", "total 14", false, "", false, false, SizeKind::None, 0, TimeKind::None, 0 },
    { "one character", "d", false, "", false, false, SizeKind::None, 0, TimeKind::None, 0 },
    { "empty line", "", false, "", false, false, SizeKind::None, 0, TimeKind::None, 0 },

    { "msdos dir marker has no size", "04-27-00  09:09PM       <DIR>          licensed", true, "licensed", true, false,
        SizeKind::None, 0, TimeKind::RemoteMinute, secondsOf(2000, 4, 27, 21, 9) },
    { "msdos 03:47 PM is 15:47", "04-14-00  03:47PM                  589 readme.htm", true, "readme.htm", false, true,
        SizeKind::Bytes, 589, TimeKind::RemoteMinute, secondsOf(2000, 4, 14, 15, 47) },
    { "msdos 12:05 AM is 00:05", "12-07-10  12:05AM       1234 midnight", true, "midnight", false, true,
        SizeKind::Bytes, 1234, TimeKind::RemoteMinute, secondsOf(2010, 12, 7, 0, 5) },
    { "msdos 12:05 PM is 12:05", "12-07-10  12:05PM       1234 noon", true, "noon", false, true, SizeKind::Bytes, 1234,
        TimeKind::RemoteMinute, secondsOf(2010, 12, 7, 12, 5) },
    { "msdos year 00 is 2000", "01-06-00  02:42AM                  458 a", true, "a", false, true, SizeKind::Bytes, 458,
        TimeKind::RemoteMinute, secondsOf(2000, 1, 6, 2, 42) },
    { "msdos year 99 is 1999", "01-06-99  02:42AM                  458 b", true, "b", false, true, SizeKind::Bytes, 458,
        TimeKind::RemoteMinute, secondsOf(1999, 1, 6, 2, 42) },
    { "msdos year 49 is 2049", "01-06-49  02:42AM                  458 c", true, "c", false, true, SizeKind::Bytes, 458,
        TimeKind::RemoteMinute, secondsOf(2049, 1, 6, 2, 42) },
    { "msdos four-digit year", "10-19-2012  03:13PM       <DIR>          SYNC", true, "SYNC", true, false,
        SizeKind::None, 0, TimeKind::RemoteMinute, secondsOf(2012, 10, 19, 15, 13) },
    { "msdos 24-hour clock", "05-22-97  17:08                  828 AUTOEXEC.BAK", true, "AUTOEXEC.BAK", false, true,
        SizeKind::Bytes, 828, TimeKind::RemoteMinute, secondsOf(1997, 5, 22, 17, 8) },
    { "msdos 24-hour clock with a name full of A and P", "05-22-97  12:08       <DIR>          APPS PAPA", true,
        "APPS PAPA", true, false, SizeKind::None, 0, TimeKind::RemoteMinute, secondsOf(1997, 5, 22, 12, 8) },
    { "msdos year first", "2002-09-02  19:06                 9730 file", true, "file", false, true, SizeKind::Bytes,
        9730, TimeKind::RemoteMinute, secondsOf(2002, 9, 2, 19, 6) },
    { "msdos name keeps its blanks", "12-03-96  06:38AM       <DIR>          123 abc xyz", true, "123 abc xyz", true,
        false, SizeKind::None, 0, TimeKind::RemoteMinute, secondsOf(1996, 12, 3, 6, 38) },
    { "msdos without a name", "11-02-09  05:32PM       <DIR>", false, "", false, false, SizeKind::None, 0,
        TimeKind::None, 0 },
    { "msdos with trailing blanks instead of a name", "12-07-10  12:05AM       1234    ", false, "", false, false,
        SizeKind::None, 0, TimeKind::None, 0 },

    { "vms directory drops .DIR", "CORE.DIR;1          1  8-SEP-1996 16:09 [SYSTEM] (RWE,RWE,RE,RE)", true, "CORE",
        true, false, SizeKind::None, 0, TimeKind::RemoteMinute, secondsOf(1996, 9, 8, 16, 9) },
    { "vms file keeps its extension", "00README.TXT;1      2 30-DEC-1996 17:44 [SYSTEM] (RWED,RWED,RE,RE)", true,
        "00README.TXT", false, true, SizeKind::None, 0, TimeKind::RemoteMinute, secondsOf(1996, 12, 30, 17, 44) },
    { "vms seconds after the minute", "README.TXT;4  2  18-APR-2000 10:40:39.90", true, "README.TXT", false, true,
        SizeKind::None, 0, TimeKind::RemoteMinute, secondsOf(2000, 4, 18, 10, 40) },
    { "vms time at the end of the line", "A.B;1  2  18-APR-2000 10:40", true, "A.B", false, true, SizeKind::None, 0,
        TimeKind::RemoteMinute, secondsOf(2000, 4, 18, 10, 40) },
    { "vms lower-case .dir is a file", "x.dir;1 1 8-SEP-1996 16:09", true, "x.dir", false, true, SizeKind::None, 0,
        TimeKind::RemoteMinute, secondsOf(1996, 9, 8, 16, 9) },
    { "vms bare .DIR is a file", ".DIR;1 1 8-SEP-1996 16:09", true, ".DIR", false, true, SizeKind::None, 0,
        TimeKind::RemoteMinute, secondsOf(1996, 9, 8, 16, 9) },
    { "vms entry cut after the name", "MAIL_ARCHIVES.DIR;1", false, "", false, false, SizeKind::None, 0, TimeKind::None,
        0 },
    { "vms bad month", "A.B;1 1 8-SPE-1996 16:09", false, "", false, false, SizeKind::None, 0, TimeKind::None, 0 },

    { "eplf file with id, time, retrieve and size", "+i8388621.48594,m825718503,r,s280,\tdjb.html", true, "djb.html",
        false, true, SizeKind::Bytes, 280, TimeKind::Local, 825718503 },
    { "eplf directory", "+i8388621.50690,m824255907,/,\t514", true, "514", true, false, SizeKind::None, 0,
        TimeKind::Local, 824255907 },
    { "eplf empty facts are skipped", "+,,m825718503,,r,,\tx", true, "x", false, true, SizeKind::None, 0,
        TimeKind::Local, 825718503 },
    { "eplf name keeps commas", "+r,\ta, b,c", true, "a, b,c", false, true, SizeKind::None, 0, TimeKind::None, 0 },
    { "eplf time after 2106", "+m5000000000,\tfuture", true, "future", false, false, SizeKind::None, 0, TimeKind::Local,
        5000000000 },
    { "eplf without tab", "+r,s1234,  notabinfront", false, "", false, false, SizeKind::None, 0, TimeKind::None, 0 },
    { "eplf without name", "+r,\t", false, "", false, false, SizeKind::None, 0, TimeKind::None, 0 },
};

TEST(ListingParser, EdgeCases)
{
    for (const EdgeRow& row : kEdgeRows) {
        SCOPED_TRACE(row.what);
        ListingEntry entry;
        const bool recognised = parseListingLine(row.line, entry, kNow);
        ASSERT_EQ(recognised, row.recognised);
        if (!recognised)
            continue;
        EXPECT_EQ(entry.name, row.name);
        EXPECT_EQ(entry.tryChangeDirectory, row.directory);
        EXPECT_EQ(entry.tryRetrieve, row.file);
        EXPECT_EQ(entry.sizeKind, row.sizeKind);
        if (row.sizeKind == SizeKind::Bytes) {
            EXPECT_EQ(entry.size, row.size);
        }
        EXPECT_EQ(entry.timeKind, row.timeKind);
        EXPECT_EQ(entry.time, row.time);
    }
}

TEST(ListingParser, EplfIdPointsIntoTheLine)
{
    const std::string line = "+i8388621.48594,m825718503,r,s280,\tdjb.html";
    ListingEntry entry;
    ASSERT_TRUE(parseListingLine(line, entry, kNow));
    EXPECT_EQ(entry.idKind, ListingEntry::IdKind::Full);
    EXPECT_EQ(entry.id, "8388621.48594");
    EXPECT_EQ(entry.id.data(), line.data() + 2);
    EXPECT_EQ(entry.name.data(), line.data() + line.size() - 8);
}

TEST(ListingParser, YearGuessFollowsNow)
{
    const std::string line = "-rw-r--r--   1 root     other        531 Jan 29 03:26 README";
    struct Case {
        int64_t now;
        int expectedYear;
    };
    const Case cases[] = {
        { secondsOf(2026, 1, 29, 3, 26), 2026 },
        { secondsOf(2026, 1, 28), 2026 }, // tomorrow's date stays in this year
        { secondsOf(2027, 1, 1), 2026 },
        { secondsOf(2027, 1, 14), 2027 }, // 350 days ago is the cut
        { secondsOf(2001, 3, 1), 2001 },
        { secondsOf(2040, 12, 31), 2040 },
    };
    for (const Case& c : cases) {
        ListingEntry entry;
        ASSERT_TRUE(parseListingLine(line, entry, c.now));
        const Civil civil = civilOf(entry.time);
        EXPECT_EQ(civil.year, c.expectedYear) << "now " << c.now;
        EXPECT_EQ(civil.month, 1);
        EXPECT_EQ(civil.day, 29);
    }
}

TEST(ListingParser, NeverReadsPastTheGivenLength)
{
    // The buffer holds more than the line; the parser must stop at the length it was given.
    const std::string buffer = "-rw-r--r-- 1 u g 7 Jan 25  2000 name-and-more";
    const std::string_view line(buffer.data(), buffer.size() - 9);
    ListingEntry entry;
    ASSERT_TRUE(parseListingLine(line, entry, kNow));
    EXPECT_EQ(entry.name, "name");

    const std::string cut = "-rw-r--r-- 1 u g 7 Jan 25  2000 x";
    ListingEntry none;
    EXPECT_FALSE(parseListingLine(std::string_view(cut.data(), cut.size() - 2), none, kNow));
}

TEST(ListingParser, HugeNumbersWrapInsteadOfOverflowing)
{
    // Run under the sanitizers, these would report signed overflow if any step did not wrap.
    const char* lines[] = {
        "01-01-00  2147483647:00PM       1 hour",
        "99999999999-99999999999-99999999999  99999999999:99999999999AM       1 day",
        "-rw-r--r-- 1 u g 99999999999 Jan 99999999999  99999999999 year",
        "-rw-r--r-- 1 u g 1 Dec 99999999999 99:99 guess",
        "A.B;1 1 99999999999-DEC-99999999999 99999999999:99999999999 vms",
        "+m99999999999999999999999,s99999999999999999999999,\teplf",
    };
    for (const char* line : lines) {
        ListingEntry entry;
        EXPECT_TRUE(parseListingLine(line, entry, kNow)) << line;
    }
}

TEST(ListingParser, ListingTextIsCutIntoLines)
{
    // Servers end lines with CR LF, LF or (old Macintosh ones) CR alone, and the last line
    // may have no end at all; none of that may cost or invent an entry.
    struct Case {
        std::string_view text;
        std::vector<std::string_view> lines;
    } cases[] = {
        { "", {} },
        { "\r\n\r\n", {} },
        { "a\r\nb\r\n", { "a", "b" } },
        { "a\nb", { "a", "b" } },
        { "a\rb\r", { "a", "b" } },
        { "\n a \n\n", { " a " } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(listingLines(c.text), c.lines) << testing::PrintToString(std::string(c.text));
}

// --- Lines collected from other projects' tests -------------------------------------------

struct CorpusRow {
    std::string family;
    std::string line;
    std::string name;
    std::string isDirectory, isFile, size, year, month, day, hour, minute;
    std::string source;
};

std::string unescapeTabs(const std::string& text)
{
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 't') {
            result += '\t';
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::vector<CorpusRow> loadCorpus()
{
    std::ifstream in(TARNWICK_TEST_DATA_DIR "/listings.tsv", std::ios::binary);
    std::vector<CorpusRow> rows;
    std::string text;
    bool header = true;
    while (std::getline(in, text)) {
        if (header) {
            header = false;
            continue;
        }
        std::vector<std::string> columns;
        size_t start = 0;
        for (;;) {
            const size_t tab = text.find('\t', start);
            columns.push_back(text.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        if (columns.size() != 12) {
            ADD_FAILURE() << "malformed corpus row: " << text;
            continue;
        }
        rows.push_back({ columns[0], unescapeTabs(columns[1]), columns[2], columns[3], columns[4], columns[5],
            columns[6], columns[7], columns[8], columns[9], columns[10], columns[11] });
    }
    return rows;
}

// Rows where the parser's documented behaviour differs from what the line's source expects.
// Keyed by the exact line; the reason says which behaviour wins and why.
const std::map<std::string, std::string>& allowList()
{
    static const std::string twoBlanks = "ls pads the year column: one of the two blanks after the year is kept as "
                                         "part of the name, because a name may really begin with a blank";
    static const std::string leadingBlank = "a line must begin with its type character; the caller trims nothing";
    static const std::map<std::string, std::string> rows = {
        { "-r-xr-xr-x longowner longgroup123456 Feb 12 17:20 46-unix-concatsize file",
            "no link count and group run into the size: too few columns before the month" },
        { "-r--r--r-- 0125039 12 Nov 11 2005 53-noownergroup file",
            "no owner or group: the columns before the month are read as link count and owner" },
        { "-rw-r--r--        0   18446744073709551615 18446744073709551615 Nov 16  2006 VIDEO_TS.VOB",
            "a size beyond the signed 64-bit range wraps" },
        { "drwxr-sr-x   2 45854    200           512 May  4  2000 chemeng link -> chemeng target",
            "the arrow ends the name only on link lines" },
        { "drwxr-sr-x   2   200           512 May  4  2000 chemeng link -> chemeng target",
            "the arrow ends the name only on link lines" },
        { "- [-RWCE-F-] mlm                   11820 Feb  3 93 12:00  drivers.doc",
            "a two-character year column is rejected" },
        { "    -rw-r--r--+   1 patrick  staff   1057 Dec 11 14:35 LICENSE.txt", leadingBlank },
        { " drwxr-xr-x+   5 patrick  staff    170 Dec 11 17:24 lib", leadingBlank },
        { "drwxr-xr-x 1 user01 ftp  512 Jan 29 1997  prog", twoBlanks },
        { "-r-xr-xr-x  1 anonymou      245       90 Mar  1 2003  .welcome", twoBlanks },
        { "drwxr-xr-x  1 system          1      512 Feb 26 2005  decus", twoBlanks },
        { "dr-xr-xr-x  1 system          1     3072 Dec  2 2006  gnv", twoBlanks },
        { "-r-xr-xr-x  1 anonymou      245   158208 Apr 10 2003  unzip.alpha_exe", twoBlanks },
        { "-rwx---r-x  1 archives 0             472 Jun 28 2004  .welcome", twoBlanks },
        { "drwxr-xr-x  1 archives 0             512 Mar  5 1998  contributed-software", twoBlanks },
        { "-rw-r--r--   1 20708    205         3553312 Feb 18 2005  D3I0_515.fmr", twoBlanks },
        { "drwxr-sr-x  14 17037    209            4096 Oct  6 2000  v3r7", twoBlanks },
        { "-rwx------ 1 user group          38635 Jul 13 2006  users.xml", twoBlanks },
        { "38-vms-notime-file;1    2/8    7-JAN-2000    [IV2_XXX]   (RWED,RWED,RE,)",
            "a VMS line needs a time after the date" },
        { "42-vms-alternate-field-order-file;1   [SUMMARY]    1/3     2-AUG-2006 13:05  (RWE,RWE,RE,)",
            "the column after the version is taken as the size and the owner is read as the date" },
        { "43-vms-alternate-field-order-file;1       17-JUN-1994 17:25:37     6308/13     (RWED,RWED,R,)",
            "the date in the size position is skipped and no date follows" },
        { "[VMSSERV.FILES]ALARM.DIR;1      1/3          5-MAR-1993 18:09:",
            "the name is everything before the version, directory prefix included" },
        { "2002-09-02  19:06                9,730 19-dos-longyear file",
            "numbers are not checked for digits, so a thousands separator spoils the size" },
        { "11-02-09  05:32PM       <GARBAGE>      NT", "anything in angle brackets marks a directory" },
    };
    return rows;
}

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// VMS sources disagree about versions, ".DIR" and case; compare what they all carry.
std::string vmsBaseName(std::string name)
{
    if (const size_t semicolon = name.find(';'); semicolon != std::string::npos)
        name.erase(semicolon);
    name = lowered(name);
    if (name.size() > 4 && name.ends_with(".dir"))
        name.erase(name.size() - 4);
    return name;
}

// Empty when the parse agrees with the row, otherwise what differs.
std::string disagreement(const CorpusRow& row, bool recognised, const ListingEntry& entry)
{
    std::ostringstream out;
    if (row.family == "reject") {
        if (recognised)
            out << "recognised as '" << entry.name << "'";
        return out.str();
    }
    if (!recognised)
        return "rejected";
    const bool vms = row.family == "vms";
    const std::string name(entry.name);
    if (vms ? vmsBaseName(name) != vmsBaseName(row.name) : name != row.name)
        out << " name '" << name << "' expected '" << row.name << "'";
    if (!row.isDirectory.empty() && entry.tryChangeDirectory != (row.isDirectory == "1"))
        out << " directory " << entry.tryChangeDirectory;
    if (!row.isFile.empty() && entry.tryRetrieve != (row.isFile == "1"))
        out << " file " << entry.tryRetrieve;
    // Directory sizes differ by source (-1, 0 or the column), and VMS lines carry blocks, not bytes.
    const bool plainDirectory = row.isDirectory == "1" && row.isFile == "0";
    if (vms) {
        if (entry.sizeKind != SizeKind::None)
            out << " size given for a VMS line";
    } else if (!row.size.empty() && !plainDirectory) {
        if (entry.sizeKind != SizeKind::Bytes || std::to_string(entry.size) != row.size)
            out << " size " << entry.size;
    }
    if (!row.month.empty()) {
        if (entry.timeKind == TimeKind::None) {
            out << " no time";
        } else {
            const Civil civil = civilOf(entry.time);
            auto check = [&](const std::string& expected, int actual, const char* what) {
                if (!expected.empty() && std::stoi(expected) != actual)
                    out << " " << what << " " << actual;
            };
            check(row.year, civil.year, "year");
            check(row.month, civil.month, "month");
            check(row.day, civil.day, "day");
            check(row.hour, civil.hour, "hour");
            check(row.minute, civil.minute, "minute");
            if (row.hour.empty() && entry.timeKind != TimeKind::RemoteDay)
                out << " date-only line not to the day";
        }
    }
    return out.str();
}

TEST(ListingParser, CorpusRows)
{
    const std::vector<CorpusRow> rows = loadCorpus();
    ASSERT_EQ(rows.size(), 483u);
    std::map<std::string, std::pair<int, int>> perFamily; // agreed, allowed
    std::set<std::string> allowedSeen;
    for (const CorpusRow& row : rows) {
        ListingEntry entry;
        const bool recognised = parseListingLine(row.line, entry, kNow);
        const std::string difference = disagreement(row, recognised, entry);
        const auto allowed = allowList().find(row.line);
        if (difference.empty()) {
            ++perFamily[row.family].first;
            EXPECT_EQ(allowed, allowList().end()) << "allow-listed row now agrees: " << row.line;
        } else if (allowed != allowList().end()) {
            ++perFamily[row.family].second;
            allowedSeen.insert(row.line);
        } else {
            ADD_FAILURE() << row.family << " [" << row.line << "]:" << difference << "  (" << row.source << ")";
        }
    }
    EXPECT_EQ(allowedSeen.size(), allowList().size());
    for (const auto& [family, counts] : perFamily)
        std::printf("%-7s agree %3d, allow-listed %2d\n", family.c_str(), counts.first, counts.second);
}

TEST(ListingParser, OneEntryReusedAcrossTheCorpusGivesTheSameResults)
{
    const std::vector<CorpusRow> rows = loadCorpus();
    ListingEntry reused;
    for (const CorpusRow& row : rows) {
        ListingEntry fresh;
        const bool freshResult = parseListingLine(row.line, fresh, kNow);
        const bool reusedResult = parseListingLine(row.line, reused, kNow);
        ASSERT_EQ(freshResult, reusedResult) << row.line;
        if (!freshResult)
            continue;
        EXPECT_EQ(fresh.name, reused.name) << row.line;
        EXPECT_EQ(fresh.tryChangeDirectory, reused.tryChangeDirectory) << row.line;
        EXPECT_EQ(fresh.tryRetrieve, reused.tryRetrieve) << row.line;
        EXPECT_EQ(fresh.sizeKind, reused.sizeKind) << row.line;
        EXPECT_EQ(fresh.size, reused.size) << row.line;
        EXPECT_EQ(fresh.timeKind, reused.timeKind) << row.line;
        EXPECT_EQ(fresh.time, reused.time) << row.line;
        EXPECT_EQ(fresh.idKind, reused.idKind) << row.line;
        EXPECT_EQ(fresh.id, reused.id) << row.line;
    }
}

TEST(ListingParser, RandomWhitespaceNeverEscapesTheLine)
{
    const std::vector<CorpusRow> rows = loadCorpus();
    std::mt19937 random(20261208);
    const char blanks[] = { ' ', ' ', ' ', '\t', '\r', '\n' };
    for (const CorpusRow& row : rows) {
        for (int round = 0; round < 20; ++round) {
            std::string line = row.line;
            const int insertions = 1 + static_cast<int>(random() % 6);
            for (int i = 0; i < insertions; ++i) {
                const size_t at = random() % (line.size() + 1);
                line.insert(line.begin() + static_cast<std::ptrdiff_t>(at), blanks[random() % sizeof blanks]);
            }
            // Exactly sized heap copy so that a read past the end is caught by the sanitizers.
            const std::unique_ptr<char[]> copy(new char[line.size()]);
            std::copy(line.begin(), line.end(), copy.get());
            const std::string_view view(copy.get(), line.size());
            ListingEntry entry;
            if (!parseListingLine(view, entry, kNow))
                continue;
            auto inside = [&](std::string_view part) {
                return part.empty()
                    || (part.data() >= view.data() && part.data() + part.size() <= view.data() + view.size());
            };
            ASSERT_FALSE(entry.name.empty()) << line;
            ASSERT_TRUE(inside(entry.name)) << line;
            ASSERT_TRUE(inside(entry.id)) << line;
        }
    }
}

} // namespace
