#pragma once

#include "session/remote_session.h"
#include "sftp/sftp_batch.h"
#include "sftp/sftp_watchdog.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct ssh_session_struct;
struct stat;
struct sftp_file_struct;
struct sftp_session_struct;

// One SFTP login: an SSH connection with its SFTP channel. Results carry code 0; systemError
// holds errno only for local failures. The transfer mode means nothing here: bytes travel
// unchanged.
//
// The site's root is the login folder: "/" names it, "/www/a.html" lies below it, and a name
// without a leading "/" is relative to currentDirectory(); ".." never leads above the root.
//
// One session is used by one thread at a time. It keeps one watchdog thread of its own
// (SftpWatchdog), which cuts the connection when a call makes no progress for `budget` or the
// stop signal rises; a session so cut, or lost, is broken and fails every later call at once.
class SftpSession final : public RemoteSession {
public:
    static constexpr int kDefaultPort = 22;

    enum class Link {
        Disconnected, // no connection yet, or quit()
        Ready, // logged in, SFTP channel open
        Broken, // lost, cut by the watchdog or stopped: only a new connect helps
    };

    explicit SftpSession(std::chrono::milliseconds budget = kDefaultBudget);
    // Returns promptly; a broken connection is not waited for.
    ~SftpSession() override;

    // The file in the data directory where host keys trusted with "tarnwick --trust-cert
    // sftp://HOST:PORT FINGERPRINT" are kept, beside the trusted certificates.
    [[nodiscard]] static std::string defaultTrustedHostKeysPath();

    // "sftp://host[:port]": login() with the key file set on the session. Host keys are
    // trusted beside the trusted certificates, wherever those are kept.
    ClientResult connect(const std::string& url, const std::string& user, const std::string& password) override;
    // Logs in; `port` <= 0 means 22. The host key must be in the user's known_hosts or in
    // Tarnwick's own store (an unknown or changed key answers GiveUpSite with the reason in
    // the transcript). A non-empty `password` logs in with it and nothing else; otherwise
    // `keyFile` (when given, first: a server may allow only a few attempts), the SSH agent
    // and the default keys of ~/.ssh are tried. A refused login answers GiveUpSite, an
    // unreachable server Reconnect.
    [[nodiscard]] ClientResult login(const std::string& host, int port, const std::string& user,
        const std::string& password, const std::string& keyFile = {});
    void quit() override;

    // The part replaces the live file only once the server confirmed every write and the
    // close. A missing remote folder is made once; the size is checked by the close.
    ClientResult upload(const std::string& remoteName, const std::string& localName,
        TransferMode mode = TransferMode::Image, int64_t expectedSize = -1) override;
    ClientResult uploadWithRetry(const std::string& remoteName, const std::string& localName,
        TransferMode mode = TransferMode::Image, int64_t expectedSize = -1) override;
    // An offset write into the part from the size it has.
    ClientResult resumeUpload(const std::string& remoteName, const std::string& localName) override;
    ClientResult download(
        const std::string& remoteName, const std::string& localName, TransferMode mode = TransferMode::Image) override;
    [[nodiscard]] bool sameSizeOnServer(const std::string& remoteName, const std::string& localName) override;
    // A link to a folder counts as a folder.
    [[nodiscard]] Listing listFolder(const std::string& path) override;
    ClientResult changeDirectory(const std::string& path) override;
    // "/" or "/a/b": login-relative; empty while not logged in.
    [[nodiscard]] std::string currentDirectory() override;
    // A folder that exists already counts as made.
    ClientResult makeDirectory(const std::string& path) override;
    ClientResult removeDirectory(const std::string& path) override;
    ClientResult deleteFile(const std::string& path) override;
    // Replaces an existing `to` where the server can do so in one step.
    ClientResult renameFile(
        const std::string& from, const std::string& to, MissingSource missing = MissingSource::IsAnError) override;
    // With atomic uploads and the server's replacing rename, the expected file's part is opened
    // while the current file's rename travels, when one write takes all of it.
    void expectUpload(const std::string& remoteName, const std::string& localName) override;
    [[nodiscard]] bool startsUploadsEarly() const override { return true; }
    // nullopt when it cannot be told (lastResult() says why) or `path` is no regular file.
    [[nodiscard]] std::optional<int64_t> remoteSize(const std::string& path);
    // Whether anything is at `path`; nullopt when the server cannot tell.
    [[nodiscard]] std::optional<bool> remoteFileExists(const std::string& path) override;
    // The outcome of the last call, for the calls that answer no ClientResult.
    [[nodiscard]] const ClientResult& lastResult() const { return lastResult_; }

