#include "sftp/sftp_session.h"

#include "platform/file_descriptor.h"
#include "platform/file_utils.h"
#include "platform/stop_signal.h"
#include "session/login_path.h"
#include "session/server_address.h"
#include "session/trusted_certificates.h"
#include "session/upload_names.h"
#include "sftp/sftp_batch.h"

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// OpenSSH's server takes requests of up to 256 KiB and says so in its own limits; one write
// of this size per round trip keeps a distant server busy without several outstanding writes,
// which libssh 0.10 cannot send.
constexpr size_t kOpenSshChunk = 255 * 1024;
// What every SFTP server must take.
constexpr size_t kPortableChunk = 32 * 1024;
// A folder listing beyond this is damage or hostility; it is cut there.
constexpr size_t kMaxEntries = 1000000;

const char* statusText(int status)
{
    switch (status) {
    case SSH_FX_EOF: return "end of file";
    case SSH_FX_NO_SUCH_FILE: return "no such file or folder";
    case SSH_FX_PERMISSION_DENIED: return "permission denied";
    case SSH_FX_FAILURE: return "the server could not carry it out";
    case SSH_FX_BAD_MESSAGE: return "the server did not understand the request";
    case SSH_FX_OP_UNSUPPORTED: return "the server does not support this";
    case SSH_FX_NO_SUCH_PATH: return "no such path";
    case SSH_FX_FILE_ALREADY_EXISTS: return "it exists already";
    case SSH_FX_WRITE_PROTECT: return "the server's storage is write-protected";
    default: return "refused";
    }
}

// How the trust store names a server.
std::string trustName(const std::string& host, int port)
{
    ServerAddress address;
    address.host = host;
    address.port = port;
    return address.hostAndPort();
}

// How known_hosts and ssh-keygen -R name a server.
std::string knownHostsEntry(const std::string& host, int port)
{
    if (port == SftpSession::kDefaultPort)
        return host;
    return "[" + host + "]:" + std::to_string(port);
}

struct SftpAttributes {
    sftp_attributes value;
    explicit SftpAttributes(sftp_attributes attributes)
        : value(attributes)
    {
    }
    ~SftpAttributes() { sftp_attributes_free(value); }
    SftpAttributes(const SftpAttributes&) = delete;
    SftpAttributes& operator=(const SftpAttributes&) = delete;
    explicit operator bool() const { return value != nullptr; }
    sftp_attributes operator->() const { return value; }
};

bool isFolderAttributes(sftp_attributes attributes)
{
    return attributes->type == SSH_FILEXFER_TYPE_DIRECTORY
        || ((attributes->flags & SSH_FILEXFER_ATTR_PERMISSIONS) != 0 && S_ISDIR(attributes->permissions));
}

SftpBatch::Times timesOf(const struct stat& status)
{
    return { static_cast<int64_t>(status.st_atime), static_cast<int64_t>(status.st_mtime) };
}

} // namespace

