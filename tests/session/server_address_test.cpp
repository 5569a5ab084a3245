#include "session/server_address.h"

#include <gtest/gtest.h>

namespace {

TEST(ServerAddress, ReadsHostAndOptionalPort)
{
    struct Case {
        const char* url;
        bool valid;
        const char* host;
        int port;
    };
    const Case cases[] = {
        { "ftp.example.org", true, "ftp.example.org", 21 },
        { "ftp.example.org:2121", true, "ftp.example.org", 2121 },
        { " 127.0.0.1:65535 ", true, "127.0.0.1", 65535 },
        { "[::1]:2100", true, "::1", 2100 },
        { "[fe80::1]", true, "fe80::1", 21 },
        { "::1", true, "::1", 21 },
        { "host:0", false, "", 0 },
        { "host:65536", false, "", 0 },
        { "host:21x", false, "", 0 },
        { "host:", false, "", 0 },
        { "[::1", false, "", 0 },
        { "[::1]x", false, "", 0 },
        { "[]:21", false, "", 0 },
        { ":21", false, "", 0 },
        { "", false, "", 0 },
    };
    for (const Case& c : cases) {
        std::optional<ServerAddress> address = ServerAddress::parse(c.url);
        ASSERT_EQ(address.has_value(), c.valid) << c.url;
        if (address) {
            EXPECT_EQ(address->host, c.host) << c.url;
            EXPECT_EQ(address->port, c.port) << c.url;
        }
    }
}

TEST(ServerAddress, SchemeChoosesSecurityAndDefaultPort)
{
    using Security = ServerAddress::Security;
    using Transport = ServerAddress::Transport;
    struct Case {
        const char* url;
        Security security;
        const char* hostAndPort;
        Transport transport = Transport::Ftp;
    };
    const Case cases[] = {
        { "ftp://example.org", Security::Plain, "example.org:21" },
        { "FTPES://example.org/", Security::ExplicitTls, "example.org:21" },
        { "ftps://example.org", Security::ImplicitTls, "example.org:990" },
        { "ftps://[::1]:2990", Security::ImplicitTls, "[::1]:2990" },
        { "ftpes://10.0.0.1:2121", Security::ExplicitTls, "10.0.0.1:2121" },
        { "sftp://example.org", Security::Plain, "example.org:22", Transport::Sftp },
        { "SFTP://[::1]:2222/", Security::Plain, "[::1]:2222", Transport::Sftp },
    };
    for (const Case& c : cases) {
        std::optional<ServerAddress> address = ServerAddress::parse(c.url);
        ASSERT_TRUE(address.has_value()) << c.url;
        EXPECT_EQ(address->security, c.security) << c.url;
        EXPECT_EQ(address->hostAndPort(), c.hostAndPort) << c.url;
        EXPECT_EQ(address->transport, c.transport) << c.url;
    }
    for (const char* bad : { "ftps://", "ftpes://:21", "ftp:///", "sftp://" })
        EXPECT_FALSE(ServerAddress::parse(bad).has_value()) << bad;
}

} // namespace
