#include "ftp/ftp_client.h"

#include "ftp/byte_stream.h"
#include "ftp/data_connection.h"
#include "ftp/reply_reader.h"
#include "ftp/tcp_stream.h"
#include "platform/file_utils.h"
#include "platform/stop_signal.h"
#include "session/server_address.h"
#include "session/server_text.h"
#include "session/trusted_certificates.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Control replies are short; this only bounds one receive.
constexpr size_t kControlChunk = 4096;

bool holdsLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// `word` is upper case; the text matches it in any case, followed by a blank or the line end.
bool startsWithWord(std::string_view text, std::string_view word)
{
    if (text.size() <= word.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != word[i])
            return false;
    }
    char next = text[word.size()];
    return next == ' ' || next == '\r' || next == '\n';
}

} // namespace

FtpClient::FtpClient(const MachineOptions& options, std::chrono::milliseconds budget)
    : options_(options)
    , budget_(budget)
    , replies_(std::make_unique<ReplyReader>())
{
}

FtpClient::~FtpClient()
{
    closeControl();
}

void FtpClient::setState(State state)
{
    // The one place the connection state changes: closing the stream goes with leaving it.
    if (state == State::Disconnected && control_)
        control_->close();
    if (state != State::LoggedIn)
        typeInEffect_ = 0;
    if (state == State::Disconnected) {
        epsvRefused_ = false;
        renameApartOnly_ = false;
        trailerTiming_ = TrailerTiming::Unknown;
        dataAhead_.reset();
    }
    state_ = state;
}

bool FtpClient::isBroken() const
{
    return failureCount_ > kBrokenAfterFailures || stopped();
}

int FtpClient::stopDescriptor() const
{
    return stopSignal() != nullptr ? stopSignal()->descriptor() : -1;
}