// Arms the watchdog for the span of one or more library calls; nested spans share the
// outermost one.
class SftpSession::Call {
public:
    explicit Call(SftpSession& session)
        : session_(session)
    {
        if (session_.callDepth_++ == 0)
            session_.watchdog_.arm(session_.ssh_ != nullptr ? ssh_get_fd(session_.ssh_) : -1, session_.stopSignal());
    }
    ~Call()
    {
        if (--session_.callDepth_ == 0)
            session_.watchdog_.disarm();
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

private:
    SftpSession& session_;
};

SftpSession::SftpSession(std::chrono::milliseconds budget)
    : budget_(budget)
    , watchdog_(budget)
{
}

SftpSession::~SftpSession()
{
    dropAhead();
    close();
}

std::string SftpSession::defaultTrustedHostKeysPath()
{
    return getDataDirectory() + "trusted-host-keys.txt";
}

void SftpSession::setLink(Link link)
{
    link_ = link;
}

void SftpSession::close()
{
    ahead_.reset();
    expected_.reset();
    if (ssh_ == nullptr)
        return;
    // A broken connection may have a peer that reads nothing: the polite goodbye would wait
    // for it.
    if (link_ == Link::Broken || stopped()) {
        int fd = ssh_get_fd(ssh_);
        if (fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
    }
    if (sftp_ != nullptr)
        sftp_free(std::exchange(sftp_, nullptr));
    ssh_disconnect(ssh_);
    ssh_free(std::exchange(ssh_, nullptr));
}

void SftpSession::transcript(const char* verb, const std::string& argument, const std::string& second)
{
    if (second.empty())
        sink_->message("%s %s\r\n", verb, argument.c_str());
    else
        sink_->message("%s %s %s\r\n", verb, argument.c_str(), second.c_str());
}

ClientResult SftpSession::giveUp(const std::string& text)
{
    sink_->onLine(text);
    close();
    setLink(Link::Disconnected);
    return remember(ClientResult::failed(Failure::GiveUpSite));
}

ClientResult SftpSession::usable()
{
    if (stopped()) {
        if (link_ == Link::Ready)
            setLink(Link::Broken);
        close();
        return ClientResult::failed(Failure::GiveUpSite);
    }
    if (link_ != Link::Ready)
        return ClientResult::failed(Failure::Reconnect);
    return ClientResult::success();
}

ClientResult SftpSession::serverFailure(const char* what, const std::string& path, int answered)
{
    const SftpWatchdog::Verdict verdict = watchdog_.verdict();
    if (verdict == SftpWatchdog::Verdict::Stopped || stopped()) {
        setLink(Link::Broken);
        return remember(ClientResult::failed(Failure::GiveUpSite));
    }
    if (verdict == SftpWatchdog::Verdict::TimedOut) {
        timedOut_ = true;
        setLink(Link::Broken);
        sink_->message("Error sftp.%s %s: no progress within %lld ms, the connection is given up\n", what, path.c_str(),
            static_cast<long long>(budget_.count()));
        return remember(ClientResult::failed(Failure::Reconnect));
    }
    if (outOfStep_) {
        setLink(Link::Broken);
        sink_->message("Error sftp.%s %s: the server's answer fits no request sent, the connection is given up\n", what,
            path.c_str());
        return remember(ClientResult::failed(Failure::Reconnect));
    }
    const bool lost = link_ == Link::Broken || ssh_ == nullptr || !ssh_is_connected(ssh_)
        || (sftp_ != nullptr && (ssh_channel_is_closed(sftp_->channel) || ssh_channel_is_eof(sftp_->channel)));
    if (lost) {
        setLink(Link::Broken);
        const char* why = ssh_ != nullptr ? ssh_get_error(ssh_) : "no session";
        sink_->message("Error sftp.%s %s: connection lost (%s)\n", what, path.c_str(),
            *why != '\0' ? why : "the server closed the channel");
        return remember(ClientResult::failed(Failure::Reconnect));
    }
    const int status = answered != kAskLibrary ? answered : sftp_ != nullptr ? sftp_get_error(sftp_) : SSH_FX_FAILURE;
    sink_->message("Error sftp.%s %s: %s\n", what, path.c_str(), statusText(status));
    return remember(ClientResult::failed(Failure::RetryItem, 0, 0, statusText(status)));
}

ClientResult SftpSession::connect(const std::string& url, const std::string& user, const std::string& password)
{
    const std::optional<ServerAddress> address = ServerAddress::parse(url);
    if (!address || address->transport != ServerAddress::Transport::Sftp) {
        sink_->message("Error %s %d\n", "connect.sftp not an sftp:// site", EINVAL);
        return remember(ClientResult::failed(Failure::GiveUpSite, 0, EINVAL));
    }
    // Host keys are trusted beside the certificates, wherever those are kept.
    if (trustedHostKeysPath_.empty() && !trustedCertificatesPath().empty()) {
        const std::string& certificates = trustedCertificatesPath();
        const size_t slash = certificates.rfind('/');
        setTrustedHostKeysPath(
            (slash == std::string::npos ? std::string() : certificates.substr(0, slash + 1)) + "trusted-host-keys.txt");
    }
    return login(address->host, address->port, user, password, keyFile());
}

ClientResult SftpSession::login(
    const std::string& host, int port, const std::string& user, const std::string& password, const std::string& keyFile)
{
    close();
    setLink(Link::Disconnected);
    watchdog_.reset();
    outOfStep_ = false;
    hostKeyFingerprint_.clear();
    currentDirectory_ = "/";
    if (stopped())
        return remember(ClientResult::failed(Failure::GiveUpSite));
    if (port <= 0)
        port = kDefaultPort;
    const std::string server = trustName(host, port);
    if (host.empty() || host.find_first_of(std::string_view(" \r\n\0", 4)) != std::string::npos || port > 65535)
        return giveUp(FtpEventSink::format("Error sftp.connect %s: not a server name\n", server.c_str()));

    ssh_ = ssh_new();
    if (ssh_ == nullptr)
        return remember(ClientResult::failed(Failure::Reconnect, 0, ENOMEM));
    long seconds = static_cast<long>(budget_.count() / 1000);
    long microseconds = static_cast<long>(budget_.count() % 1000) * 1000;
    int verbosity = SSH_LOG_NOLOG;
    int sshPort = port;
    // The site says where to go; ~/.ssh/config must not send it elsewhere.
    int processConfig = 0;
    // libssh answers a large read with small window adjustments; held back by Nagle's
    // algorithm behind the peer's delayed acknowledgement, each costs tens of milliseconds.
    int noDelay = 1;
    bool set = ssh_options_set(ssh_, SSH_OPTIONS_HOST, host.c_str()) == SSH_OK
        && ssh_options_set(ssh_, SSH_OPTIONS_PORT, &sshPort) == SSH_OK
        && ssh_options_set(ssh_, SSH_OPTIONS_TIMEOUT, &seconds) == SSH_OK
        && ssh_options_set(ssh_, SSH_OPTIONS_TIMEOUT_USEC, &microseconds) == SSH_OK
        && ssh_options_set(ssh_, SSH_OPTIONS_LOG_VERBOSITY, &verbosity) == SSH_OK
        && ssh_options_set(ssh_, SSH_OPTIONS_PROCESS_CONFIG, &processConfig) == SSH_OK
        && ssh_options_set(ssh_, SSH_OPTIONS_NODELAY, &noDelay) == SSH_OK
        && (user.empty() || ssh_options_set(ssh_, SSH_OPTIONS_USER, user.c_str()) == SSH_OK)
        && (knownHostsPath_.empty()
            || ssh_options_set(ssh_, SSH_OPTIONS_KNOWNHOSTS, knownHostsPath_.c_str()) == SSH_OK);
    if (!set)
        return giveUp(
            FtpEventSink::format("Error sftp.connect %s: the connection settings were refused\n", server.c_str()));

    sink_->statusMessage("Connecting to sftp://%s", server.c_str());
    const auto started = std::chrono::steady_clock::now();
    // The socket exists only once this returns, so the watchdog cannot watch it: libssh's
    // own timeout bounds it.
    if (ssh_connect(ssh_) != SSH_OK) {
        if (!stopped())
            sink_->onProblem("cannot connect to sftp://" + server + ": " + ssh_get_error(ssh_));
        sink_->message("Error sftp.connect %s: %s\n", server.c_str(), ssh_get_error(ssh_));
        if (std::chrono::steady_clock::now() - started >= budget_)
            timedOut_ = true;
        close();
        return remember(ClientResult::failed(stopped() ? Failure::GiveUpSite : Failure::Reconnect));
    }
    Call call(*this);
    if (ClientResult checked = checkHostKey(host, port); !checked)
        return checked;
    if (ClientResult authenticated = authenticate(user, password, keyFile); !authenticated)
        return authenticated;
    if (ClientResult opened = openSftp(); !opened)
        return opened;
    setLink(Link::Ready);
    sink_->message("Logged in to sftp://%s, site root %s\n", server.c_str(), loginFolder_.c_str());
    return remember(ClientResult::success());
}

ClientResult SftpSession::checkHostKey(const std::string& host, int port)
{
    const std::string server = trustName(host, port);
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(ssh_, &key) != SSH_OK) {
        sink_->message("Error sftp.hostkey %s: %s\n", server.c_str(), ssh_get_error(ssh_));
        close();
        return remember(ClientResult::failed(Failure::Reconnect));
    }
    unsigned char* hash = nullptr;
    size_t length = 0;
    int hashed = ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length);
    ssh_key_free(key);
    if (hashed != SSH_OK || hash == nullptr)
        return giveUp(FtpEventSink::format(
            "Error sftp.hostkey %s: cannot compute the fingerprint of the host key\n", server.c_str()));
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", hash[i]);
        hex += pair;
    }
    ssh_clean_pubkey_hash(&hash);
    hostKeyFingerprint_ = TrustedCertificates::normalFingerprint(hex);
    hostKeyUnknown_ = false;

    switch (ssh_session_is_known_server(ssh_)) {
    case SSH_KNOWN_HOSTS_OK: return ClientResult::success();
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER: {
        // Never settled by Tarnwick's own store: that is exactly what an attacker would want.
        const std::string known = knownHostsPath_.empty() ? std::string("~/.ssh/known_hosts") : knownHostsPath_;
        sink_->onProblem("the host key of " + server + " has CHANGED (now " + hostKeyFingerprint_
            + "), which may be an attack: not connecting; if the new key is genuine, remove the old one with: "
              "ssh-keygen -R '"
            + knownHostsEntry(host, port) + "'");
        sink_->message("Error sftp.hostkey WARNING: the server's host key has CHANGED for %s. It now shows the "
                       "SHA-256 fingerprint %s, which is not the key %s holds for it. This is a possible attack "
                       "(someone between you and the server) or the server was set up anew. Tarnwick does not "
                       "connect. Ask the server's administrator; if the new key is genuine, remove the old one "
                       "with: ssh-keygen -R '%s'\n",
            server.c_str(), hostKeyFingerprint_.c_str(), known.c_str(), knownHostsEntry(host, port).c_str());
        close();
        setLink(Link::Disconnected);
        return remember(ClientResult::failed(Failure::GiveUpSite));
    }
    default: break;
    }
    const TrustedCertificates store(trustedHostKeysPath_.empty() ? defaultTrustedHostKeysPath() : trustedHostKeysPath_);
    if (store.isTrusted(server, hostKeyFingerprint_))
        return ClientResult::success();
    sink_->onProblem("the host key of " + server + " is not known; if it is the server's own, trust it with: "
        + "tarnwick --trust-cert sftp://" + server + " " + hostKeyFingerprint_);
    sink_->message("Error sftp.hostkey %s: the server's host key is not known. Fingerprint (SHA-256) %s. If this is "
                   "the server's own key, trust it with: tarnwick --trust-cert sftp://%s %s\n",
        server.c_str(), hostKeyFingerprint_.c_str(), server.c_str(), hostKeyFingerprint_.c_str());
    hostKeyUnknown_ = true;
    close();
    setLink(Link::Disconnected);
    return remember(ClientResult::failed(Failure::GiveUpSite));
}

