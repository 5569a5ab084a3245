#include "ftp/reply_reader.h"

#include <gtest/gtest.h>

namespace {

struct Read {
    std::vector<std::string> lines;
    std::vector<std::string> finals;
};

// Feeds `chunks` one after the other, taking lines as they complete.
Read readAll(const std::vector<std::string>& chunks)
{
    ReplyReader reader;
    Read read;
    for (const std::string& chunk : chunks) {
        reader.append(chunk);
        while (auto line = reader.nextLine()) {
            read.lines.push_back(line->text);
            if (line->final)
                read.finals.push_back(line->text);
        }
    }
    return read;
}

TEST(ReplyReader, MultiLineReplyIsTheSameWhereverThePacketsAreCut)
{
    const std::string reply = "230-Welcome\r\n230-  more text\r\n 230 indented still continues\r\n230 Done\r\n";
    for (size_t cut = 0; cut <= reply.size(); ++cut) {
        for (size_t second = cut; second <= reply.size(); second += 7) {
            Read read = readAll({ reply.substr(0, cut), reply.substr(cut, second - cut), reply.substr(second) });
            SCOPED_TRACE("cut at " + std::to_string(cut) + " and " + std::to_string(second));
            ASSERT_EQ(read.lines.size(), 4u);
            ASSERT_EQ(read.finals, std::vector<std::string> { "230 Done" });
        }
    }
}

TEST(ReplyReader, EndsRepliesByTheRuleOfTheFirstLine)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> finals;
    };
    const Case cases[] = {
        { "two replies in one packet", "150 Opening\r\n226 Done\r\n", { "150 Opening", "226 Done" } },
        { "bare code ends a reply", "200\r\n", { "200" } },
        { "bare code ends a multi-line reply", "211-Features\r\n MDTM\r\n211\r\n", { "211" } },
        { "other code inside multi-line reply", "220-Hello\r\n331 not the end\r\n220 End\r\n", { "220 End" } },
        { "LF only line ends", "220-a\n220 b\n", { "220 b" } },
        { "text without a code is a reply", "hello\r\n", { "hello" } },
        { "dash after non-digits is no multi-line start", "ab1-x\r\n", { "ab1-x" } },
        { "empty lines are skipped", "\r\n\r\n\n200 ok\r\n", { "200 ok" } },
        { "unfinished line waits", "200 partial", {} },
        { "lines after a reply stay for the next", "226 Done\r\n257 \"/\"\r\n", { "226 Done", "257 \"/\"" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(readAll({ c.bytes }).finals, c.finals);
    }
}

TEST(ReplyReader, StopsAtTheLimitsInsteadOfGrowing)
{
    using Overflow = ReplyReader::Overflow;
    auto lines = [](const std::string& first, const std::string& line, size_t count, const std::string& last) {
        std::string bytes = first;
        for (size_t i = 0; i < count; ++i)
            bytes += line;
        return bytes + last;
    };
    const std::string longText(ReplyReader::kMaxLineLength, 'x');
    const std::string wide(60 * 1024, 'w');
    struct Case {
        const char* name;
        std::string bytes;
        Overflow overflow;
        size_t finals;
    };
    const Case cases[] = {
        { "line of the longest length", "200 " + longText.substr(4) + "\r\n", Overflow::None, 1 },
        { "line one byte too long", "200 " + longText.substr(3) + "\r\n", Overflow::LineTooLong, 0 },
        { "endless line without an end", longText + longText, Overflow::LineTooLong, 0 },
        { "most lines a reply may have", lines("211-a\r\n", " x\r\n", ReplyReader::kMaxReplyLines - 2, "211 end\r\n"),
            Overflow::None, 1 },
        { "one line too many", lines("211-a\r\n", " x\r\n", ReplyReader::kMaxReplyLines - 1, "211 end\r\n"),
            Overflow::TooManyLines, 0 },
        { "many short replies are each counted alone", lines("", "200 ok\r\n", ReplyReader::kMaxReplyLines + 10, ""),
            Overflow::None, ReplyReader::kMaxReplyLines + 10 },
        { "a reply over a mebibyte in long lines", lines("211-a\r\n", " " + wide + "\r\n", 20, "211 end\r\n"),
            Overflow::TooManyBytes, 0 },
        { "empty lines count their bytes", lines("211-a\r\n", "\r\n", ReplyReader::kMaxReplyBytes, ""),
            Overflow::TooManyBytes, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReplyReader reader;
        size_t finals = 0;
        // Fed in packets, as a socket delivers them.
        for (size_t at = 0; at < c.bytes.size(); at += 4096) {
            reader.append(std::string_view(c.bytes).substr(at, 4096));
            while (auto line = reader.nextLine())
                finals += line->final ? 1 : 0;
            ASSERT_LE(reader.bufferedBytes(), ReplyReader::kMaxLineLength + 4096);
        }
        EXPECT_EQ(reader.overflow(), c.overflow);
        EXPECT_EQ(finals, c.finals);
        if (c.overflow != Overflow::None) {
            EXPECT_NE(std::string(overflowText(c.overflow)), "");
            reader.append("200 ok\r\n");
            EXPECT_FALSE(reader.nextLine()) << "a reader that overflowed gave more lines";
            reader.reset();
            reader.append("200 ok\r\n");
            EXPECT_TRUE(reader.nextLine());
        }
    }
}

TEST(ReplyReader, ReplyCodeIsTheDecimalPrefix)
{
    struct Case {
        const char* line;
        int code;
    };
    const Case cases[] = { { "226 Transfer complete", 226 }, { "  331 User ok", 331 }, { "+12x", 12 }, { "-5", -5 },
        { "abc", 0 }, { "", 0 }, { "99999999999999999999", 2147483647 }, { "257\"/\"", 257 } };
    for (const Case& c : cases)
        EXPECT_EQ(replyCode(c.line), c.code) << c.line;
}

} // namespace
