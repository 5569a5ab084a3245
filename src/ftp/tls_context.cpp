#include "ftp/tls_context.h"

#include <openssl/ssl.h>

#include <algorithm>
#include <ctime>
#include <utility>

namespace {

// Servers issue two tickets per handshake; more than this are never waiting to be used.
constexpr size_t kMaxSessions = 16;
// A ticket this close to its end could expire on the way: the server would answer with a
// full handshake, which a server insisting on reuse refuses.
constexpr time_t kExpiryMargin = 30;

bool canResume(SSL_SESSION* session)
{
    if (!SSL_SESSION_is_resumable(session))
        return false;
    long timeout = SSL_SESSION_get_timeout(session);
    return timeout <= 0 || SSL_SESSION_get_time(session) + timeout > std::time(nullptr) + kExpiryMargin;
}

} // namespace

TlsSession::TlsSession(SSL_SESSION* session, std::string server, TlsResumption resumption)
    : session_(session)
    , server_(std::move(server))
    , resumption_(resumption)
{
}

void TlsSession::Release::operator()(SSL_SESSION* session) const
{
    SSL_SESSION_free(session);
}

TlsContext::TlsContext(SSL_CTX* context)
    : context_(context)
{
}

TlsContext::~TlsContext()
{
    clearSessions();
    SSL_CTX_free(context_);
}

std::shared_ptr<TlsContext> TlsContext::create()
{
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context)
        return nullptr;
    std::shared_ptr<TlsContext> result(new TlsContext(context));
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(context);
    // Verification is judged after the handshake, so that an untrusted certificate can be
    // shown with its fingerprint instead of ending in a bare handshake error.
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(context, &TlsContext::onNewSession);
    SSL_CTX_set_app_data(context, result.get());
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return result;
}

int TlsContext::onNewSession(SSL* ssl, SSL_SESSION* session)
{
    auto* self = static_cast<TlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (!self)
        return 0;
    if (self->sessions_.size() >= kMaxSessions) {
        SSL_SESSION_free(self->sessions_.front());
        self->sessions_.pop_front();
    }
    self->sessions_.push_back(session);
    return 1; // the reference is ours now
}

void TlsContext::dropUnusable()
{
    while (!sessions_.empty() && !canResume(sessions_.back())) {
        SSL_SESSION_free(sessions_.back());
        sessions_.pop_back();
    }
}

bool TlsContext::hasSession()
{
    dropUnusable();
    return !sessions_.empty();
}

size_t TlsContext::sessionCount()
{
    dropUnusable();
    return static_cast<size_t>(std::count_if(sessions_.begin(), sessions_.end(), canResume));
}

SSL_SESSION* TlsContext::takeSession()
{
    dropUnusable();
    if (sessions_.empty())
        return nullptr;
    SSL_SESSION* session = sessions_.back();
    sessions_.pop_back();
    return session;
}

void TlsContext::clearSessions()
{
    for (SSL_SESSION* session : sessions_)
        SSL_SESSION_free(session);
    sessions_.clear();
}