    [[nodiscard]] State state() const override { return link_ == Link::Ready ? State::LoggedIn : State::Disconnected; }
    [[nodiscard]] Link link() const { return link_; }
    [[nodiscard]] bool isBroken() const override { return link_ == Link::Broken || stopped(); }
    [[nodiscard]] bool timedOut() const override { return timedOut_; }
    [[nodiscard]] bool isEncrypted() const override { return true; }

    // The SHA-256 fingerprint ("AB:CD:...") of the host key last seen, trusted or not.
    [[nodiscard]] std::string hostKeyFingerprint() const override { return hostKeyFingerprint_; }
    // The last connect was refused only because nobody trusted the host key yet (a changed
    // key is not such a case: it must never be trusted on the spot).
    [[nodiscard]] bool hostKeyUnknown() const override { return hostKeyUnknown_; }
    // The user's known_hosts unless set (tests).
    void setKnownHostsPath(std::string path) { knownHostsPath_ = std::move(path); }
    // defaultTrustedHostKeysPath() unless set.
    void setTrustedHostKeysPath(std::string path) { trustedHostKeysPath_ = std::move(path); }

    // Bytes per write and read request: large where the server is known to take them.
    [[nodiscard]] size_t chunkSize() const { return chunkSize_; }

private:
    class Call;

    // `localPath` is absolute. An uploaded file keeps its local times where the server lets it.
    [[nodiscard]] ClientResult put(const std::string& remotePath, const std::string& localPath, int64_t expectedSize);
    [[nodiscard]] ClientResult get(const std::string& remotePath, const std::string& localPath);
    // Opens `target` for writing, making the missing folders of `relative` once; nullptr
    // when that fails.
    [[nodiscard]] sftp_file_struct* openForWriting(const std::string& target, const std::string& relative);
    struct Written {
        std::optional<ClientResult> failure;
        int64_t bytes = 0;
        bool refused = false; // see writeFile
    };
    // Copies the open local file at `descriptor` into `remote`; `shown` names it in messages.
    // With `firstMayBeRefused`, a refusal of the first write on a working connection answers
    // `refused`, untold and without a failure.
    [[nodiscard]] Written writeFile(
        sftp_file_struct* remote, int descriptor, const std::string& shown, bool firstMayBeRefused = false);
    // The file at `descriptor` in one write, its times and the close in one round trip, into
    // `handle` or a part opened now. For files up to chunkSize().
    [[nodiscard]] Written sendWhole(const std::string& target, const std::string& relative, int descriptor,
        const struct stat& status, std::optional<std::string> handle, const std::string& shown);
    // Larger files, one confirmed write after another.
    [[nodiscard]] Written sendInChunks(
        const std::string& target, const std::string& relative, int descriptor, const std::string& shown);
    // The handle of `target` opened for writing, making the missing folders of `relative` once;
    // nullopt (lastResult() says why) when that fails.
    [[nodiscard]] std::optional<std::string> openPart(
        const std::string& target, const std::string& relative, const std::string& shown);
    // Sets the part's times where `times` asks, then runs `beforeReplace` and puts the part in
    // place, opening the expected next part on the way.
    [[nodiscard]] ClientResult publish(const std::string& partRelative, const std::string& relative,
        std::optional<SftpBatch::Times> times, const std::function<void()>& beforeReplace);
    // Adds the opening of the expected upload's part to `batch` (its answer's index in
    // `opened`) when that upload can use it.
    void openExpected(SftpBatch& batch, const std::string& current, std::optional<size_t>& opened);
    // The handle opened early for this upload, or nullopt; a part opened for another is
    // closed and removed.
    [[nodiscard]] std::optional<std::string> takeAhead(const std::string& relative, const std::string& localPath);
    void dropAhead();
    void noteTimesAnswer(const SftpBatch& batch, std::optional<size_t> index);
    // Sends `batch` and waits for its answers; false (the session broken) when that failed.
    [[nodiscard]] bool exchange(SftpBatch& batch);
    [[nodiscard]] ClientResult localFailure(int error);

