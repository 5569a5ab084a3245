#pragma once

#include <string>

// What the server's certificate showed during the handshake.
struct PeerCertificate {
    bool verified = false; // chains to the system's CA store and names the host
    std::string problem; // why not, when not verified
    std::string fingerprint; // SHA-256, "AB:CD:..."
    std::string subject;
    std::string issuer;
    std::string notBefore;
    std::string notAfter;
};