ClientResult SftpSession::authenticate(const std::string& user, const std::string& password, const std::string& keyFile)
{
    const auto lost = [&] {
        if (!stopped())
            sink_->onProblem(std::string("connection lost while logging in: ") + ssh_get_error(ssh_));
        sink_->message("Error sftp.login %s\n", ssh_get_error(ssh_));
        close();
        setLink(Link::Disconnected);
        return remember(ClientResult::failed(stopped() ? Failure::GiveUpSite : Failure::Reconnect));
    };
    const std::string who = user.empty() ? std::string("the local user name") : user;
    if (!password.empty()) {
        sink_->message("Authenticating as %s with a password\n", who.c_str());
        int rc = ssh_userauth_password(ssh_, nullptr, password.c_str());
        if (rc == SSH_AUTH_SUCCESS)
            return ClientResult::success();
        if (rc == SSH_AUTH_ERROR)
            return lost();
        sink_->onProblem("server refused the login for user " + who);
        return giveUp(FtpEventSink::format("Error sftp.login the server refused the password for %s\n", who.c_str()));
    }
    if (!keyFile.empty()) {
        sink_->message("Authenticating as %s with the key %s\n", who.c_str(), keyFile.c_str());
        ssh_key key = nullptr;
        if (ssh_pki_import_privkey_file(keyFile.c_str(), nullptr, nullptr, nullptr, &key) != SSH_OK) {
            sink_->message("Error sftp.login cannot read the private key %s (missing, unreadable or protected by a "
                           "passphrase: a key with a passphrase belongs in the SSH agent)\n",
                keyFile.c_str());
        } else {
            int rc = ssh_userauth_publickey(ssh_, nullptr, key);
            ssh_key_free(key);
            if (rc == SSH_AUTH_SUCCESS)
                return ClientResult::success();
            if (rc == SSH_AUTH_ERROR)
                return lost();
        }
    }
    sink_->message("Authenticating as %s with the SSH agent or the keys in ~/.ssh\n", who.c_str());
    int rc = ssh_userauth_agent(ssh_, nullptr);
    if (rc == SSH_AUTH_SUCCESS)
        return ClientResult::success();
    if (rc == SSH_AUTH_ERROR && !ssh_is_connected(ssh_))
        return lost();
    rc = ssh_userauth_publickey_auto(ssh_, nullptr, nullptr);
    if (rc == SSH_AUTH_SUCCESS)
        return ClientResult::success();
    if (rc == SSH_AUTH_ERROR && !ssh_is_connected(ssh_))
        return lost();
    sink_->onProblem("server refused the login for user " + who + ": it accepted no key");
    return giveUp(FtpEventSink::format("Error sftp.login the server accepted no key for %s\n", who.c_str()));
}

ClientResult SftpSession::openSftp()
{
    sftp_ = sftp_new(ssh_);
    if (sftp_ == nullptr || sftp_init(sftp_) != SSH_OK) {
        sink_->onProblem(std::string("the server offers no SFTP for this login: ") + ssh_get_error(ssh_));
        if (!ssh_is_connected(ssh_)) {
            sink_->message("Error sftp.open %s\n", ssh_get_error(ssh_));
            close();
            return remember(ClientResult::failed(Failure::Reconnect));
        }
        return giveUp(FtpEventSink::format(
            "Error sftp.open the server offers no SFTP for this login (%s)\n", ssh_get_error(ssh_)));
    }
    char* home = sftp_canonicalize_path(sftp_, ".");
    if (home == nullptr) {
        ClientResult failure = serverFailure("realpath", ".");
        close();
        setLink(Link::Disconnected);
        return failure.failure == Failure::RetryItem ? remember(ClientResult::failed(Failure::GiveUpSite)) : failure;
    }
    loginFolder_ = home;
    ssh_string_free_char(home);
    replacingRename_ = sftp_extension_supported(sftp_, "posix-rename@openssh.com", "1") != 0;
    chunkSize_ = ssh_get_openssh_version(ssh_) != 0 ? kOpenSshChunk : kPortableChunk;
    return ClientResult::success();
}

void SftpSession::quit()
{
    dropAhead();
    if (ssh_ != nullptr)
        transcript("bye", "");
    close();
    setLink(Link::Disconnected);
}

