#pragma once

#include <cstdio>
#include <string>

// The two files of trusted fingerprints in one data folder. They are kept apart so an SSH
// host key can never pass for the TLS certificate of the same server, or the other way.
struct TrustStores {
    std::string certificates;
    std::string hostKeys;

    // `folder` ends with '/', as the data directory is handed around.
    [[nodiscard]] static TrustStores inFolder(const std::string& folder);
    // The stores of the user's data directory.
    [[nodiscard]] static TrustStores defaults();
};

enum class TrustKind {
    Certificate,
    HostKey,
};

// What trusting one server's fingerprint did.
struct TrustResult {
    bool stored = false; // false: no SHA-256 fingerprint, or the store is not writable
    TrustKind kind = TrustKind::Certificate;
    std::string server; // as the store keys it
    std::string store; // the file written (or that could not be written)
    std::string fingerprint; // in the stored spelling
};

// "sftp://HOST[:PORT]" trusts an SSH host key under "host:port" (a bare host meaning the
// SSH port), since sessions look keys up that way; anything else is taken as it is and
// trusts a TLS certificate.
[[nodiscard]] TrustResult trustServer(
    const std::string& server, const std::string& fingerprint, const TrustStores& stores);

// The line the command prints for `result`: to standard output when it was stored, to
// standard error otherwise. `asked` is the server as the user typed it.
[[nodiscard]] std::string trustReport(const TrustResult& result, const std::string& asked);

// "--trust-cert SERVER FINGERPRINT": stores the fingerprint, prints the outcome and
// answers the exit code.
[[nodiscard]] int runTrustCommand(const std::string& server, const std::string& fingerprint, const TrustStores& stores,
    std::FILE* out, std::FILE* err);
