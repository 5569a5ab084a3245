#pragma once

#include "config/machine_options.h"
#include "ftp/tcp_stream.h"
#include "ftp/tls_stream.h"
#include "session/remote_session.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ByteStream;
class DataConnection;
class ReplyReader;

// What the server's FEAT answer offered, asked once after login.
struct ServerFeatures {
    bool size = false; // SIZE: the size check needs no data connection
    bool mlst = false; // MLST/MLSD: listings in a fixed, machine-readable format
    bool mfmt = false; // MFMT: an upload can keep the local file's modification time

    bool operator==(const ServerFeatures&) const = default;
};

enum class ReplyWait {
    Read,
    DontWait,
};

// The system's own FTP client: one control connection, passive or active data connections,
// FTPS. The literal commands of scripts (script/interpreter.h) reach the server through
// command() and sendRaw(), which only this session offers.
//
// One client is used by one thread at a time; it starts no threads of its own. Every
// blocking socket call has `budget` without progress before it fails: the socket is then
// closed, timedOut() turns true and the failure count grows. A reply that has begun to arrive
// has `budget` as a whole as well, and one beyond the ReplyReader limits fails the connection.
// Operations answer a ClientResult: its code is the FTP reply code (2xx success),
// kTransferNotCarriedOut, or 0 when no reply code applies; its failure says what to do next.
class FtpClient final : public RemoteSession {
public:
    // Above this many socket failures since connect, the client stops waiting for replies.
    static constexpr int kBrokenAfterFailures = 50;
    // Sends of one file while the size on the server disagrees.
    static constexpr int kUploadAttempts = 5;
    // TLS 1.3 tickets shareControlSession leaves for the client's own data connections.
    static constexpr size_t kTicketsKept = 1;

    // `options` must outlive the client; it is read at each upload (size checks).
    explicit FtpClient(const MachineOptions& options, std::chrono::milliseconds budget = kDefaultBudget);
    // Returns promptly: closes the control connection without a reply wait.
    ~FtpClient() override;

    // `url` is "host", "host:port" or "[v6-address]:port"; port 21 when none is given. A
    // leading "ftpes://" asks AUTH TLS before logging in (a refusal fails the connect, never
    // falls back to plain), "ftps://" speaks TLS from the first byte (port 990); both protect
    // every data connection. A certificate that does not verify is refused unless its
    // fingerprint is trusted for that server (see TrustedCertificates). An "sftp://" url is
    // refused (GiveUpSite): SessionFactory makes an SftpSession for it. An empty user connects without
    // logging in. A server that answers USER with 230 is logged in without PASS. Resets the
    // failure count (not the timed-out flag). A refused login or certificate gives up on the
    // site; a server that cannot be reached or drops the connection asks for a reconnect.
    ClientResult connect(const std::string& url, const std::string& user, const std::string& password) override;