bool SftpSession::isFolder(const std::string& path)
{
    SftpAttributes attributes(sftp_stat(sftp_, path.c_str()));
    return attributes && isFolderAttributes(attributes.value);
}

ClientResult SftpSession::changeDirectory(const std::string& path)
{
    std::optional<Target> where = target(path);
    if (!where)
        return lastResult_;
    transcript("cd", where->relative);
    Call call(*this);
    SftpAttributes attributes(sftp_stat(sftp_, where->full.c_str()));
    if (!attributes)
        return serverFailure("cd", where->relative);
    if (!isFolderAttributes(attributes.value)) {
        sink_->message("Error sftp.cd %s: not a folder\n", where->relative.c_str());
        return remember(ClientResult::failed(Failure::RetryItem, 0, 0));
    }
    currentDirectory_ = where->relative;
    return remember(ClientResult::success());
}

ClientResult SftpSession::makeFolders(const std::string& relative)
{
    Call call(*this);
    const std::string full = serverPathOf(loginFolder_, relative);
    if (sftp_mkdir(sftp_, full.c_str(), 0755) == SSH_OK)
        return ClientResult::success();
    const int status = sftp_get_error(sftp_);
    if (link_ != Link::Ready || !ssh_is_connected(ssh_) || watchdog_.verdict() != SftpWatchdog::Verdict::None)
        return serverFailure("mkdir", relative);
    if (isFolder(full))
        return ClientResult::success();
    if (status == SSH_FX_NO_SUCH_FILE) {
        // Parents from the top down; one that exists is passed by.
        for (size_t slash = relative.find('/', 1); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
            const std::string parent = serverPathOf(loginFolder_, relative.substr(0, slash));
            if (sftp_mkdir(sftp_, parent.c_str(), 0755) != SSH_OK && !isFolder(parent))
                return serverFailure("mkdir", relative.substr(0, slash));
        }
        if (sftp_mkdir(sftp_, full.c_str(), 0755) == SSH_OK || isFolder(full))
            return ClientResult::success();
    }
    return serverFailure("mkdir", relative);
}

ClientResult SftpSession::makeDirectory(const std::string& path)
{
    std::optional<Target> where = target(path);
    if (!where)
        return lastResult_;
    if (where->relative == "/")
        return remember(ClientResult::success());
    transcript("mkdir", where->relative);
    return remember(makeFolders(where->relative));
}

std::optional<SftpSession::Target> SftpSession::target(const std::string& path)
{
    if (ClientResult ready = usable(); !ready) {
        note(ready);
        return std::nullopt;
    }
    std::optional<std::string> relative = loginRelativePath(currentDirectory_, path);
    if (!relative) {
        sink_->message("Error %s %d\n", "sftp.name refused unsafe name", EINVAL);
        note(ClientResult::failed(Failure::RetryItem));
        return std::nullopt;
    }
    std::string full = serverPathOf(loginFolder_, *relative);
    return Target { std::move(*relative), std::move(full) };
}

ClientResult SftpSession::request(
    const char* verb, const std::string& path, int (*call)(sftp_session_struct*, const char*))
{
    std::optional<Target> where = target(path);
    if (!where)
        return lastResult_;
    transcript(verb, where->relative);
    Call guard(*this);
    if (call(sftp_, where->full.c_str()) != SSH_OK)
        return serverFailure(verb, where->relative);
    return remember(ClientResult::success());
}

ClientResult SftpSession::removeDirectory(const std::string& path)
{
    return request("rmdir", path, &sftp_rmdir);
}

ClientResult SftpSession::deleteFile(const std::string& path)
{
    return request("rm", path, &sftp_unlink);
}

ClientResult SftpSession::renameFile(const std::string& from, const std::string& to, MissingSource missing)
{
    std::optional<Target> source = target(from);
    std::optional<Target> destination = source ? target(to) : std::nullopt;
    if (!destination)
        return lastResult_;
    transcript("rename", source->relative, destination->relative);
    return remember(renameOnServer(source->full, destination->full, source->relative, missing));
}

int SftpSession::posixRename(const std::string& from, const std::string& to)
{
    SftpBatch batch(sftp_);
    const size_t renamed = batch.posixRename(from, to);
    if (!exchange(batch))
        return -1;
    return batch.answer(renamed).status;
}

bool SftpSession::exchange(SftpBatch& batch)
{
    if (batch.exchange([this] { watchdog_.progress(); }))
        return true;
    // The channel is out of step with libssh's idea of it: nothing more can be trusted.
    setLink(Link::Broken);
    outOfStep_ = batch.outOfStep();
    return false;
}

ClientResult SftpSession::renameOnServer(
    const std::string& from, const std::string& to, const std::string& shown, MissingSource missing)
{
    Call call(*this);
    const auto absent = [&](int status) {
        return missing == MissingSource::MayBeAbsent && status == SSH_FX_NO_SUCH_FILE && link_ == Link::Ready;
    };
    if (replacingRename_) {
        int status = posixRename(from, to);
        if (status == SSH_FX_OK)
            return ClientResult::success();
        if (status < 0 || link_ != Link::Ready)
            return serverFailure("rename", shown);
        if (absent(status))
            return ClientResult::failed(Failure::RetryItem, 0, ENOENT);
        if (status == SSH_FX_OP_UNSUPPORTED)
            replacingRename_ = false;
        if (status != SSH_FX_OP_UNSUPPORTED && status != SSH_FX_PERMISSION_DENIED) {
            sink_->message("Error sftp.rename %s: %s\n", shown.c_str(), statusText(status));
            return ClientResult::failed(Failure::RetryItem);
        }
        // A server may offer the extension and still refuse it: the plain rename may do.
    }
    if (sftp_rename(sftp_, from.c_str(), to.c_str()) != SSH_OK) {
        if (absent(sftp_get_error(sftp_)) && ssh_is_connected(ssh_))
            return ClientResult::failed(Failure::RetryItem, 0, ENOENT);
        return serverFailure("rename", shown);
    }
    return ClientResult::success();
}

std::optional<int64_t> SftpSession::remoteSize(const std::string& path)
{
    std::optional<Target> where = target(path);
    if (!where)
        return std::nullopt;
    Call call(*this);
    SftpAttributes attributes(sftp_stat(sftp_, where->full.c_str()));
    if (!attributes) {
        (void)serverFailure("size", where->relative);
        return std::nullopt;
    }
    note(ClientResult::success());
    if (isFolderAttributes(attributes.value) || (attributes->flags & SSH_FILEXFER_ATTR_SIZE) == 0)
        return std::nullopt;
    return static_cast<int64_t>(attributes->size);
}

