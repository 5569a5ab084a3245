#include "session/server_address.h"

namespace {

std::optional<int> parsePort(std::string_view text)
{
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

} // namespace

std::optional<ServerAddress> ServerAddress::parse(std::string_view url)
{
    while (!url.empty() && (url.front() == ' ' || url.front() == '\t'))
        url.remove_prefix(1);
    while (!url.empty() && (url.back() == ' ' || url.back() == '\t'))
        url.remove_suffix(1);

    ServerAddress address;
    auto strip = [&](std::string_view scheme) {
        if (url.size() < scheme.size())
            return false;
        for (size_t i = 0; i < scheme.size(); ++i) {
            char c = url[i];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (c != scheme[i])
                return false;
        }
        url.remove_prefix(scheme.size());
        return true;
    };
    if (strip("ftpes://")) {
        address.security = Security::ExplicitTls;
    } else if (strip("ftps://")) {
        address.security = Security::ImplicitTls;
        address.port = kImplicitTlsPort;
    } else if (strip("sftp://")) {
        address.transport = Transport::Sftp;
        address.port = kSftpPort;
    } else {
        (void)strip("ftp://");
    }
    if (!url.empty() && url.back() == '/')
        url.remove_suffix(1);
    if (!url.empty() && url.front() == '[') {
        size_t close = url.find(']');
        if (close == std::string_view::npos || close == 1)
            return std::nullopt;
        address.host = std::string(url.substr(1, close - 1));
        std::string_view rest = url.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return std::nullopt;
            std::optional<int> port = parsePort(rest.substr(1));
            if (!port)
                return std::nullopt;
            address.port = *port;
        }
        return address;
    }
    size_t colon = url.find(':');
    if (colon != std::string_view::npos && url.find(':', colon + 1) == std::string_view::npos) {
        std::optional<int> port = parsePort(url.substr(colon + 1));
        if (!port)
            return std::nullopt;
        address.port = *port;
        url = url.substr(0, colon);
    }
    if (url.empty())
        return std::nullopt;
    address.host = std::string(url);
    return address;
}

std::string ServerAddress::hostAndPort() const
{
    bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}
