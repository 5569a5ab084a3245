#pragma once

#include "ftp/tls_stream.h"
#include "shell/trust_command.h"

#include <string>

struct MachineOptions;

// What the project editor's "test" button tries: the login and one listing of the start
// folder, since a wrong passive/active choice or a firewall only shows on a data connection.
struct ConnectionCheckRequest {
    std::string url;
    std::string user;
    std::string password;
    std::string startDirectory; // below the login folder, without a leading '/'
    std::string keyFile; // SFTP: tried first when the password is empty
};

enum class ConnectionOutcome {
    Passed,
    DataConnectionFailed, // logged in, but the start folder could not be listed
    ConnectFailed,
    UnknownHostKey, // failed only because the SSH host key is not trusted yet
    UntrustedCertificate, // the TLS certificate neither verifies nor is trusted
};

struct ConnectionCheckResult {
    ConnectionOutcome outcome = ConnectionOutcome::ConnectFailed;
    std::string transcript; // what the client reported, each line led by "\r\n"
    std::string server; // "host:port" as the trust stores key it; empty when the URL is unreadable
    std::string hostKeyFingerprint; // UnknownHostKey
    PeerCertificate certificate; // UntrustedCertificate
};

// Connects with a fresh client, logs in and lists. Fingerprints are looked up in `stores`;
// the client reads the host keys from the folder of the certificates file.
[[nodiscard]] ConnectionCheckResult checkConnection(
    const MachineOptions& options, const TrustStores& stores, const ConnectionCheckRequest& request);

// Whether the check failed for a key or certificate the user could choose to trust.
[[nodiscard]] bool offersTrust(const ConnectionCheckResult& result);

// Stores what the failed check offered; false when it offered nothing or the store refused.
[[nodiscard]] bool trustOffered(const ConnectionCheckResult& result, const TrustStores& stores);
