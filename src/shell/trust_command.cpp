#include "shell/trust_command.h"

#include "session/server_address.h"
#include "session/trusted_certificates.h"
#include "sftp/sftp_session.h"
#include "shell/command_line.h"

#include <optional>

TrustStores TrustStores::inFolder(const std::string& folder)
{
    return { folder + "trusted-certs.txt", folder + "trusted-host-keys.txt" };
}

TrustStores TrustStores::defaults()
{
    return { TrustedCertificates::defaultPath(), SftpSession::defaultTrustedHostKeysPath() };
}

TrustResult trustServer(const std::string& server, const std::string& fingerprint, const TrustStores& stores)
{
    const std::optional<ServerAddress> address = ServerAddress::parse(server);
    TrustResult result;
    if (address && address->transport == ServerAddress::Transport::Sftp) {
        result.kind = TrustKind::HostKey;
        result.server = address->hostAndPort();
        result.store = stores.hostKeys;
    } else {
        result.server = server;
        result.store = stores.certificates;
    }
    result.fingerprint = TrustedCertificates::normalFingerprint(fingerprint);
    result.stored = TrustedCertificates(result.store).trust(result.server, fingerprint);
    return result;
}

std::string trustReport(const TrustResult& result, const std::string& asked)
{
    if (!result.stored) {
        return "tarnwick: cannot trust " + asked + ": a SHA-256 fingerprint (64 hexadecimal digits) is needed and "
            + result.store + " must be writable\n";
    }
    return "trusted " + result.fingerprint + " for " + (result.kind == TrustKind::HostKey ? "the SSH host key of " : "")
        + result.server + "\n";
}

int runTrustCommand(const std::string& server, const std::string& fingerprint, const TrustStores& stores,
    std::FILE* out, std::FILE* err)
{
    const TrustResult result = trustServer(server, fingerprint, stores);
    std::fputs(trustReport(result, server).c_str(), result.stored ? out : err);
    return result.stored ? kExitDone : kExitFailed;
}