bool FtpClient::endSessionIfStopped()
{
    if (!stopped())
        return false;
    if (control_ && control_->isOpen() && controlTls_ == nullptr) {
        // Never waits: a full send buffer means the server is not listening anyway.
        static constexpr char kAbort[] = "ABOR\r\n";
        (void)::send(control_->descriptor(), kAbort, sizeof kAbort - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    if (control_)
        closeControl();
    return true;
}

ClientResult FtpClient::outcome(int code, int systemError) const
{
    if (code / 100 == 2)
        return ClientResult::success(code);
    if (stopped())
        return ClientResult::failed(Failure::GiveUpSite, code, systemError);
    if (state_ == State::Disconnected || isBroken() || timedOut_ || code == 421)
        return ClientResult::failed(Failure::Reconnect, code, systemError, lastRefusal_);
    return ClientResult::failed(Failure::RetryItem, code, systemError, lastRefusal_);
}

void FtpClient::explain(const std::string& text) const
{
    // A stop breaks off whatever was under way; that is no failure of the site's.
    if (!stopped())
        sink_->onProblem(text);
}

void FtpClient::addFailure()
{
    if (failureCount_ < 0x7fffffff)
        ++failureCount_;
}

void FtpClient::noteTimeout()
{
    timedOut_ = true;
}

void FtpClient::closeControl()
{
    setState(State::Disconnected);
    controlTls_ = nullptr;
    protectData_ = false;
    control_.reset();
    replies_->reset();
}

void FtpClient::startOver(const std::string& url, const std::string& user, const std::string& password)
{
    closeControl();
    features_ = {};
    // What was learned holds for one server; a session handed over brings the giver's knowledge.
    if (url != host_)
        dataResumption_ = TlsResumption::Unknown;
    if (controlResumption_.server() == url && controlResumption_.resumption() != TlsResumption::Unknown)
        dataResumption_ = controlResumption_.resumption();
    host_ = url;
    user_ = user;
    password_ = password;
    failureCount_ = 0;
    lossReported_ = false;
}

ClientResult FtpClient::refusal(int code) const
{
    // A lost connection, or a server at its limit of connections (421), is worth another try
    // later; a refusal (of the password, of protected data connections) is not.
    ClientResult result = outcome(code);
    if (result.failure != Failure::Reconnect)
        result.failure = Failure::GiveUpSite;
    return result;
}

ClientResult FtpClient::logIn(const std::string& user, const std::string& password, bool tls)
{
    if (holdsLineBreakOrNul(user) || holdsLineBreakOrNul(password)) {
        explain("the user name or the password of the site holds a line break; no login was tried");
        sink_->message("Error %s %d\n", "connect.login line break in user name or password", EINVAL);
        return ClientResult::failed(Failure::GiveUpSite, 0, EINVAL);
    }
    const auto refused = [&](int code) {
        ClientResult result = refusal(code);
        if (result.failure == Failure::GiveUpSite)
            explain("server refused the login for user " + printableServerText(user)
                + (result.serverText.empty() ? std::string() : ": " + result.serverText));
        else if (code == 421)
            explain("server turned the login for user " + printableServerText(user) + " away: " + result.serverText);
        else
            explain("connection lost while logging in as " + printableServerText(user));
        return result;
    };
    int code = replyCode(sendRaw("USER " + user + "\r\n"));
    if (code != 230) {
        if (code != 331)
            return refused(code);
        code = replyCode(sendRaw("PASS " + password + "\r\n"));
        if (code != 230)
            return refused(code);
    }
    setState(State::LoggedIn);
    if (tls && !protectDataConnections())
        return refusal(0);
    askFeatures();
    return ClientResult::success(code);
}

ClientResult FtpClient::connect(const std::string& url, const std::string& user, const std::string& password)
{
    startOver(url, user, password);
    std::optional<ServerAddress> address = ServerAddress::parse(url);
    if (address && address->transport == ServerAddress::Transport::Sftp) {
        explain(printableServerText(url) + " is an SFTP site, which an FTP session cannot serve");
        sink_->message("Error %s %d\n", "connect.sftp an sftp:// site needs an SFTP session", EINVAL);
        return ClientResult::failed(Failure::GiveUpSite, 0, EINVAL);
    }
    TcpStream::Connected connected { nullptr, EINVAL };
    if (address)
        connected = TcpStream::connect(address->host, address->port, budget_, stopDescriptor());
    if (!connected.stream) {
        if (stopped())
            return ClientResult::failed(Failure::GiveUpSite);
        if (!address)
            explain("cannot connect to " + printableServerText(url) + ": not a server address (host[:port])");
        else
            explain("cannot connect to " + printableServerText(address->hostAndPort()) + ": "
                + (connected.unknownHost ? std::string("no such host is known") : errorWords(connected.error)));
        sink_->message("Error %d in connect.connect\n", connected.error);
        return ClientResult::failed(address ? Failure::Reconnect : Failure::GiveUpSite, 0, connected.error);
    }
    control_ = std::move(connected.stream);
    certificate_ = {};
    const bool tls = address->security != ServerAddress::Security::Plain;
    // A server whose identity cannot be proved is not asked again in this run; a handshake
    // that ran out of time may succeed later.
    const auto tlsRefused
        = [this] { return ClientResult::failed(timedOut_ && !stopped() ? Failure::Reconnect : Failure::GiveUpSite); };
    if (address->security == ServerAddress::Security::ImplicitTls && !startTls(address->host, address->hostAndPort()))
        return tlsRefused();
    setState(State::Connected);

    // The greeting is not examined, but it must be read whole: a multi-line greeting would
    // otherwise be taken for the answer to USER.
    (void)readReply();
    if (state_ == State::Disconnected) {
        // Closed or silent before it greeted: nothing to log in to.
        explain("cannot connect to " + printableServerText(address->hostAndPort()) + ": "
            + (timedOut_ ? "the server did not greet in time" : "the server closed the connection without a greeting"));
        return outcome(0);
    }
    if (address->security == ServerAddress::Security::ExplicitTls) {
        const std::string reply = sendRaw("AUTH TLS\r\n");
        const int code = replyCode(reply);
        if (code != 234) {
            // Going on in plain text would send the password in the clear.
            explain("server refused TLS (AUTH TLS), so no password was sent"
                + (reply.empty() ? std::string() : ": " + printableServerText(reply)));
            sink_->message("Error %s %d\n", "connect.auth server refused AUTH TLS", code);
            closeControl();
            return ClientResult::failed(Failure::GiveUpSite, code);
        }
        if (!startTls(address->host, address->hostAndPort()))
            return tlsRefused();
    }
    if (user.empty())
        return !tls || protectDataConnections() ? ClientResult::success() : refusal(0);
    return logIn(user, password, tls);
}

bool FtpClient::startTls(const std::string& host, const std::string& hostAndPort)
{
    if (!tlsContext_)
        tlsContext_ = TlsContext::create();
    if (tlsContext_)
        tlsContext_->clearSessions();
    if (!tlsContext_) {
        explain("cannot set up TLS for " + printableServerText(hostAndPort) + ": out of memory");
        sink_->message("Error %s %d\n", "connect.tls cannot set up TLS", ENOMEM);
        closeControl();
        return false;
    }
    // Anything the server sent before the handshake belongs to the plain session.
    replies_->reset();
    // A ticket may resume once only: offered to this server and this handshake alone.
    TlsSession resume = std::move(controlResumption_);
    if (resume.server() != host_)
        resume = TlsSession();
    TlsStream::Handshake handshake = TlsStream::connect(std::move(control_), tlsContext_, host, resume.get(), budget_);
    if (!handshake.stream) {
        if (handshake.result.status == IoResult::Status::TimedOut)
            noteTimeout();
        if (handshake.plainFtpReply)
            explain(printableServerText(hostAndPort)
                + " answered in plain FTP, not TLS: for TLS on this port use ftpes://"
                + printableServerText(hostAndPort));
        else
            explain("TLS with " + printableServerText(hostAndPort) + " failed: " + handshake.error);
        if (handshake.plainFtpReply)
            sink_->message("Error connect.tls %s answered in plain FTP, not TLS: ftps:// is only for ports that "
                           "speak TLS from the first byte (usually 990); for TLS on this port use ftpes://%s "
                           "(%s)\n",
                hostAndPort.c_str(), hostAndPort.c_str(), handshake.error.c_str());
        else
            sink_->message("Error connect.tls %s\n", handshake.error.c_str());
        closeControl();
        return false;
    }
    certificate_ = handshake.stream->certificate();
    if (!certificate_.verified
        && !TrustedCertificates(
            trustedCertificatesPath().empty() ? TrustedCertificates::defaultPath() : trustedCertificatesPath())
                .isTrusted(hostAndPort, certificate_.fingerprint)) {
        explain("the certificate of " + printableServerText(hostAndPort) + " is not trusted: " + certificate_.problem
            + "; if it is the server's own, trust it with: tarnwick --trust-cert " + printableServerText(hostAndPort)
            + " " + certificate_.fingerprint);
        sink_->message("Error connect.certificate %s: %s. Fingerprint (SHA-256) %s. If this is the server's own "
                       "certificate, trust it with: tarnwick --trust-cert %s %s\n",
            hostAndPort.c_str(), certificate_.problem.c_str(), certificate_.fingerprint.c_str(), hostAndPort.c_str(),
            certificate_.fingerprint.c_str());
        handshake.stream->close();
        closeControl();
        return false;
    }
    sink_->message("TLS %s %s%s\n", handshake.stream->version().c_str(), handshake.stream->cipher().c_str(),
        handshake.stream->sessionReused() ? " (resumed)" : "");
    controlTls_ = handshake.stream.get();
    control_ = std::move(handshake.stream);
    tlsHost_ = host;
    return true;
}

TlsSession FtpClient::shareControlSession()
{
    // A ticket given away on a server that requires one per data connection costs a login.
    const size_t kept = dataResumption_ == TlsResumption::Required ? SIZE_MAX : kTicketsKept;
    return TlsSession(controlTls_ ? controlTls_->sessionToShare(kept) : nullptr, host_, dataResumption_);
}

bool FtpClient::protectDataConnections()
{
    if (command("PBSZ 0") / 100 != 2 || command("PROT P") / 100 != 2) {
        // Files would travel in the clear on a connection the user asked to protect.
        explain("server refused protected data connections (PROT P), so no file was sent");
        sink_->message("Error %s %d\n", "connect.prot server refused protected data connections", EPROTO);
        closeControl();
        return false;
    }
    protectData_ = true;
    return true;
}

void FtpClient::askFeatures()
{
    features_ = {};
    (void)sendRaw("FEAT\r\n", ReplyWait::DontWait);
    if (state_ == State::Disconnected)
        return;
    std::vector<std::string> lines;
    if (replyCode(readReply(&lines)) != 211)
        return;
    for (const std::string& line : lines) {
        // Feature lines start with a blank; the first and last line carry the code.
        if (line.empty() || line.front() != ' ')
            continue;
        std::string_view feature(line);
        while (!feature.empty() && feature.front() == ' ')
            feature.remove_prefix(1);
        std::string word(feature.substr(0, feature.find(' ')));
        for (char& c : word) {
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        }
        if (word == "SIZE")
            features_.size = true;
        else if (word == "MLST")
            features_.mlst = true;
        else if (word == "MFMT")
            features_.mfmt = true;
    }
}

int FtpClient::command(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list copy;
    va_copy(copy, arguments);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line;
    if (length > 0) {
        line.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(line.data(), line.size(), format, arguments);
        line.resize(static_cast<size_t>(length));
    }
    va_end(arguments);
    // A name holding a line break would smuggle a second command onto the connection.
    if (holdsLineBreakOrNul(line)) {
        sink_->message("Error %s %d\n", "command.format line break in command", EINVAL);
        return 0;
    }
    return replyCode(sendRaw(line + "\r\n"));
}

std::string FtpClient::sendRaw(const std::string& text, ReplyWait wait)
{
    if (!sendTogether({ text }) || wait == ReplyWait::DontWait)
        return {};
    return readReply();
}

bool FtpClient::sendTogether(const std::vector<std::string>& lines)
{
    std::string together;
    for (const std::string& text : lines) {
        lastCommand_ = startsWithWord(text, "PASS") ? std::string("PASS ****\r\n") : text;
        lastRefusal_.clear();
        if (startsWithWord(text, "TYPE"))
            typeInEffect_ = 0;
        // A script's own passive or port request replaces the connection made ahead.
        for (const char* verb : { "EPSV", "PASV", "PORT", "EPRT", "REIN", "USER" })
            if (startsWithWord(text, verb))
                dataAhead_.reset();
        // Names in commands may come from a server's listing; the line end stays as it is.
        std::string_view body(lastCommand_);
        size_t lineEnd = body.size();
        while (lineEnd > 0 && (body[lineEnd - 1] == '\r' || body[lineEnd - 1] == '\n'))
            --lineEnd;
        if (endSessionIfStopped())
            return false;
        sink_->onLine(printableServerText(body.substr(0, lineEnd)) + std::string(body.substr(lineEnd)));
        together += text;
    }
    if (!control_ || !control_->isOpen()) {
        reportLoss("SendCommand.send: %d (%s)\n", IoResult { IoResult::Status::Failed, 0, ENOTCONN });
        return false;
    }
    IoResult sent = control_->sendAll(together.data(), together.size());
    if (!sent.ok() && endSessionIfStopped())
        return false;
    if (!sent.ok()) {
        if (sent.status == IoResult::Status::TimedOut)
            noteTimeout();
        reportLoss("SendCommand.send: %d (%s)\n", sent);
        setState(State::Disconnected);
        return false;
    }
    return true;
}

std::string FtpClient::readReply(std::vector<std::string>* lines)
{
    std::string last;
    auto drain = [&]() -> bool {
        while (std::optional<ReplyReader::Line> line = replies_->nextLine()) {
            sink_->onLine(printableServerText(line->text));
            if (line->final) {
                const int code = replyCode(line->text);
                lastRefusal_ = code >= 400 && code <= 599 ? printableServerText(line->text) : std::string();
            }
            if (lines)
                lines->push_back(line->text);
            last = std::move(line->text);
            if (line->final)
                return true;
        }
        return false;
    };
    if (drain())
        return last;
    if (endSessionIfStopped())
        return {};
    // Each receive has the budget without progress; a reply, once it has begun to arrive,
    // has the budget as a whole as well, so a server that trickles a byte at a time cannot
    // hold the client for longer than about twice the budget.
    std::optional<std::chrono::steady_clock::time_point> deadline;
    std::vector<char> chunk(kControlChunk);
    for (;;) {
        IoResult received = control_ ? control_->receive(chunk.data(), chunk.size())
                                     : IoResult { IoResult::Status::Failed, 0, ENOTCONN };
        if (received.ok()) {
            if (!deadline)
                deadline = std::chrono::steady_clock::now() + budget_;
            replies_->append(std::string_view(chunk.data(), received.count));
        } else if (endSessionIfStopped()) {
            return {};
        } else {
            if (received.status == IoResult::Status::TimedOut)
                noteTimeout();
            reportLoss("Receive.recv returned: %d (%s)\n", received);
            addFailure();
            if (state_ != State::Disconnected)
                setState(State::Disconnected);
        }
        bool complete = drain();
        if (!complete && replies_->overflow() != ReplyReader::Overflow::None) {
            sink_->message("Error %s %d\n", overflowText(replies_->overflow()), EPROTO);
            failConnection();
            return {}; // a reply cut short must not pass for its first line's code
        }
        if (!complete && received.ok() && std::chrono::steady_clock::now() >= *deadline) {
            noteTimeout();
            reportLoss("Receive.recv returned: %d (%s)\n", IoResult { IoResult::Status::TimedOut, 0, ETIMEDOUT });
            failConnection();
            return {}; // a reply cut short must not pass for its first line's code
        }
        // A broken client waits for one chunk at most, so a dead server cannot hold it up.
        if (complete || isBroken())
            return last;
    }
}

void FtpClient::failConnection()
{
    // Nothing more can be read in step with the commands: the connection is given up as a
    // lost one, so the run stops sending.
    failureCount_ = std::max(failureCount_, kBrokenAfterFailures + 1);
    setState(State::Disconnected);
}

void FtpClient::reportLoss(const char* format, const IoResult& result)
{
    // The first failure says why; the ones that follow on the dead connection only repeat it.
    if (lossReported_)
        return;
    lossReported_ = true;
    const std::string cause = result.status == IoResult::Status::Closed ? std::string("connection closed by the server")
                                                                        : errorText(result.error);
    sink_->message(format, result.error, cause.c_str());
}

int FtpClient::readReplyCode()
{
    return replyCode(readReply());
}

int FtpClient::nameCommand(const char* format, const std::string& name)
{
    if (holdsLineBreakOrNul(name)) {
        sink_->message("Error %s %d\n", "command.name refused line break or NUL in name", EINVAL);
        return 0;
    }
    return command(format, name.c_str());
}

void FtpClient::quit()
{
    (void)sendRaw("bye\r\n", ReplyWait::DontWait);
    // Nothing more is read on this session; a stale answer must not meet a later command.
    closeControl();
}