std::optional<bool> SftpSession::remoteFileExists(const std::string& path)
{
    std::optional<Target> where = target(path);
    if (!where)
        return std::nullopt;
    Call call(*this);
    SftpAttributes attributes(sftp_lstat(sftp_, where->full.c_str()));
    if (attributes) {
        note(ClientResult::success());
        return true;
    }
    const int status = sftp_get_error(sftp_);
    if (ssh_is_connected(ssh_) && watchdog_.verdict() == SftpWatchdog::Verdict::None
        && (status == SSH_FX_NO_SUCH_FILE || status == SSH_FX_NO_SUCH_PATH)) {
        note(ClientResult::success());
        return false;
    }
    (void)serverFailure("stat", path);
    return std::nullopt;
}

RemoteSession::Listing SftpSession::listFolder(const std::string& path)
{
    std::vector<RemoteEntry> entries;
    std::optional<Target> where = target(path);
    if (!where)
        return { lastResult_, {} };
    const std::string& relative = where->relative;
    const std::string& full = where->full;
    transcript("ls", relative);
    Call call(*this);
    sftp_dir folder = sftp_opendir(sftp_, full.c_str());
    if (folder == nullptr)
        return { serverFailure("ls", relative), {} };
    std::vector<size_t> links;
    while (entries.size() < kMaxEntries) {
        SftpAttributes attributes(sftp_readdir(sftp_, folder));
        if (!attributes)
            break;
        watchdog_.progress();
        const std::string name = attributes->name != nullptr ? attributes->name : "";
        if (name.empty() || name == "." || name == "..")
            continue;
        RemoteEntry entry;
        entry.name = name;
        entry.fileName = name;
        entry.size = static_cast<int64_t>(attributes->size);
        entry.modificationTime
            = attributes->mtime64 != 0 ? static_cast<int64_t>(attributes->mtime64) : attributes->mtime;
        entry.isDirectory = isFolderAttributes(attributes.value);
        if (attributes->type == SSH_FILEXFER_TYPE_SYMLINK
            || ((attributes->flags & SSH_FILEXFER_ATTR_PERMISSIONS) != 0 && S_ISLNK(attributes->permissions)))
            links.push_back(entries.size());
        entries.push_back(std::move(entry));
    }
    const bool complete = entries.size() >= kMaxEntries || sftp_dir_eof(folder) != 0;
    sftp_closedir(folder);
    if (!complete)
        return { serverFailure("ls", relative), {} };
    for (size_t index : links) {
        const std::string entry = full == "/" ? "/" + entries[index].name : full + "/" + entries[index].name;
        entries[index].isDirectory = isFolder(entry);
    }
    return { remember(ClientResult::success()), std::move(entries) };
}

ClientResult SftpSession::upload(
    const std::string& remoteName, const std::string& localName, TransferMode /*mode*/, int64_t expectedSize)
{
    return put(remoteName, localPath(localName), expectedSize);
}

ClientResult SftpSession::uploadWithRetry(
    const std::string& remoteName, const std::string& localName, TransferMode /*mode*/, int64_t expectedSize)
{
    // The folder is made and the size checked by put itself.
    return put(remoteName, localPath(localName), expectedSize);
}

