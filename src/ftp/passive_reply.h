#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The data port a server names in its answer to PASV (227) or EPSV (229). Only the port is
// taken: the client always connects to the address it already talks to, so a server cannot
// point it at another host.
struct PassiveReply {
    int port = 0;
    // The four address numbers of a 227; a 229 names none (all zero).
    uint8_t address[4] = {};

    // "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)", parentheses optional. nullopt when the
    // six numbers are missing, a number exceeds 255 or the port is 0.
    [[nodiscard]] static std::optional<PassiveReply> parsePasv(std::string_view line);
    // "229 Entering Extended Passive Mode (|||port|)": any delimiter from 33 to 126, the same
    // four times. nullopt for a port outside 1..65535 or a malformed bracket.
    [[nodiscard]] static std::optional<PassiveReply> parseEpsv(std::string_view line);
};
