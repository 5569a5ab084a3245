#include "session/trusted_certificates.h"

#include "platform/file_utils.h"

#include <fstream>
#include <vector>

namespace {

// A trust file far larger than any real one is damage; it trusts nothing.
constexpr size_t kMaxLines = 100000;

std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (lines.size() < kMaxLines && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

} // namespace

std::string TrustedCertificates::defaultPath()
{
    return getDataDirectory() + "trusted-certs.txt";
}

std::string TrustedCertificates::normalFingerprint(std::string_view text)
{
    std::string hex;
    for (char c : text) {
        if (c == ':')
            continue;
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return {};
        hex += c;
    }
    if (hex.size() != 64)
        return {};
    std::string normal;
    for (size_t i = 0; i < hex.size(); i += 2) {
        if (i > 0)
            normal += ':';
        normal += hex.substr(i, 2);
    }
    return normal;
}

bool TrustedCertificates::isTrusted(std::string_view hostAndPort, std::string_view fingerprint) const
{
    std::string wanted = normalFingerprint(fingerprint);
    if (wanted.empty() || hostAndPort.empty())
        return false;
    for (const std::string& line : readLines(path_)) {
        size_t blank = line.find(' ');
        if (blank == std::string::npos || std::string_view(line).substr(0, blank) != hostAndPort)
            continue;
        if (normalFingerprint(std::string_view(line).substr(blank + 1)) == wanted)
            return true;
    }
    return false;
}

bool TrustedCertificates::trust(std::string_view hostAndPort, std::string_view fingerprint) const
{
    std::string normal = normalFingerprint(fingerprint);
    if (normal.empty() || hostAndPort.empty() || path_.empty()
        || hostAndPort.find_first_of(std::string_view(" \t\r\n\0", 5)) != std::string_view::npos)
        return false;
    std::string content;
    for (const std::string& line : readLines(path_)) {
        size_t blank = line.find(' ');
        // A server has one certificate at a time: the old fingerprint goes.
        if (line.empty() || (blank != std::string::npos && std::string_view(line).substr(0, blank) == hostAndPort))
            continue;
        content += line + "\n";
    }
    content += std::string(hostAndPort) + " " + normal + "\n";
    return writeFileAtomically(path_, content, 0600);
}
