#include "session/server_text.h"

#include <gtest/gtest.h>

namespace {

TEST(ServerText, EscapesWhatATerminalWouldActOn)
{
    struct Case {
        const char* name;
        std::string text;
        std::string shown;
    };
    const Case cases[] = {
        { "plain text", "226 Transfer complete", "226 Transfer complete" },
        { "escape sequence", "220 \x1b[31mred\x1b[0m", "220 \\x1B[31mred\\x1B[0m" },
        { "title change with bell", "\x1b]0;owned\x07", "\\x1B]0;owned\\x07" },
        { "carriage return and line feed", "a\rb\nc", "a\\x0Db\\x0Ac" },
        { "tab stays", "name\tsize", "name\tsize" },
        { "NUL and DEL", std::string("a\0b\x7f", 4), "a\\x00b\\x7F" },
        { "UTF-8 stays", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80" },
        { "C1 CSI as UTF-8",
            "x\xc2\x9b"
            "2J",
            "x\\xC2\\x9B2J" },
        { "no-break space is no control",
            "a\xc2\xa0"
            "b",
            "a\xc2\xa0"
            "b" },
        { "lone C1 byte",
            "x\x9b"
            "2J",
            "x\\x9B2J" },
        { "Latin-1 letter stays", "M\xfcller", "M\xfcller" },
        { "cut UTF-8 sequence at the end", "a\xe2\x82", "a\xe2\\x82" },
        { "backslash stays", "C:\\x1B", "C:\\x1B" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(printableServerText(c.text), c.shown);
        // Shown text shown again is unchanged: displays may apply it once more.
        EXPECT_EQ(printableServerText(c.shown), c.shown);
    }
    // Every byte value, alone: nothing below 0x20 but tab survives, and nothing grows wild.
    for (int byte = 0; byte < 256; ++byte) {
        std::string shown = printableServerText(std::string(1, static_cast<char>(byte)));
        for (char c : shown)
            EXPECT_FALSE((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) << byte;
        EXPECT_LE(shown.size(), 4u);
    }
}

} // namespace
