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

TEST(ReplyReader, CutsEndlessLinesInsteadOfGrowing)
{
    ReplyReader reader;
    std::string block(ReplyReader::kMaxLineLength / 4, 'x');
    for (int i = 0; i < 10; ++i)
        reader.append(block);
    int lines = 0;
    while (reader.nextLine())
        ++lines;
    EXPECT_EQ(lines, 2);
    EXPECT_LT(reader.bufferedBytes(), ReplyReader::kMaxLineLength);
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
