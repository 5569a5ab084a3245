#include "ftp/passive_reply.h"

#include <gtest/gtest.h>

TEST(PassiveReply, PasvNumbers)
{
    struct Case {
        const char* line;
        int port; // 0: refused
        uint8_t first;
    };
    const Case cases[] = {
        { "227 Entering Passive Mode (127,0,0,1,4,1)", 1025, 127 },
        { "227 Entering Passive Mode (10,1,2,3,255,255).", 65535, 10 },
        { "227 =192,168,1,2,0,21", 21, 192 },
        { "227 Entering Passive Mode ( 127, 0, 0, 1, 4, 1 )", 1025, 127 },
        { "227 Entering Passive Mode (127,0,0,1,0,0)", 0, 0 },
        { "227 Entering Passive Mode (127,0,0,256,4,1)", 0, 0 },
        { "227 Entering Passive Mode (127,0,0,1,4,1000)", 0, 0 },
        { "227 Entering Passive Mode (127,0,0,1,4)", 0, 0 },
        { "227 Entering Passive Mode (127,0,0,1,,4)", 0, 0 },
        { "227 Entering Passive Mode (99999999999999999999,0,0,1,4,1)", 0, 0 },
        { "227 Entering Passive Mode", 0, 0 },
        { "", 0, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::optional<PassiveReply> reply = PassiveReply::parsePasv(c.line);
        ASSERT_EQ(reply.has_value(), c.port != 0);
        if (reply) {
            EXPECT_EQ(reply->port, c.port);
            EXPECT_EQ(reply->address[0], c.first);
        }
    }
}

TEST(PassiveReply, EpsvPort)
{
    struct Case {
        const char* line;
        int port; // 0: refused
    };
    const Case cases[] = {
        { "229 Entering Extended Passive Mode (|||6446|)", 6446 },
        { "229 Entering Extended Passive Mode (!!!65535!)", 65535 },
        { "229 ok (|||1|) trailing", 1 },
        { "229 Entering Extended Passive Mode (|||65536|)", 0 },
        { "229 Entering Extended Passive Mode (|||0|)", 0 },
        { "229 Entering Extended Passive Mode (|||6446)", 0 },
        { "229 Entering Extended Passive Mode (||6446|)", 0 },
        { "229 Entering Extended Passive Mode (|1|::1|6446|)", 0 },
        { "229 Entering Extended Passive Mode (|||-5|)", 0 },
        { "229 Entering Extended Passive Mode (|||", 0 },
        { "229 (", 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::optional<PassiveReply> reply = PassiveReply::parseEpsv(c.line);
        ASSERT_EQ(reply.has_value(), c.port != 0);
        if (reply) {
            EXPECT_EQ(reply->port, c.port);
        }
    }
}
