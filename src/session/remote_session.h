#pragma once

#include "session/client_result.h"
#include "session/ftp_event_sink.h"
#include "session/ftp_operation.h"
#include "session/peer_certificate.h"
#include "session/remote_entry.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class FtpClient;
class RateLimiter;
class StopSignal;

// The TYPE an FTP transfer asks for; other protocols always move the bytes unchanged.
enum class TransferMode : char {
    Image = 'I',
    Ascii = 'A',
};

// One login on a server, whatever protocol the site speaks: what a run, the compare, the
// browser, scripts and the connection test need of a server. SessionFactory makes the one a
// site's url asks for; FtpClient and SftpSession carry the calls out.
//
// Remote paths are plain paths (no quoting). A session is used by one thread at a time and
// answers failures as ClientResult (see client_result.h); calls that answer something else
// report a failure to the event sink and answer an empty or negative value.
class RemoteSession {
public:
    static constexpr std::chrono::milliseconds kDefaultBudget { 30000 };
    // The code of a transfer the client gave up on (a size that never agreed, a part that
    // could not be put in place, a local file that could not be read).
    static constexpr int kTransferNotCarriedOut = 5;

    enum class State {
        Disconnected, // no connection, or it was lost
        Connected, // greeted, not logged in (or no user name given)
        LoggedIn,
    };

    RemoteSession();
    virtual ~RemoteSession();
    RemoteSession(const RemoteSession&) = delete;
    RemoteSession& operator=(const RemoteSession&) = delete;

    // Connects and logs in to `url`, which must name this session's protocol (see
    // ServerAddress). A refused login or server identity answers GiveUpSite, a server that
    // cannot be reached Reconnect.
    virtual ClientResult connect(const std::string& url, const std::string& user, const std::string& password) = 0;
    // Ends the session without waiting for the server.
    virtual void quit() = 0;

    [[nodiscard]] virtual State state() const = 0;
    // Lost, stopped or failing too often: nothing more is sent or waited for.
    [[nodiscard]] virtual bool isBroken() const = 0;
    // A call went without progress for the budget; only a new session clears it.
    [[nodiscard]] virtual bool timedOut() const = 0;
    [[nodiscard]] virtual bool isEncrypted() const = 0;

    // The server's identity as last seen: a TLS certificate, or an SSH host key's SHA-256
    // fingerprint with whether nobody trusted it yet. Empty where the protocol has none.
    [[nodiscard]] virtual const PeerCertificate& serverCertificate() const;
    [[nodiscard]] virtual std::string hostKeyFingerprint() const { return {}; }
    [[nodiscard]] virtual bool hostKeyUnknown() const { return false; }
    // The file of trusted certificate fingerprints (the data directory's unless set); SSH
    // host keys are trusted in "trusted-host-keys.txt" beside it.
    void setTrustedCertificatesPath(std::string path) { trustedCertificatesPath_ = std::move(path); }
    [[nodiscard]] const std::string& trustedCertificatesPath() const { return trustedCertificatesPath_; }
    // SSH: the private key tried first when the password is empty (may be empty).
    void setKeyFile(std::string path) { keyFile_ = std::move(path); }

    // Every wait also ends once `signal` is raised, within milliseconds, even inside a stalled
    // transfer; every later call then fails. `signal` must outlive the session.
    void setStopSignal(const StopSignal* signal) { stopSignal_ = signal; }
    [[nodiscard]] bool stopped() const;
    // Installs `sink` for a job and answers the previous one so the owner can put it back;
    // nullptr installs a do-nothing sink. The sink must outlive its use.
    FtpEventSink* setEventSink(FtpEventSink* sink);
    [[nodiscard]] FtpEventSink& eventSink() const { return *sink_; }

    // Off unless set: uploads then write straight to the live name, as the interactive
    // commands expect. On: the file goes to uploadPartName() and replaces the live file only
    // once the server holds all of it; a folder is never replaced.
    void setAtomicUploads(bool on) { atomicUploads_ = on; }
    [[nodiscard]] bool atomicUploads() const { return atomicUploads_; }
    // A step for the next upload to take just before its file replaces the live one (the
    // run's archive move of the old version): with atomic uploads after the part is whole,
    // otherwise before the transfer. Dropped when that upload fails; forgotten after it.
    void setBeforeReplace(std::function<void()> step) { beforeReplace_ = std::move(step); }
    // More uploads follow on this session: a protocol that can prepare the next one early
    // may do so. Off unless set.
    virtual void setPassiveAhead(bool /*on*/) { }
    // The upload most likely asked for after the current one, so that a protocol that can
    // start it early may do so; nothing reaches the live name before that upload is asked
    // for. Empty names withdraw it; an upload of anything else drops what was started.
    virtual void expectUpload(const std::string& /*remoteName*/, const std::string& /*localName*/) { }
    // Whether expectUpload() saves anything on this session.
    [[nodiscard]] virtual bool startsUploadsEarly() const { return false; }

