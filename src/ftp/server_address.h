#pragma once

#include <optional>
#include <string>
#include <string_view>

// Where a site's `url` points: "host", "host:port", "[v6-address]" or "[v6-address]:port".
// A bare IPv6 address (two or more colons, no brackets) is a host without a port.
struct ServerAddress {
    static constexpr int kDefaultPort = 21;

    std::string host;
    int port = kDefaultPort;

    // nullopt for an empty host, an unclosed bracket or a port outside 1..65535.
    [[nodiscard]] static std::optional<ServerAddress> parse(std::string_view url);
};