    // The protocol itself, for scripts' literal commands and the client's own use.
    // Formats one command by printf rules, appends CR LF, sends it and answers the reply
    // code of the final reply line. A formatted command holding CR or LF is not sent (0).
    [[nodiscard]] int command(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Sends `text` unchanged (the caller supplies CR LF) and answers the final reply line,
    // or empty text when nothing was read.
    std::string sendRaw(const std::string& text, ReplyWait wait = ReplyWait::Read);
    // Sends each of `lines` (with their CR LF) in one write, telling the sink of each, and
    // waits for no reply: the caller reads one per line. False when nothing could be sent.
    bool sendTogether(const std::vector<std::string>& lines);
    // Says goodbye without waiting for an answer.
    void quit() override;

    [[nodiscard]] State state() const override { return state_; }
    [[nodiscard]] int failureCount() const { return failureCount_; }
    // A stopped client is broken too. Once stopped, the client says ABOR where it can and
    // closes its connections.
    [[nodiscard]] bool isBroken() const override;
    [[nodiscard]] bool timedOut() const override { return timedOut_; }
    // With its CR LF; a PASS command is kept as "PASS ****".
    [[nodiscard]] const std::string& lastCommand() const { return lastCommand_; }
    [[nodiscard]] const std::string& lastListing() const { return lastListing_; }
    void forgetListing() { lastListing_.clear(); }
    [[nodiscard]] const ServerFeatures& features() const { return features_; }
    // The certificate of the last TLS handshake on the control connection (empty otherwise).
    [[nodiscard]] const PeerCertificate& serverCertificate() const override { return certificate_; }
    [[nodiscard]] bool isEncrypted() const override { return controlTls_ != nullptr; }
    // Whether the TLS handshake of the control connection resumed an earlier session.
    [[nodiscard]] bool controlSessionReused() const { return controlTls_ && controlTls_->sessionReused(); }
    // A session for another client's control connection to this server (more connections of
    // one run) to resume, or an empty one, with what this client learned about the server's
    // data connections. Each call under TLS 1.3 gives a ticket of its own away, never one of
    // the last kTicketsKept this client keeps for its data connections, and none once the
    // server is known to require them. On this client's thread; the answer belongs to the
    // caller and may go to another thread.
    [[nodiscard]] TlsSession shareControlSession();
    // The next connect to `session.server()` offers `session` in its control handshake, once,
    // and takes over what the giver learned about that server's data connections. A server
    // that declines the session gets a full handshake; the certificate is judged either way.
    void setControlResumption(TlsSession session) { controlResumption_ = std::move(session); }
    // Whether this server refused a TLS 1.3 data connection that resumed no session; kept
    // across connects to the same server.
    [[nodiscard]] TlsResumption dataResumption() const { return dataResumption_; }
    // The passive request for the next upload goes out with the end of this one, and its
    // data connection is made while the rename travels, saving two round trips per file.
    // Plain passive connections only.
    void setPassiveAhead(bool on) override { passiveAhead_ = on; }

    ClientResult download(
        const std::string& remoteName, const std::string& localName, TransferMode mode = TransferMode::Image) override;
    // With atomic uploads on, the file goes to uploadPartName(remoteName) and is renamed onto
    // remoteName once complete; a failed send removes the part (as far as the server still
    // listens), and a refused rename answers kTransferNotCarriedOut. Success answers the
    // transfer's reply either way.
    ClientResult upload(const std::string& remoteName, const std::string& localName,
        TransferMode mode = TransferMode::Image, int64_t expectedSize = -1) override;
    // Creates the remote folder when the first attempt cannot be carried out, and (with
    // CheckFileSize, mode Image) re-sends up to kUploadAttempts times in all while the listed
    // size differs; a size that never agrees answers kTransferNotCarriedOut. Only the final
    // outcome is reported to the sink (onTransferFailed). Atomic uploads check the size of
    // the part and rename it only once it agrees.
    ClientResult uploadWithRetry(const std::string& remoteName, const std::string& localName,
        TransferMode mode = TransferMode::Image, int64_t expectedSize = -1) override;
    // REST and STOR from the size the part has, or APPE where the server refuses REST for
    // uploads; a server that refuses both gets the whole file.
    ClientResult resumeUpload(const std::string& remoteName, const std::string& localName) override;
    [[nodiscard]] bool sameSizeOnServer(const std::string& remoteName, const std::string& localName) override;
    // LIST with `argument` unchanged (may be empty); the text stays in lastListing().
    ClientResult list(const std::string& argument);
    // MLSD where the server offers it (LIST when it fails), else LIST. Lines the parsers do
    // not recognise produce no entry.
    [[nodiscard]] Listing listFolder(const std::string& path) override;

    ClientResult changeDirectory(const std::string& path) override;
    ClientResult makeDirectory(const std::string& path) override; // creates missing parents after a 550
    ClientResult removeDirectory(const std::string& path) override;
    // RNFR, then RNTO only when the server is ready for it.
    ClientResult rename(const std::string& oldName, const std::string& newName);
    [[nodiscard]] std::string currentDirectory() override; // empty when the reply holds no quoted path
    ClientResult deleteFile(const std::string& path) override;
    // RNFR and RNTO in one round trip: the RNTO reply (after a refused RNFR it renames nothing).
    ClientResult renameFile(
        const std::string& from, const std::string& to, MissingSource missing = MissingSource::IsAnError) override;
    // MLST, else SIZE, else the folder's listing.
    [[nodiscard]] std::optional<bool> remoteFileExists(const std::string& path) override;

    // Appends the lines of `path` (or, when it cannot be read, txt html htm asc csv).
    void loadAsciiExtensions(const std::string& path);
    [[nodiscard]] const std::vector<std::string>& asciiExtensions() const { return asciiExtensions_; }
    // 'A' when the extension of `localName` is in the ASCII list (ignoring case), else 'I'.
    // Transfers send it as TYPE unless the server already confirmed that type in this session.
    [[nodiscard]] char transferType(std::string_view localName) const;

    [[nodiscard]] FtpClient* ftp() override { return this; }

private:
    struct UploadAttempt {
        UploadAttempt(int replyCode = 0, bool failedLocally = false, bool wasStored = false, int error = 0)
            : code(replyCode)
            , localFailure(failedLocally)
            , stored(wasStored)
            , systemError(error)
        {
        }
        int code = 0;
        bool localFailure = false; // the local file could not be read: no point in retrying
        bool stored = false; // STOR was accepted: the server may hold (part of) a file
        int systemError = 0; // why the local file could not be read
        // What the SIZE sent with the transfer's end proved; nullopt: not asked or no answer
        // that tells.
        std::optional<bool> sizeAgrees;
    };
    // What `code` means for the caller, given the state the connection is left in.
    [[nodiscard]] ClientResult outcome(int code, int systemError = 0) const;
    // A refused login or protection: worth another try only when the connection was lost.
    [[nodiscard]] ClientResult refusal(int code) const;
    // Forgets the last connection, keeping what is known about `url`'s data connections.
    void startOver(const std::string& url, const std::string& user, const std::string& password);
    // USER and PASS on a greeted (and, with `tls`, protected) control connection.
    [[nodiscard]] ClientResult logIn(const std::string& user, const std::string& password, bool tls);
    // uploadWithRetry's reply code; `systemError` tells why a local file could not be read.
    [[nodiscard]] int uploadCode(const std::string& remoteName, const std::string& localName, TransferMode mode,
        int64_t expectedSize, int& systemError);
    // One send without telling the sink of a failure: the caller decides whether it was the last.
    // A send the server refused for want of session resumption goes once more (see
    // repeatForResumption).
    // With `askSize`, the size on the server is asked together with the transfer's end.
    [[nodiscard]] UploadAttempt uploadOnce(const std::string& remoteName, const std::string& localName,
        TransferMode mode, int64_t expectedSize, bool askSize);
    [[nodiscard]] UploadAttempt storeOnce(
        const std::string& remoteName, const std::string& localName, int64_t expectedSize, bool askSize);
    // Commands sent right behind a transfer's end, answered after its final reply.
    struct Trailer {
        bool size = false;
        bool time = false;
        bool passive = false;
        bool sent = false; // the write went out (with its lead line)
        [[nodiscard]] int count() const { return int(size) + int(time) + int(passive); }
    };
    // `modified`: the local file's time, for MFMT.
    // `lead` (a command with its CR LF, or empty) goes first in the same write; an empty
    // `target` asks neither size nor time. `passive`: the next EPSV may go along.
    [[nodiscard]] Trailer sendTrailer(
        const std::string& lead, const std::string& target, std::time_t modified, bool askSize, bool passive);
    // Reads the trailer's replies behind `transferCode` (the transfer's final reply) into
    // `attempt`. False when the server answered the trailer before the transfer: its answers
    // then prove nothing, `transferCode` is corrected, and the trailer waits for the
    // transfer's reply from then on.
    [[nodiscard]] bool readTrailer(
        const Trailer& trailer, int64_t sentBytes, int& transferCode, UploadAttempt& attempt);
    // Starts the data connection for `reply` (a 229) so that its handshake overlaps what follows.
    void connectAhead(const std::string& reply);
    struct Streamed {
        bool complete = false; // the end of the file was read and every byte went out
        int localError = 0; // why the file could not be read
        int64_t bytes = 0;
    };
    // Copies the open file at `descriptor` onto a data stream, telling the sink of each block
    // when `tellBytes`.
    [[nodiscard]] Streamed streamFile(int descriptor, ByteStream& stream, bool tellBytes);
    // A file changed while it was sent would leave the server holding the start of one version
    // and the end of another: the copy is marked incomplete, not to be published, and the next
    // run sends the file as it then is.
    void refuseIfChanged(Streamed& streamed, int descriptor, const struct stat& opened, const std::string& localName);
    struct Continued {
        enum class Outcome {
            Done, // the server confirmed the rest of the file
            Refused, // the server continues no upload: a whole send may still work
            Failed, // lost, stopped or unreadable: whatever reached the part stays for next time
        };
        Outcome outcome = Outcome::Failed;
        int systemError = 0;
    };
    // Sends the local file from `offset` on to the end of `part`.
    [[nodiscard]] Continued continueOnce(const std::string& part, const std::string& localName, int64_t offset);
    // The size SIZE gives for `part`; nullopt when the server cannot say.
    [[nodiscard]] std::optional<int64_t> partSize(const std::string& part);
    struct DownloadAttempt {
        ClientResult result;
        bool failed = false; // for the sink's onTransferFailed
    };
    [[nodiscard]] DownloadAttempt retrieveOnce(const std::string& remoteName, const std::string& localName);

    // Renames a completely sent part onto `remoteName`, after `beforeReplace` (may be empty);
    // a server that refuses to rename onto an existing name gets the old file moved aside
    // first and back again when the part cannot follow. False when the part could not be put
    // in place (it is then removed).
    [[nodiscard]] bool moveIntoPlace(
        const std::string& part, const std::string& remoteName, const std::function<void()>& beforeReplace);
    struct RenameReplies {
        int from = 0;
        int to = 0;
    };
    // RNFR and RNTO sent together (see renameApartOnly_), with both replies; 0 for one that
    // never came.
    [[nodiscard]] RenameReplies renameTogether(const std::string& from, const std::string& to);
    // RNFR then RNTO: the RNTO reply, or the refused RNFR reply (never a 2xx one).
    [[nodiscard]] int renameOnServer(const std::string& from, const std::string& to);
    // Best effort: a dead connection is not asked again.
    void discardPart(const std::string& part);

    void setState(State state);
    void addFailure();
    // A blocking call used up its budget: the stream is closed already.
    void noteTimeout();
    void closeControl();
    // A reply broke a limit or its deadline: the connection is closed and the client broken.
    void failConnection();
    // Once a stop was raised: ends the session at once (ABOR on a plain control connection
    // tells the server to drop a transfer in progress). True when stopped.
    bool endSessionIfStopped();
    [[nodiscard]] int stopDescriptor() const;
    // Reports a failure of the control connection (`format` takes the code and its text),
    // once per connection.
    void reportLoss(const char* format, const IoResult& result);
    // Tells the sink in words why the connection or the login to the site failed, before the
    // technical line.
    void explain(const std::string& text) const;
    // Reads until the final line of a reply (every line goes to onLine, made printable);
    // answers that line, or the last line seen when the connection fails (empty when none,
    // and when the reply broke a ReplyReader limit or outlasted the budget).
    [[nodiscard]] std::string readReply(std::vector<std::string>* lines = nullptr);
    void askFeatures();
    // Turns the control connection into TLS and judges the certificate.
    [[nodiscard]] bool startTls(const std::string& host, const std::string& hostAndPort);
    [[nodiscard]] bool protectDataConnections();
    // Runs `verb` (LIST or MLSD) over a data connection into lastListing().
    [[nodiscard]] int receiveListing(const char* verb, const std::string& argument);
    [[nodiscard]] int listOnce(const char* verb, const std::string& argument);
    // The final reply to a transfer command, kept for repeatForResumption.
    [[nodiscard]] int transferReply();
    // After a transfer over a protected data connection: learns from one that resumed no TLS
    // 1.3 session whether the server minds. True when the server refused it for that reason;
    // the caller then repeats the transfer once, with a fresh ticket from a new login.
    [[nodiscard]] bool repeatForResumption();
    // Runs one transfer attempt, and once more when the server refused it for want of TLS
    // resumption: the refusal is no failure of the connection.
    template <typename Attempt> [[nodiscard]] auto onceMoreIfResumptionRequired(Attempt attempt)
    {
        const int failures = failureCount_;
        auto result = attempt();
        if (repeatForResumption()) {
            failureCount_ = failures;
            result = attempt();
        }
        return result;
    }
    // TYPE I unless the server already confirmed it: SIZE counts bytes as sent in the type in
    // force, and some servers refuse SIZE in ASCII type.
    void ensureBinaryType();
    [[nodiscard]] std::vector<RemoteEntry> entriesFromList();
    [[nodiscard]] std::vector<RemoteEntry> entriesFromMlsd();
    [[nodiscard]] int readReplyCode();
    // command(format, name) for a name from outside: one holding NUL, CR or LF is refused (0)
    // rather than cut short or split into two commands.
    [[nodiscard]] int nameCommand(const char* format, const std::string& name);
    void sendType(std::string_view localName);
    [[nodiscard]] std::unique_ptr<DataConnection> openDataConnection();
    // Whether `path` is known to be a regular file on the server (a folder, or a name the
    // server cannot tell about, is not); FTP only, SFTP checks for itself.
    [[nodiscard]] bool isRemoteFile(const std::string& path);
    // Logs in again when a TLS 1.3 data connection would have no unused ticket to resume
    // with on a server that requires one; false when that fails.
    [[nodiscard]] bool ensureResumableSession();
    [[nodiscard]] std::unique_ptr<DataConnection> openPassiveConnection();
    [[nodiscard]] std::unique_ptr<DataConnection> openActiveConnection();
    // Accepts or connects the data stream, reporting failures under `where`.
    [[nodiscard]] std::unique_ptr<ByteStream> establishData(DataConnection& connection, const char* where);

    const MachineOptions& options_;
    std::chrono::milliseconds budget_;
    std::unique_ptr<ByteStream> control_;
    std::unique_ptr<ReplyReader> replies_;
    State state_ = State::Disconnected;
    bool timedOut_ = false;
    bool lossReported_ = false;
    int failureCount_ = 0;
    std::string host_;
    std::string user_;
    std::string password_; // kept for logging in again when the TLS tickets are used up
    std::string lastCommand_;
    // The refusal (a 4xx or 5xx reply line, made printable) that answered the last command;
    // outcome() hands it to the caller with a failure.
    std::string lastRefusal_;
    std::string lastListing_;
    std::vector<std::string> asciiExtensions_;
    // The TYPE the server confirmed in this session (0: unknown). Repeating it would cost a
    // round trip per file.
    char typeInEffect_ = 0;
    // The server refused EPSV in this session: PASV from then on.
    bool epsvRefused_ = false;
    bool passiveAhead_ = false;
    // A data connection to the port of an EPSV sent ahead (see setPassiveAhead), its handshake
    // possibly still under way; not yet used.
    std::unique_ptr<TcpStream> dataAhead_;
    // The server answered an RNTO sent right behind its RNFR as if the RNFR were missing.
    bool renameApartOnly_ = false;
    // When the trailer may go out. A server that answers commands while a transfer still runs
    // gets it only once the transfer's reply is in: there an early EPSV would even cut the
    // transfer short. Until a small upload showed the server answering in order, an early
    // trailer carries no EPSV.
    enum class TrailerTiming { Unknown, Early, Late };
    TrailerTiming trailerTiming_ = TrailerTiming::Unknown;
    ServerFeatures features_;
    std::shared_ptr<TlsContext> tlsContext_;
    TlsStream* controlTls_ = nullptr; // control_ itself when it is encrypted
    bool protectData_ = false;
    std::string tlsHost_;
    TlsSession controlResumption_; // see setControlResumption
    TlsResumption dataResumption_ = TlsResumption::Unknown; // see dataResumption
    // The last data connection: it resumed no TLS 1.3 session; its handshake failed; the reply
    // that ended its transfer. Read and cleared by repeatForResumption.
    bool dataUnresumed_ = false;
    bool dataHandshakeFailed_ = false;
    int dataReply_ = 0;
    PeerCertificate certificate_;
};