    // The site's upload rate cap, shared with its other connections; nullptr (the default)
    // sends as fast as the link allows.
    void setRateLimiter(std::shared_ptr<RateLimiter> limiter) { rateLimiter_ = std::move(limiter); }

    // Local names are relative to localDirectory() unless absolute. A download never
    // overwrites an existing local file and removes what it wrote when it fails.
    virtual ClientResult download(
        const std::string& remoteName, const std::string& localName, TransferMode mode = TransferMode::Image)
        = 0;
    // A failed send removes the part; a refused replacement answers kTransferNotCarriedOut.
    virtual ClientResult upload(const std::string& remoteName, const std::string& localName,
        TransferMode mode = TransferMode::Image, int64_t expectedSize = -1)
        = 0;
    // As upload(), making the remote folder when it is missing and checking the size the
    // server holds (sending again while it differs, where the options ask for the check).
    virtual ClientResult uploadWithRetry(const std::string& remoteName, const std::string& localName,
        TransferMode mode = TransferMode::Image, int64_t expectedSize = -1)
        = 0;
    // As uploadWithRetry() with atomic uploads, for a file whose part an earlier upload left on
    // the server while the local file stayed as it was: the part keeps what it holds and gets
    // only the rest. A part that cannot be continued (missing, larger than the file, or a
    // server that refuses to append) is replaced by a whole send. The part replaces the live
    // file only once its size agrees with the local file's.
    virtual ClientResult resumeUpload(const std::string& remoteName, const std::string& localName)
    {
        return uploadWithRetry(remoteName, localName);
    }
    // True when the sizes agree or cannot be compared.
    [[nodiscard]] virtual bool sameSizeOnServer(const std::string& remoteName, const std::string& localName) = 0;
    struct Listing {
        ClientResult result;
        // Without "." and ".."; entries the server describes in a form nobody can read are
        // left out. Empty when the folder could not be listed.
        std::vector<RemoteEntry> entries;
    };
    [[nodiscard]] virtual Listing listFolder(const std::string& path) = 0;
    // The entries alone, for callers to whom a folder that cannot be listed is an empty one.
    [[nodiscard]] std::vector<RemoteEntry> listEntries(const std::string& path) { return listFolder(path).entries; }

    virtual ClientResult changeDirectory(const std::string& path) = 0;
    // Creates missing parents; a folder that exists already may answer a failure.
    virtual ClientResult makeDirectory(const std::string& path) = 0;
    virtual ClientResult removeDirectory(const std::string& path) = 0;
    // Empty when the server does not say.
    [[nodiscard]] virtual std::string currentDirectory() = 0;
    virtual ClientResult deleteFile(const std::string& path) = 0;
    // Replaces an existing `to` where the protocol can.
    virtual ClientResult renameFile(
        const std::string& from, const std::string& to, MissingSource missing = MissingSource::IsAnError)
        = 0;
    // Whether the server holds `path`; nullopt when it cannot tell.
    [[nodiscard]] virtual std::optional<bool> remoteFileExists(const std::string& path) = 0;

    // Runs the batch in order, asking the sink's shouldStop before each step. Always 0.
    int runOperations(const std::vector<FtpOperation>& operations);

    // The session's own current local folder (never the process's); starts as the process's
    // working folder. Always ends with "/".
    [[nodiscard]] const std::string& localDirectory() const { return localDirectory_; }
    // False when `path` is not a folder.
    [[nodiscard]] bool setLocalDirectory(const std::string& path);
    // `name` made absolute against localDirectory().
    [[nodiscard]] std::string localPath(std::string_view name) const;

    // The FTP protocol itself (literal commands of scripts, text listings, TLS sessions);
    // nullptr for a session of another protocol.
    [[nodiscard]] virtual FtpClient* ftp() { return nullptr; }

protected:
    // The step set for the next upload, taken by it whatever becomes of it.
    [[nodiscard]] std::function<void()> takeBeforeReplace() { return std::exchange(beforeReplace_, {}); }
    [[nodiscard]] const std::string& keyFile() const { return keyFile_; }
    [[nodiscard]] const StopSignal* stopSignal() const { return stopSignal_; }
    [[nodiscard]] bool hasOwnSink() const { return sink_ != &defaultSink_; }
    // Waits until `bytes` more may go out under the rate cap (at once without one); false
    // when the session was stopped meanwhile.
    [[nodiscard]] bool paceUpload(size_t bytes) const;
    // How many bytes to send at a time, at most `largest`: less under a low cap.
    [[nodiscard]] size_t uploadBlock(size_t largest) const;

    FtpEventSink* sink_;

private:
    NullEventSink defaultSink_;
    const StopSignal* stopSignal_ = nullptr;
    bool atomicUploads_ = false;
    std::function<void()> beforeReplace_;
    std::shared_ptr<RateLimiter> rateLimiter_;
    std::string trustedCertificatesPath_; // empty: the data directory's
    std::string keyFile_;
    std::string localDirectory_;
};
