#include "shell/connection_check.h"

#include "connect/session_factory.h"
#include "session/ftp_event_sink.h"
#include "session/server_address.h"
#include "session/trusted_certificates.h"

#include <optional>

namespace {

// Collects what the client reports while it connects, for the message after the check.
class TranscriptSink final : public FtpEventSink {
public:
    void onLine(const std::string& text) override { transcript += "\r\n" + text; }
    void onStatusLine(const std::string& text) override { transcript += "\r\n" + text; }

    std::string transcript;
};

// Why a failed connect failed, when it was for a fingerprint nobody trusted yet.
ConnectionOutcome refusal(const RemoteSession& client, const std::string& server, const TrustStores& stores)
{
    if (server.empty())
        return ConnectionOutcome::ConnectFailed;
    if (client.hostKeyUnknown())
        return ConnectionOutcome::UnknownHostKey;
    const PeerCertificate& certificate = client.serverCertificate();
    // A certificate trusted already is not what stopped the login; asking again would not help.
    if (!certificate.fingerprint.empty() && !certificate.verified
        && !TrustedCertificates(stores.certificates).isTrusted(server, certificate.fingerprint))
        return ConnectionOutcome::UntrustedCertificate;
    return ConnectionOutcome::ConnectFailed;
}

} // namespace

ConnectionCheckResult checkConnection(
    const MachineOptions& options, const TrustStores& stores, const ConnectionCheckRequest& request)
{
    SessionFactory factory(options);
    const std::unique_ptr<RemoteSession> session = factory.make(request.url);
    RemoteSession& client = *session;
    client.setTrustedCertificatesPath(stores.certificates);
    client.setKeyFile(request.keyFile);
    TranscriptSink sink;
    client.setEventSink(&sink);
    ConnectionCheckResult result;
    if (const std::optional<ServerAddress> address = ServerAddress::parse(request.url))
        result.server = address->hostAndPort();
    if (client.connect(request.url, request.user, request.password).ok()) {
        const std::string folder = request.startDirectory.empty() ? std::string() : "/" + request.startDirectory;
        result.outcome = client.listFolder(folder).result.ok() ? ConnectionOutcome::Passed
                                                               : ConnectionOutcome::DataConnectionFailed;
    } else {
        result.outcome = refusal(client, result.server, stores);
        result.hostKeyFingerprint = client.hostKeyFingerprint();
        result.certificate = client.serverCertificate();
    }
    client.setEventSink(nullptr);
    result.transcript = std::move(sink.transcript);
    return result;
}

bool offersTrust(const ConnectionCheckResult& result)
{
    return result.outcome == ConnectionOutcome::UnknownHostKey
        || result.outcome == ConnectionOutcome::UntrustedCertificate;
}

bool trustOffered(const ConnectionCheckResult& result, const TrustStores& stores)
{
    switch (result.outcome) {
    case ConnectionOutcome::UnknownHostKey:
        return TrustedCertificates(stores.hostKeys).trust(result.server, result.hostKeyFingerprint);
    case ConnectionOutcome::UntrustedCertificate:
        return TrustedCertificates(stores.certificates).trust(result.server, result.certificate.fingerprint);
    case ConnectionOutcome::Passed:
    case ConnectionOutcome::DataConnectionFailed:
    case ConnectionOutcome::ConnectFailed: break;
    }
    return false;
}
