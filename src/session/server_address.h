#pragma once

#include <optional>
#include <string>
#include <string_view>

// Where a site's `url` points: "host", "host:port", "[v6-address]" or "[v6-address]:port".
// A bare IPv6 address (two or more colons, no brackets) is a host without a port.
// A leading "ftp://", "ftpes://" (TLS after AUTH TLS) or "ftps://" (TLS from the first byte,
// port 990 unless given) chooses the security; "sftp://" (port 22 unless given) chooses SSH
// instead of FTP. A trailing "/" is ignored.
struct ServerAddress {
    static constexpr int kDefaultPort = 21;
    static constexpr int kImplicitTlsPort = 990;
    static constexpr int kSftpPort = 22;

    enum class Security { Plain, ExplicitTls, ImplicitTls };
    enum class Transport { Ftp, Sftp };

    std::string host;
    int port = kDefaultPort;
    Security security = Security::Plain;
    Transport transport = Transport::Ftp;

    // "host:port", with brackets around an IPv6 address: how the trust store names a server.
    [[nodiscard]] std::string hostAndPort() const;

    // nullopt for an empty host, an unclosed bracket or a port outside 1..65535.
    [[nodiscard]] static std::optional<ServerAddress> parse(std::string_view url);
};