    static constexpr int kAskLibrary = -1;
    // Why the last server call failed, as a result (the session broken when it is lost);
    // `answered` is the status the server gave a request sent by hand.
    [[nodiscard]] ClientResult serverFailure(const char* what, const std::string& path, int answered = kAskLibrary);
    // Success, or why no call can be made now.
    [[nodiscard]] ClientResult usable();
    struct Target {
        std::string relative; // login-relative, normal form
        std::string full; // on the server
    };
    // Where `path` lies, or nullopt (with lastResult_ set) when no call can be made for it.
    [[nodiscard]] std::optional<Target> target(const std::string& path);
    // One request about `path` that answers SSH_OK or fails, such as sftp_rmdir.
    [[nodiscard]] ClientResult request(
        const char* verb, const std::string& path, int (*call)(sftp_session_struct*, const char*));
    // Ends the connection: nothing more can be done on this site (the text says why).
    [[nodiscard]] ClientResult giveUp(const std::string& text);
    [[nodiscard]] ClientResult checkHostKey(const std::string& host, int port);
    [[nodiscard]] ClientResult authenticate(
        const std::string& user, const std::string& password, const std::string& keyFile);
    [[nodiscard]] ClientResult openSftp();
    // Connected, neither stopped nor cut by the watchdog.
    [[nodiscard]] bool alive();
    // Tells and answers true when `live` is a folder, which no file may replace.
    [[nodiscard]] bool refuseFolderAt(const std::string& live, const std::string& liveRelative);
    // Puts a complete part in place of `live` (see FtpClient::moveIntoPlace).
    // `renamed`: what the server answered a replacing rename already sent.
    [[nodiscard]] ClientResult moveIntoPlace(
        const std::string& part, const std::string& live, std::optional<int> renamed = std::nullopt);
    [[nodiscard]] ClientResult makeFolders(const std::string& relative);
    // Renames onto an existing name in one step where the server can; `shown` names the
    // file in messages.
    [[nodiscard]] ClientResult renameOnServer(const std::string& from, const std::string& to, const std::string& shown,
        MissingSource missing = MissingSource::IsAnError);
    // posix-rename@openssh.com; the status code the server answered, or -1 (the session is
    // then broken).
    [[nodiscard]] int posixRename(const std::string& from, const std::string& to);
    [[nodiscard]] bool isFolder(const std::string& serverPath);
    void transcript(const char* verb, const std::string& argument, const std::string& second = {});
    void setLink(Link link);
    void close();
    ClientResult remember(ClientResult result)
    {
        lastResult_ = result;
        return result;
    }
    void note(ClientResult result) { lastResult_ = result; }

    std::chrono::milliseconds budget_;
    SftpWatchdog watchdog_;
    ssh_session_struct* ssh_ = nullptr;
    sftp_session_struct* sftp_ = nullptr;
    Link link_ = Link::Disconnected;
    bool timedOut_ = false;
    // A batch's answers did not fit its requests (see SftpBatch::outOfStep).
    bool outOfStep_ = false;
    std::string loginFolder_; // absolute on the server
    std::string currentDirectory_ = "/";
    std::string hostKeyFingerprint_;
    bool hostKeyUnknown_ = false;
    std::string knownHostsPath_;
    std::string trustedHostKeysPath_;
    // The server renames onto an existing name in one step (posix-rename@openssh.com).
    bool replacingRename_ = false;
    size_t chunkSize_ = 32 * 1024;
    // Whether the server sets the times it is given; off after its first refusal.
    bool serverTimes_ = true;
    struct Expected {
        std::string remoteName;
        std::string localPath;
    };
    std::optional<Expected> expected_; // see expectUpload
    struct Ahead {
        std::string relative; // the live name, login-relative
        std::string localPath;
        std::string handle; // of its part, open for writing
    };
    std::optional<Ahead> ahead_;
    ClientResult lastResult_;
    int callDepth_ = 0; // see Call
};