sftp_file SftpSession::openForWriting(const std::string& target, const std::string& relative)
{
    sftp_file remote = sftp_open(sftp_, target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (remote == nullptr && sftp_get_error(sftp_) == SSH_FX_NO_SUCH_FILE && ssh_is_connected(ssh_)) {
        const std::string folder = relative.substr(0, relative.rfind('/'));
        if (!folder.empty() && makeFolders(folder))
            remote = sftp_open(sftp_, target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    return remote;
}

SftpSession::Written SftpSession::writeFile(
    sftp_file remote, int descriptor, const std::string& shown, bool firstMayBeRefused)
{
    Written written;
    std::vector<char> block(uploadBlock(chunkSize_));
    for (;;) {
        if (stopped()) {
            written.failure = serverFailure("put", shown);
            return written;
        }
        const ssize_t count = read(descriptor, block.data(), block.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count == 0)
            return written;
        if (count < 0) {
            written.failure = localFailure(errno);
            return written;
        }
        if (!paceUpload(static_cast<size_t>(count)))
            continue; // the stop is handled above
        if (sftp_write(remote, block.data(), static_cast<size_t>(count)) != count) {
            if (firstMayBeRefused && written.bytes == 0 && alive()) {
                written.refused = true;
                return written;
            }
            written.failure = serverFailure("put", shown);
            return written;
        }
        watchdog_.progress();
        written.bytes += count;
        sink_->onBytes(count);
    }
}

SftpSession::Written SftpSession::sendInChunks(
    const std::string& target, const std::string& relative, int descriptor, const std::string& shown)
{
    sftp_file remote = openForWriting(target, relative);
    if (remote == nullptr)
        return { serverFailure("put", shown), 0 };
    Written written = writeFile(remote, descriptor, shown);
    const bool closed = sftp_close(remote) == SSH_OK;
    if (!written.failure && !closed)
        written.failure = serverFailure("put", shown);
    return written;
}

ClientResult SftpSession::localFailure(int error)
{
    sink_->message("File Error %x\n", static_cast<unsigned>(error));
    return ClientResult::failed(Failure::RetryItem, 0, error);
}

std::optional<std::string> SftpSession::openPart(
    const std::string& target, const std::string& relative, const std::string& shown)
{
    for (bool folderMade = false;; folderMade = true) {
        SftpBatch batch(sftp_);
        const size_t opened = batch.openForWriting(target, 0644);
        if (!exchange(batch)) {
            note(serverFailure("put", shown));
            return std::nullopt;
        }
        const SftpBatch::Answer& answer = batch.answer(opened);
        if (answer.status == SSH_FX_OK && !answer.handle.empty())
            return answer.handle;
        const std::string folder = relative.substr(0, relative.rfind('/'));
        if (folderMade || answer.status != SSH_FX_NO_SUCH_FILE || folder.empty() || !makeFolders(folder)) {
            note(serverFailure("put", shown, answer.status == SSH_FX_OK ? SSH_FX_FAILURE : answer.status));
            return std::nullopt;
        }
    }
}

SftpSession::Written SftpSession::sendWhole(const std::string& target, const std::string& relative, int descriptor,
    const struct stat& status, std::optional<std::string> handle, const std::string& shown)
{
    // One byte more than the size tells a file that grew since it was opened.
    std::string data(static_cast<size_t>(status.st_size) + 1, '\0');
    size_t have = 0;
    while (have < data.size()) {
        const ssize_t count = read(descriptor, data.data() + have, data.size() - have);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return { localFailure(errno), 0 };
        if (count == 0)
            break;
        have += static_cast<size_t>(count);
    }
    data.resize(have);
    // Paced like any other block, so a site of small files keeps to its cap too.
    if (!paceUpload(data.size()) || stopped())
        return { serverFailure("put", shown), 0 };
    if (!handle)
        handle = openPart(target, relative, shown);
    if (!handle)
        return { lastResult_, 0 };

    // The write, the times and the close travel together; the server answers them in order,
    // and the part is published only once all of them are confirmed.
    SftpBatch batch(sftp_);
    const std::optional<size_t> wrote
        = data.empty() ? std::nullopt : std::optional<size_t>(batch.write(*handle, 0, data));
    const std::optional<size_t> timed
        = serverTimes_ ? std::optional<size_t>(batch.setTimes(*handle, timesOf(status))) : std::nullopt;
    const size_t closed = batch.close(*handle);
    if (!exchange(batch))
        return { serverFailure("put", shown), 0 };
    noteTimesAnswer(batch, timed);
    for (const size_t index : { wrote.value_or(closed), closed }) {
        if (const int answer = batch.answer(index).status; answer != SSH_FX_OK)
            return { serverFailure("put", shown, answer), 0 };
    }
    sink_->onBytes(static_cast<int64_t>(data.size()));
    return { std::nullopt, static_cast<int64_t>(data.size()) };
}

void SftpSession::noteTimesAnswer(const SftpBatch& batch, std::optional<size_t> index)
{
    // A server that will not set times is left alone for the rest of the session; the file
    // itself arrived all the same.
    if (index && batch.answer(*index).status != SSH_FX_OK)
        serverTimes_ = false;
}

void SftpSession::expectUpload(const std::string& remoteName, const std::string& localName)
{
    if (remoteName.empty() || localName.empty()) {
        expected_.reset();
        dropAhead();
        return;
    }
    expected_ = Expected { remoteName, localPath(localName) };
}

std::optional<std::string> SftpSession::takeAhead(const std::string& relative, const std::string& localPath)
{
    if (!ahead_)
        return std::nullopt;
    if (ahead_->relative == relative && ahead_->localPath == localPath && atomicUploads())
        return std::exchange(ahead_, std::nullopt)->handle;
    dropAhead();
    return std::nullopt;
}

void SftpSession::dropAhead()
{
    const std::optional<Ahead> ahead = std::exchange(ahead_, std::nullopt);
    if (!ahead || link_ != Link::Ready || stopped() || !ssh_is_connected(ssh_))
        return;
    Call call(*this);
    SftpBatch batch(sftp_);
    (void)batch.close(ahead->handle);
    (void)batch.remove(serverPathOf(loginFolder_, uploadPartName(ahead->relative)));
    (void)exchange(batch);
}

void SftpSession::openExpected(SftpBatch& batch, const std::string& current, std::optional<size_t>& opened)
{
    std::optional<Expected> expected = std::exchange(expected_, std::nullopt);
    if (!expected)
        return;
    const std::optional<std::string> relative = loginRelativePath(currentDirectory_, expected->remoteName);
    struct stat status { };
    // Only what sendWhole sends can use a part opened early.
    if (!relative || *relative == "/" || *relative == current || ::stat(expected->localPath.c_str(), &status) != 0
        || !S_ISREG(status.st_mode) || static_cast<size_t>(status.st_size) > chunkSize_)
        return;
    opened = batch.openForWriting(serverPathOf(loginFolder_, uploadPartName(*relative)), 0644);
    ahead_ = Ahead { *relative, expected->localPath, {} };
}

ClientResult SftpSession::publish(const std::string& partRelative, const std::string& relative,
    std::optional<SftpBatch::Times> times, const std::function<void()>& beforeReplace)
{
    if (beforeReplace)
        beforeReplace();
    if (!usable())
        return serverFailure("rename", partRelative);
    // The part's times, its rename and the opening of the next file's part go out together:
    // none waits for another, and none is sent before the part is whole.
    SftpBatch batch(sftp_);
    const std::string part = serverPathOf(loginFolder_, partRelative);
    const std::optional<size_t> timed
        = times && serverTimes_ ? std::optional<size_t>(batch.setTimesOfPath(part, *times)) : std::nullopt;
    std::optional<size_t> renamed;
    std::optional<size_t> opened;
    if (replacingRename_) {
        renamed = batch.posixRename(part, serverPathOf(loginFolder_, relative));
        openExpected(batch, relative, opened);
    }
    if (!batch.empty() && !exchange(batch)) {
        ahead_.reset();
        return serverFailure("rename", partRelative);
    }
    noteTimesAnswer(batch, timed);
    if (opened) {
        if (const SftpBatch::Answer& answer = batch.answer(*opened);
            answer.status == SSH_FX_OK && !answer.handle.empty())
            ahead_->handle = answer.handle;
        else
            ahead_.reset();
    }
    return moveIntoPlace(
        partRelative, relative, renamed ? std::optional<int>(batch.answer(*renamed).status) : std::nullopt);
}

ClientResult SftpSession::put(const std::string& remotePath, const std::string& localPath, int64_t expectedSize)
{
    // Taken by this upload whatever becomes of it: a later one must not run it.
    const std::function<void()> beforeReplace = takeBeforeReplace();
    const auto failed = [&](ClientResult result) {
        sink_->onTransferFailed(localPath);
        return remember(result);
    };
    std::optional<Target> where = target(remotePath);
    if (!where)
        return failed(lastResult_);
    const std::string& relative = where->relative;
    if (relative == "/" || localPath.find('\0') != std::string::npos) {
        sink_->message("Error %s %d\n", "sftp.put refused unsafe file name", EINVAL);
        return failed(ClientResult::failed(Failure::RetryItem));
    }
    struct stat status { };
    FileDescriptor file = openRegularFile(localPath, status);
    if (file.get() < 0)
        return failed(localFailure(errno));

    const bool atomic = atomicUploads();
    const std::string partRelative = atomic ? uploadPartName(relative) : relative;
    const std::string target = serverPathOf(loginFolder_, partRelative);
    std::optional<std::string> handle = takeAhead(relative, localPath);
    if (!atomic && beforeReplace)
        beforeReplace();
    transcript("put", partRelative);
    Call call(*this);
    const auto discardPart = [&] {
        if (atomic && link_ == Link::Ready && !stopped())
            (void)sftp_unlink(sftp_, target.c_str());
    };

    sink_->onUploadBegins(localPath, expectedSize);
    sink_->onFileSize(static_cast<int64_t>(status.st_size));
    const bool whole = static_cast<size_t>(status.st_size) <= chunkSize_;
    if (handle && !whole) {
        // The file grew past one write since its part was opened: the handle is of no use.
        ahead_ = Ahead { relative, localPath, *handle };
        dropAhead();
        handle.reset();
    }
    Written written = whole ? sendWhole(target, relative, file.get(), status, std::move(handle), partRelative)
                            : sendInChunks(target, relative, file.get(), partRelative);
    if (written.failure) {
        discardPart();
        return failed(*written.failure);
    }
    const int64_t sent = written.bytes;

    // The server confirmed every write and the close one by one, so the bytes it holds are the
    // bytes sent; asking for the size again would cost a round trip per file for nothing. A
    // local file that changed size while it was read is another matter: it is sent again.
    if (sent != static_cast<int64_t>(status.st_size) || changedSinceOpened(file.get(), status)) {
        sink_->message(
            "Error %s changed while it was being sent: not published, the next run sends it\n", localPath.c_str());
        discardPart();
        return failed(ClientResult::failed(Failure::RetryItem, 0, EAGAIN));
    }
    // A file sent in one write had its times set before its close.
    const std::optional<SftpBatch::Times> times = whole ? std::nullopt : std::optional(timesOf(status));
    if (atomic) {
        if (ClientResult placed = publish(partRelative, relative, times, beforeReplace); !placed)
            return failed(placed);
    } else if (times && serverTimes_) {
        SftpBatch batch(sftp_);
        const size_t timed = batch.setTimesOfPath(target, *times);
        if (!exchange(batch))
            return failed(serverFailure("put", partRelative));
        noteTimesAnswer(batch, timed);
    }
    return remember(ClientResult::success());
}

bool SftpSession::refuseFolderAt(const std::string& live, const std::string& liveRelative)
{
    SftpAttributes attributes(sftp_lstat(sftp_, live.c_str()));
    if (!attributes || !isFolderAttributes(attributes.value))
        return false;
    sink_->message("Error %s is a folder on the server: a file cannot take its place\n", liveRelative.c_str());
    return true;
}

bool SftpSession::alive()
{
    return link_ == Link::Ready && ssh_is_connected(ssh_) && !stopped()
        && watchdog_.verdict() == SftpWatchdog::Verdict::None;
}

ClientResult SftpSession::moveIntoPlace(
    const std::string& partRelative, const std::string& liveRelative, std::optional<int> renamed)
{
    const std::string part = serverPathOf(loginFolder_, partRelative);
    const std::string live = serverPathOf(loginFolder_, liveRelative);
    transcript("rename", partRelative, liveRelative);
    Call call(*this);
    const auto failed = [&](const char* what, const std::string& path) {
        ClientResult result = serverFailure(what, path);
        if (alive())
            (void)sftp_unlink(sftp_, part.c_str());
        return result;
    };
    if (replacingRename_) {
        const int status = renamed ? *renamed : posixRename(part, live);
        if (status == SSH_FX_OK)
            return ClientResult::success();
        if (status < 0 || !alive())
            return failed("rename", partRelative);
        if (status == SSH_FX_OP_UNSUPPORTED)
            replacingRename_ = false;
        if (status != SSH_FX_OP_UNSUPPORTED && status != SSH_FX_PERMISSION_DENIED) {
            if (!refuseFolderAt(live, liveRelative))
                sink_->message("Error sftp.rename %s: %s\n", partRelative.c_str(), statusText(status));
            (void)sftp_unlink(sftp_, part.c_str());
            return ClientResult::failed(Failure::RetryItem);
        }
        // Offered but refused: the plain rename below, which does not replace, may do.
    }
    if (sftp_rename(sftp_, part.c_str(), live.c_str()) == SSH_OK)
        return ClientResult::success();
    if (!alive())
        return failed("rename", partRelative);
    // A folder of that name would step aside with all its pages, and the site would lose them.
    if (refuseFolderAt(live, liveRelative)) {
        (void)sftp_unlink(sftp_, part.c_str());
        return ClientResult::failed(Failure::RetryItem);
    }

    // Without posix-rename a rename onto an existing name is refused. Removing the old file
    // first would lose it if the part then could not follow; it steps aside instead and comes
    // back in that case, so the live name holds the old or the new file, never nothing.
    const std::string oldRelative = uploadOldName(liveRelative);
    const std::string old = serverPathOf(loginFolder_, oldRelative);
    transcript("rename", liveRelative, oldRelative);
    if (sftp_rename(sftp_, live.c_str(), old.c_str()) != SSH_OK) {
        const int status = sftp_get_error(sftp_);
        // Without a live file to take, the refusal had another cause.
        if (!alive() || status == SSH_FX_NO_SUCH_FILE)
            return failed("rename", partRelative);
        // The old name holds what a killed run left; while the live name holds a file, that
        // copy is stale.
        (void)sftp_unlink(sftp_, old.c_str());
        if (sftp_rename(sftp_, live.c_str(), old.c_str()) != SSH_OK)
            return failed("rename", liveRelative);
    }
    transcript("rename", partRelative, liveRelative);
    if (sftp_rename(sftp_, part.c_str(), live.c_str()) == SSH_OK) {
        transcript("rm", oldRelative);
        (void)sftp_unlink(sftp_, old.c_str());
        return ClientResult::success();
    }
    ClientResult result = failed("rename", partRelative);
    if (!alive() || sftp_rename(sftp_, old.c_str(), live.c_str()) != SSH_OK)
        sink_->message("Error %s %s is kept as %s\n", "could not move the previous version back:", liveRelative.c_str(),
            oldRelative.c_str());
    return result;
}

ClientResult SftpSession::download(const std::string& remoteName, const std::string& localName, TransferMode /*mode*/)
{
    // A name from a server listing must not lead out of the local folder.
    if (hasParentStep(localName)) {
        sink_->message("Error %s %d\n", "sftp.get refused unsafe file name", EINVAL);
        sink_->onTransferFailed(localName);
        return remember(ClientResult::failed(Failure::RetryItem, 0, EINVAL));
    }
    return get(remoteName, localPath(localName));
}

bool SftpSession::sameSizeOnServer(const std::string& remoteName, const std::string& localName)
{
    const int64_t localSize = fileSize(localPath(localName));
    const std::optional<int64_t> remoteSize = this->remoteSize(remoteName);
    return localSize < 0 || !remoteSize || *remoteSize == localSize;
}

std::string SftpSession::currentDirectory()
{
    return link_ == Link::Ready ? currentDirectory_ : std::string();
}

ClientResult SftpSession::get(const std::string& remotePath, const std::string& localPath)
{
    const auto failed = [&](ClientResult result) {
        sink_->onTransferFailed(localPath);
        return remember(result);
    };
    std::optional<Target> where = target(remotePath);
    if (!where)
        return failed(lastResult_);
    const std::string& relative = where->relative;
    if (localPath.empty() || localPath.find('\0') != std::string::npos) {
        sink_->message("Error %s %d\n", "sftp.get refused unsafe file name", EINVAL);
        return failed(ClientResult::failed(Failure::RetryItem));
    }
    // Made before the transfer: an existing file is never touched, and a name that cannot be
    // made costs no transfer.
    FileDescriptor file(open(localPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (file.get() < 0) {
        const int error = errno;
        sink_->message("File Error %x\n", static_cast<unsigned>(error));
        return failed(ClientResult::failed(Failure::RetryItem, 0, error));
    }
    const auto discard = [&](ClientResult result) {
        file.closeNow();
        unlink(localPath.c_str());
        return failed(result);
    };
    transcript("get", relative);
    Call call(*this);
    sftp_file remote = sftp_open(sftp_, where->full.c_str(), O_RDONLY, 0);
    if (remote == nullptr)
        return discard(serverFailure("get", relative));
    sink_->onDownloadBegins(localPath, 0);
    std::vector<char> block(chunkSize_);
    int64_t total = 0;
    std::optional<ClientResult> failure;
    for (;;) {
        if (stopped()) {
            failure = serverFailure("get", relative);
            break;
        }
        ssize_t count = sftp_read(remote, block.data(), block.size());
        if (count == 0)
            break;
        if (count < 0) {
            failure = serverFailure("get", relative);
            break;
        }
        watchdog_.progress();
        if (!writeAll(file.get(), block.data(), static_cast<size_t>(count))) {
            const int error = errno;
            sink_->message("File Error %x\n", static_cast<unsigned>(error));
            failure = ClientResult::failed(Failure::RetryItem, 0, error);
            break;
        }
        total += count;
        sink_->onBytes(count);
    }
    (void)sftp_close(remote);
    if (failure)
        return discard(*failure);
    if (!file.closeNow()) {
        const int error = errno;
        sink_->message("File Error %x\n", static_cast<unsigned>(error));
        return discard(ClientResult::failed(Failure::RetryItem, 0, error));
    }
    sink_->message("Received %lld Bytes\n", static_cast<long long>(total));
    return remember(ClientResult::success());
}

ClientResult SftpSession::resumeUpload(const std::string& remoteName, const std::string& localName)
{
    const std::string local = localPath(localName);
    const auto whole = [&] { return put(remoteName, local, -1); };
    std::optional<Target> live = atomicUploads() ? target(remoteName) : std::nullopt;
    if (!live || live->relative == "/")
        return whole();
    const std::string partRelative = uploadPartName(live->relative);
    const std::string part = serverPathOf(loginFolder_, partRelative);
    struct stat status { };
    FileDescriptor file = openRegularFile(local, status);
    if (file.get() < 0)
        return whole();
    const std::optional<int64_t> held = remoteSize(uploadPartName(remoteName));
    // A part larger than the file is no beginning of it.
    if (!held || *held <= 0 || *held > static_cast<int64_t>(status.st_size) || !usable())
        return whole();
    const auto failed = [&](ClientResult result) {
        // The part keeps what arrived: the next run continues from there.
        sink_->onTransferFailed(local);
        return remember(result);
    };
    const auto wholeAfterRefusal = [&] {
        sink_->message("%s %s: sending it whole\n", "the server does not continue uploads of", partRelative.c_str());
        return whole();
    };
    transcript("put", partRelative);
    Call call(*this);
    if (*held < static_cast<int64_t>(status.st_size)) {
        // Without O_TRUNC the part keeps its bytes; a server that will not open it so gets the
        // whole file.
        sftp_file remote = sftp_open(sftp_, part.c_str(), O_WRONLY, 0);
        if (remote == nullptr) {
            if (link_ != Link::Ready || !ssh_is_connected(ssh_))
                return failed(serverFailure("put", partRelative));
            return wholeAfterRefusal();
        }
        if (sftp_seek64(remote, static_cast<uint64_t>(*held)) != 0
            || ::lseek(file.get(), static_cast<off_t>(*held), SEEK_SET) != static_cast<off_t>(*held)) {
            (void)sftp_close(remote);
            return whole();
        }
        sink_->onUploadBegins(local, -1);
        sink_->onFileSize(static_cast<int64_t>(status.st_size) - *held);
        Written written = writeFile(remote, file.get(), partRelative, true);
        const bool closed = sftp_close(remote) == SSH_OK;
        // Some servers open the part but take no write into what it holds.
        if (written.refused)
            return wholeAfterRefusal();
        if (!written.failure && !closed)
            written.failure = serverFailure("put", partRelative);
        if (written.failure)
            return failed(*written.failure);
        if (*held + written.bytes != static_cast<int64_t>(status.st_size) || changedSinceOpened(file.get(), status)) {
            sink_->message(
                "Error %s changed while it was being sent: not published, the next run sends it\n", local.c_str());
            (void)sftp_unlink(sftp_, part.c_str());
            return failed(ClientResult::failed(Failure::RetryItem, 0, EAGAIN));
        }
    }
    // Two pieces make a whole only when the server's count says so.
    if (remoteSize(uploadPartName(remoteName)) != static_cast<int64_t>(status.st_size)) {
        if (!usable())
            return failed(lastResult_);
        sink_->message("%s %s: sending it whole\n", "the continued upload does not add up for", partRelative.c_str());
        return whole();
    }
    if (const std::function<void()> beforeReplace = takeBeforeReplace())
        beforeReplace();
    if (ClientResult placed = moveIntoPlace(partRelative, live->relative); !placed)
        return failed(placed);
    return remember(ClientResult::success());
}
