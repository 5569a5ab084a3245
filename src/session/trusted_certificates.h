#pragma once

#include <string>
#include <string_view>

// Certificates the user trusted by their SHA-256 fingerprint although they do not verify
// (self-signed ones, as on many small hosts): "trusted-certs.txt" in the data directory,
// one "HOST:PORT FINGERPRINT" a line, mode 0600. The file is read at each question, so a
// trust given on the command line counts for the next connection.
class TrustedCertificates {
public:
    // The file in the data directory.
    [[nodiscard]] static std::string defaultPath();

    explicit TrustedCertificates(std::string path)
        : path_(std::move(path))
    {
    }

    // Fingerprints compare without regard to case or colons.
    [[nodiscard]] bool isTrusted(std::string_view hostAndPort, std::string_view fingerprint) const;
    // Replaces what the file said for `hostAndPort`. False when the fingerprint is not 32
    // hexadecimal bytes, the server name is unusable, or the file cannot be written.
    [[nodiscard]] bool trust(std::string_view hostAndPort, std::string_view fingerprint) const;

    // "AB:CD:..." in upper case, or empty when `text` is no SHA-256 fingerprint.
    [[nodiscard]] static std::string normalFingerprint(std::string_view text);

private:
    std::string path_;
};
