#include "ftp/byte_stream.h"
#include "ftp/data_connection.h"
#include "ftp/ftp_client.h"
#include "ftp/listing_parser.h"
#include "ftp/mlsd_parser.h"
#include "ftp/passive_reply.h"
#include "ftp/reply_reader.h"
#include "platform/file_descriptor.h"
#include "platform/file_utils.h"
#include "session/login_path.h"
#include "session/upload_names.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// Big enough that loopback and LAN transfers are not bound by system calls.
constexpr size_t kTransferBlock = 256 * 1024;
// Files up to this size are sent before the server confirms the STOR.
constexpr off_t kBytesAhead = 64 * 1024;
// A listing larger than this is cut: no real folder comes near it, and a hostile server
// must not exhaust memory.
constexpr size_t kMaxListing = 64 * 1024 * 1024;

bool holdsUnsafeByte(std::string_view name)
{
    return name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A name that can get a hidden sibling: not a folder path, nor "." or "..".
bool sendsThroughPart(std::string_view remoteName)
{
    size_t slash = remoteName.rfind('/');
    std::string_view name = slash == std::string_view::npos ? remoteName : remoteName.substr(slash + 1);
    return !name.empty() && name != "." && name != "..";
}

// The number of a 213 reply to SIZE; nullopt for any other reply.
std::optional<int64_t> listedSize(std::string_view reply)
{
    if (replyCode(reply) != 213)
        return std::nullopt;
    std::string_view number = reply.substr(std::min<size_t>(4, reply.size()));
    int64_t listed = 0;
    size_t digits = 0;
    while (digits < number.size() && digits < 18 && number[digits] >= '0' && number[digits] <= '9')
        listed = listed * 10 + (number[digits++] - '0');
    if (digits == 0)
        return std::nullopt;
    return listed;
}

} // namespace

char FtpClient::transferType(std::string_view localName) const
{
    std::string name = fileNamePart(localName);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return 'I';
    std::string extension = name.substr(dot + 1);
    for (const std::string& ascii : asciiExtensions_) {
        if (strcasecmp(ascii.c_str(), extension.c_str()) == 0)
            return 'A';
    }
    return 'I';
}

void FtpClient::sendType(std::string_view localName)
{
    char type = transferType(localName);
    if (type == typeInEffect_)
        return;
    bool confirmed = command("TYPE %c", type) / 100 == 2;
    typeInEffect_ = confirmed ? type : 0;
}

void FtpClient::loadAsciiExtensions(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        for (const char* extension : { "txt", "html", "htm", "asc", "csv" })
            asciiExtensions_.emplace_back(extension);
        return;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        asciiExtensions_.push_back(line);
    }
}

ClientResult FtpClient::download(const std::string& remoteName, const std::string& localName, TransferMode /*mode*/)
{
    if (holdsUnsafeByte(remoteName) || holdsUnsafeByte(localName) || localName.empty() || hasParentStep(localName)) {
        sink_->message("Error %s %d\n", "receive.name refused unsafe file name", EINVAL);
        sink_->onTransferFailed(localName);
        return outcome(kTransferNotCarriedOut, EINVAL);
    }
    sendType(localName);
    const DownloadAttempt attempt = onceMoreIfResumptionRequired([&] { return retrieveOnce(remoteName, localName); });
    if (attempt.failed)
        sink_->onTransferFailed(localName);
    return attempt.result;
}

FtpClient::DownloadAttempt FtpClient::retrieveOnce(const std::string& remoteName, const std::string& localName)
{
    const std::string path = localPath(localName);
    // Created before RETR: a name that exists already (or cannot be made) costs no transfer,
    // and an existing file is never touched.
    FileDescriptor file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (file.get() < 0) {
        const int error = errno;
        sink_->message("File Error %x\n", static_cast<unsigned>(error));
        return { outcome(kTransferNotCarriedOut, error), true };
    }
    auto discard = [&] {
        file.closeNow();
        unlink(path.c_str());
    };

    std::unique_ptr<DataConnection> connection = openDataConnection();
    if (!connection) {
        discard();
        return { outcome(kTransferNotCarriedOut), true };
    }
    if (command("RETR %s", remoteName.c_str()) / 100 != 1) {
        discard();
        return { outcome(0), true };
    }
    std::unique_ptr<ByteStream> stream = establishData(*connection, "receive.accept");
    connection.reset();
    if (!stream) {
        discard();
        return { outcome(kTransferNotCarriedOut), true };
    }

    sink_->onDownloadBegins(localName, 0);
    std::vector<char> block(kTransferBlock);
    int64_t total = 0;
    bool complete = false;
    int localError = 0;
    for (;;) {
        IoResult received = stream->receive(block.data(), block.size());
        if (received.status == IoResult::Status::Closed) {
            complete = true;
            break;
        }
        if (!received.ok()) {
            if (received.status == IoResult::Status::TimedOut)
                noteTimeout();
            break;
        }
        sink_->onBytes(static_cast<int64_t>(received.count));
        if (!writeAll(file.get(), block.data(), received.count)) {
            localError = errno;
            sink_->message("File Error %x\n", static_cast<unsigned>(localError));
            break;
        }
        total += static_cast<int64_t>(received.count);
    }
    sink_->message("Received %lld Bytes\n", static_cast<long long>(total));
    if (!file.closeNow()) {
        localError = errno;
        sink_->message("File Error %x\n", static_cast<unsigned>(localError));
        complete = false;
    }
    stream.reset();

    int reply = transferReply();
    if (!complete || reply / 100 != 2) {
        // A partial file would pass for the real thing on the next run.
        unlink(path.c_str());
        if (!complete)
            return { outcome(kTransferNotCarriedOut, localError), true };
    }
    return { outcome(reply), false };
}

ClientResult FtpClient::upload(
    const std::string& remoteName, const std::string& localName, TransferMode mode, int64_t expectedSize)
{
    const bool atomic = atomicUploads() && sendsThroughPart(remoteName);
    const std::string target = atomic ? uploadPartName(remoteName) : remoteName;
    // Taken by this upload whatever becomes of it: a later one must not run it.
    const std::function<void()> beforeReplace = takeBeforeReplace();
    if (!atomic && beforeReplace)
        beforeReplace();
    UploadAttempt attempt = uploadOnce(target, localName, mode, expectedSize, false);
    int code = attempt.code;
    if (atomic) {
        if (code / 100 == 2 && !moveIntoPlace(target, remoteName, beforeReplace))
            code = kTransferNotCarriedOut;
        else if (code / 100 != 2 && attempt.stored)
            discardPart(target);
    }
    if (code == kTransferNotCarriedOut)
        sink_->onTransferFailed(localName);
    return outcome(code, attempt.systemError);
}

int FtpClient::renameOnServer(const std::string& from, const std::string& to)
{
    int code = nameCommand("RNFR %s", from);
    if (code != 350)
        return code / 100 == 2 ? 0 : code;
    return nameCommand("RNTO %s", to);
}

ClientResult FtpClient::renameFile(const std::string& from, const std::string& to, MissingSource /*missing*/)
{
    // An FTP server's 550 is a reply line of its own, never an error line of ours.
    return outcome(renameTogether(from, to).to);
}

FtpClient::RenameReplies FtpClient::renameTogether(const std::string& from, const std::string& to)
{
    if (holdsUnsafeByte(from) || holdsUnsafeByte(to)) {
        sink_->message("Error %s %d\n", "command.name refused line break or NUL in name", EINVAL);
        return { 0, 0 };
    }
    // Both lines in one go: the rename costs one round trip instead of two. A refused RNFR
    // gets its RNTO answered with 503, which changes nothing.
    if (!renameApartOnly_) {
        const bool passiveAhead = passiveAhead_ && options_.passive && !protectData_ && !epsvRefused_ && !dataAhead_;
        std::vector<std::string> lines = { "RNFR " + from + "\r\n", "RNTO " + to + "\r\n" };
        if (passiveAhead)
            lines.emplace_back("EPSV\r\n");
        (void)sendTogether(lines);
        RenameReplies replies { readReplyCode(), 0 };
        replies.to = replies.from != 0 ? readReplyCode() : 0;
        if (passiveAhead && replies.to != 0)
            connectAhead(readReply());
        // A server that lost the RNTO it received too early is asked once more, one line at a
        // time, and from then on.
        if (replies.from != 350 || replies.to != 503)
            return replies;
        renameApartOnly_ = true;
    }
    RenameReplies replies { nameCommand("RNFR %s", from), 0 };
    replies.to = nameCommand("RNTO %s", to);
    return replies;
}

void FtpClient::discardPart(const std::string& part)
{
    if (state_ == State::Disconnected || isBroken() || timedOut_)
        return;
    // The refusal that made the part useless is the one worth telling.
    std::string refusal = std::move(lastRefusal_);
    (void)nameCommand("DELE %s", part);
    lastRefusal_ = std::move(refusal);
}

bool FtpClient::moveIntoPlace(
    const std::string& part, const std::string& remoteName, const std::function<void()>& beforeReplace)
{
    const auto failed = [&] {
        discardPart(part);
        return false;
    };
    if (beforeReplace)
        beforeReplace();
    const auto [from, to] = renameTogether(part, remoteName);
    if (from != 350) {
        // Sending straight to the live name instead would bring back the truncated files
        // this avoids; the user has to choose that for the site.
        if (from != 0)
            sink_->message("Error %s %s (RNFR answered %d); if the server cannot rename files, set atomic=0 for "
                           "this site\n",
                "the server refused to rename the uploaded", part.c_str(), from);
        return failed();
    }
    if (to / 100 == 2)
        return true;
    if (to < 400 || state_ == State::Disconnected || isBroken())
        return failed();

    // Some servers refuse to rename onto an existing name. The old file steps aside for the
    // moment the second rename takes, and comes back if the part cannot follow: the live
    // name holds the old or the new file, never a part.
    const std::string old = uploadOldName(remoteName);
    const auto refused = [&](int code) {
        sink_->message("Error %s %s (RNTO answered %d)\n", "the server refused to replace", remoteName.c_str(), code);
        return failed();
    };
    // A folder of that name would step aside with all its pages, and the site would lose them.
    if (!isRemoteFile(remoteName)) {
        sink_->message("Error %s is a folder on the server (or not known to be a file): a file cannot take its "
                       "place\n",
            remoteName.c_str());
        return failed();
    }
    // Without a live file to take, the refusal had another cause.
    if (nameCommand("RNFR %s", remoteName) != 350)
        return refused(to);
    int aside = nameCommand("RNTO %s", old);
    if (aside >= 400 && state_ != State::Disconnected && !isBroken()) {
        // The old name is taken by what a killed run left; while the live name holds a file,
        // that copy is stale.
        (void)nameCommand("DELE %s", old);
        aside = renameOnServer(remoteName, old);
    }
    if (aside / 100 != 2)
        return refused(to);
    int placed = renameOnServer(part, remoteName);
    if (placed / 100 == 2) {
        (void)nameCommand("DELE %s", old);
        return true;
    }
    if (renameOnServer(old, remoteName) / 100 != 2)
        sink_->message("Error %s %s is kept as %s\n", "could not move the previous version back:", remoteName.c_str(),
            old.c_str());
    else
        sink_->message("Error %s %s (RNTO answered %d)\n", "the server refused to replace", remoteName.c_str(), placed);
    return failed();
}

FtpClient::UploadAttempt FtpClient::uploadOnce(const std::string& remoteName, const std::string& localName,
    TransferMode /*mode*/, int64_t expectedSize, bool askSize)
{
    return onceMoreIfResumptionRequired([&] { return storeOnce(remoteName, localName, expectedSize, askSize); });
}

void FtpClient::connectAhead(const std::string& reply)
{
    const int code = replyCode(reply);
    if (code / 100 == 5)
        epsvRefused_ = true;
    const std::optional<PassiveReply> target = code == 229 ? PassiveReply::parseEpsv(reply) : std::nullopt;
    const std::optional<SocketAddress> peer = control_ ? control_->peerAddress() : std::nullopt;
    if (!target || !peer)
        return;
    // A failure here is met again, and told, when the connection is wanted.
    TcpStream::Connected started = TcpStream::startConnect(*peer, target->port, budget_, stopDescriptor());
    dataAhead_ = std::move(started.stream);
}

FtpClient::Trailer FtpClient::sendTrailer(
    const std::string& lead, const std::string& target, std::time_t modified, bool askSize, bool passive)
{
    Trailer trailer;
    std::vector<std::string> lines;
    if (!lead.empty())
        lines.push_back(lead);
    // SIZE counts bytes as sent only in binary type; without it the check asks on its own.
    if (askSize && features_.size && typeInEffect_ == 'I') {
        trailer.size = true;
        lines.push_back("SIZE " + target + "\r\n");
    }
    struct tm parts { };
    char stamp[32] = {};
    if (features_.mfmt && !target.empty() && modified > 0 && gmtime_r(&modified, &parts)
        && strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &parts) == 14) {
        // Set on the part: a rename keeps it, so the live name never shows the upload's time.
        trailer.time = true;
        lines.push_back(std::string("MFMT ") + stamp + " " + target + "\r\n");
    }
    // Alone, the EPSV would cost a round trip that the rename carries for nothing.
    const bool worthAWrite = !lead.empty() || trailer.size || trailer.time;
    if (worthAWrite && passive && passiveAhead_ && options_.passive && !protectData_ && !epsvRefused_ && !dataAhead_) {
        trailer.passive = true;
        lines.emplace_back("EPSV\r\n");
    }
    if (lines.empty() || !sendTogether(lines))
        return {};
    trailer.sent = true;
    return trailer;
}

bool FtpClient::readTrailer(const Trailer& trailer, int64_t sentBytes, int& transferCode, UploadAttempt& attempt)
{
    if (trailer.count() == 0)
        return true;
    // A server that reads commands while it still receives (pyftpdlib always, proftpd when
    // busy) answers the trailer before the transfer, and may set the time before the last
    // bytes land. Then nothing is proven by position: the transfer's reply is the completion
    // no trailer command gives, and a refused MFMT ahead of it is no refused transfer.
    const auto trailerAnswer = [](int code) { return code == 213 || code == 229; };
    if (transferCode / 100 != 2 || trailerAnswer(transferCode)) {
        std::vector<int> codes { transferCode };
        for (int left = trailer.count(); left > 0 && state_ != State::Disconnected; --left)
            codes.push_back(readReplyCode());
        const auto completion
            = std::find_if(codes.begin(), codes.end(), [](int code) { return code == 226 || code == 250; });
        if (completion != codes.end()) {
            trailerTiming_ = TrailerTiming::Late;
            transferCode = *completion;
        } else if (trailerAnswer(transferCode)) {
            const auto failure = std::find_if_not(codes.begin(), codes.end(), trailerAnswer);
            transferCode = failure != codes.end() ? *failure : 0;
        }
        return false;
    }
    if (trailer.size && state_ != State::Disconnected) {
        const std::string reply = readReply();
        const int code = replyCode(reply);
        if (code == 213) {
            const std::optional<int64_t> listed = listedSize(reply);
            attempt.sizeAgrees = listed && *listed == sentBytes;
        } else if (code == 550) {
            attempt.sizeAgrees = false;
        }
    }
    if (trailer.time && state_ != State::Disconnected) {
        // A server that lists MFMT but does not know it after all is not asked again.
        const int code = readReplyCode();
        if (code == 500 || code == 502)
            features_.mfmt = false;
    }
    if (trailer.passive && state_ != State::Disconnected)
        connectAhead(readReply());
    return true;
}

void FtpClient::refuseIfChanged(
    Streamed& streamed, int descriptor, const struct stat& opened, const std::string& localName)
{
    if (!streamed.complete || !changedSinceOpened(descriptor, opened))
        return;
    sink_->message(
        "Error %s changed while it was being sent: not published, the next run sends it\n", localName.c_str());
    streamed.complete = false;
    streamed.localError = EAGAIN;
}

FtpClient::Streamed FtpClient::streamFile(int descriptor, ByteStream& stream, bool tellBytes)
{
    Streamed streamed;
    std::vector<char> block(uploadBlock(kTransferBlock));
    for (;;) {
        const ssize_t count = read(descriptor, block.data(), block.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count == 0) {
            streamed.complete = true;
            return streamed;
        }
        if (count < 0) {
            streamed.localError = errno;
            sink_->message("File Error %x\n", static_cast<unsigned>(streamed.localError));
            return streamed;
        }
        if (!paceUpload(static_cast<size_t>(count)))
            return streamed;
        const IoResult sent = stream.sendAll(block.data(), static_cast<size_t>(count));
        if (!sent.ok()) {
            if (sent.status == IoResult::Status::TimedOut)
                noteTimeout();
            return streamed;
        }
        streamed.bytes += count;
        if (tellBytes)
            sink_->onBytes(count);
    }
}

FtpClient::UploadAttempt FtpClient::storeOnce(
    const std::string& remoteName, const std::string& localName, int64_t expectedSize, bool askSize)
{
    if (holdsUnsafeByte(remoteName) || holdsUnsafeByte(localName) || localName.empty()) {
        sink_->message("Error %s %d\n", "send.name refused unsafe file name", EINVAL);
        return { kTransferNotCarriedOut, true, false, EINVAL };
    }
    sendType(localName);

    struct stat status { };
    FileDescriptor file = openRegularFile(localPath(localName), status);
    if (file.get() < 0) {
        const int error = errno;
        sink_->message("File Error %x\n", static_cast<unsigned>(error));
        return { kTransferNotCarriedOut, true, false, error };
    }

    std::unique_ptr<DataConnection> connection = openDataConnection();
    if (!connection) {
        return { kTransferNotCarriedOut, false };
    }
    // Over a passive connection that already stands, a small file goes out right behind its
    // STOR instead of one round trip later, after the 150: it fits the socket buffers even
    // when the server refuses the STOR and never reads it.
    const bool ahead = options_.passive && !protectData_ && status.st_size <= kBytesAhead;
    // The trailer travels in the STOR's own write, ahead of the bytes: a server that answers
    // it only after the transfer's reply evidently takes one command at a time.
    Trailer trailer;
    if (ahead) {
        const bool early = trailerTiming_ != TrailerTiming::Late;
        trailer = sendTrailer("STOR " + remoteName + "\r\n", early ? remoteName : std::string(), status.st_mtime,
            early && askSize, trailerTiming_ == TrailerTiming::Early);
        if (!trailer.sent)
            return { kTransferNotCarriedOut, false };
    } else if (command("STOR %s", remoteName.c_str()) / 100 != 1) {
        return { kTransferNotCarriedOut, false };
    }
    std::unique_ptr<ByteStream> stream = establishData(*connection, "receive.accept");
    connection.reset();
    if (!stream) {
        // The trailer's answers follow the STOR's refusal; left unread, they would be taken
        // for the replies to the next commands.
        for (int left = trailer.count(); left > 0 && state_ != State::Disconnected; --left)
            (void)readReplyCode();
        return { kTransferNotCarriedOut, false, true };
    }

    const auto begins = [&] {
        sink_->onUploadBegins(localName, expectedSize);
        sink_->onFileSize(static_cast<int64_t>(status.st_size));
    };
    if (!ahead)
        begins();
    // Sent ahead, the bytes are told only once the server has taken the STOR.
    Streamed streamed = streamFile(file.get(), *stream, !ahead);
    stream.reset();
    sink_->onDetail(FtpEventSink::format("data connection closed after %lld of %lld bytes",
        static_cast<long long>(streamed.bytes), static_cast<long long>(status.st_size)));
    refuseIfChanged(streamed, file.get(), status, localName);
    const bool complete = streamed.complete;
    const int localError = streamed.localError;
    const int64_t sentAhead = ahead ? streamed.bytes : 0;
    file.closeNow();
    // Sent before the transfer's reply is in, the trailer costs no round trip of its own
    // where the server answers in order.
    if (!ahead && complete && trailerTiming_ != TrailerTiming::Late)
        trailer = sendTrailer({}, remoteName, status.st_mtime, askSize, trailerTiming_ == TrailerTiming::Early);

    int reply = transferReply();
    if (ahead) {
        // Only now is it known whether the server took the file at all.
        if (reply / 100 == 1) {
            begins();
            if (sentAhead > 0)
                sink_->onBytes(sentAhead);
            reply = transferReply();
        } else if (reply / 100 != 2 && reply != 213 && reply != 229) {
            UploadAttempt refused { kTransferNotCarriedOut, false, false };
            (void)readTrailer(trailer, streamed.bytes, reply, refused);
            refused.sizeAgrees.reset();
            return refused;
        }
    }
    UploadAttempt attempt { reply, false, true };
    const bool inOrder = readTrailer(trailer, streamed.bytes, reply, attempt);
    if (ahead && inOrder && trailer.count() > 0 && trailerTiming_ == TrailerTiming::Unknown)
        trailerTiming_ = TrailerTiming::Early;
    // Only a whole file is worth a size check or its time.
    if (complete && reply / 100 == 2 && (trailer.count() == 0 || !inOrder)) {
        attempt.sizeAgrees.reset();
        (void)readTrailer(sendTrailer({}, remoteName, status.st_mtime, askSize, true), streamed.bytes, reply, attempt);
    }
    attempt.code = reply;
    // The server cannot tell a cut-off stream from the end of the file, so its 226 proves
    // nothing here.
    if (!complete)
        return { kTransferNotCarriedOut, localError != 0, true, localError };
    return attempt;
}

ClientResult FtpClient::uploadWithRetry(
    const std::string& remoteName, const std::string& localName, TransferMode mode, int64_t expectedSize)
{
    // SFTP makes the folder and checks the size on its own.
    int systemError = 0;
    const int code = uploadCode(remoteName, localName, mode, expectedSize, systemError);
    return outcome(code, systemError);
}

int FtpClient::uploadCode(const std::string& remoteName, const std::string& localName, TransferMode mode,
    int64_t expectedSize, int& systemError)
{
    // Only the outcome of the last attempt reaches the sink: a file that arrives after the
    // folder was made, or on a second send, has not failed.
    // Every attempt goes to the same part name, so a re-send replaces the part that failed
    // the size check, and the live name changes only once.
    const bool atomic = atomicUploads() && sendsThroughPart(remoteName);
    const std::string target = atomic ? uploadPartName(remoteName) : remoteName;
    // Taken by this upload whatever becomes of it: a later one must not run it.
    const std::function<void()> beforeReplace = takeBeforeReplace();
    if (!atomic && beforeReplace)
        beforeReplace();
    bool partMayExist = false;
    const auto failed = [&] {
        if (partMayExist)
            discardPart(target);
        sink_->onTransferFailed(localName);
        return kTransferNotCarriedOut;
    };
    for (int attempt = 1;; ++attempt) {
        const bool askSize = options_.checkFileSize && mode != TransferMode::Ascii;
        UploadAttempt result = uploadOnce(target, localName, mode, expectedSize, askSize);
        systemError = result.systemError;
        partMayExist = partMayExist || (atomic && result.stored);
        if (result.code == kTransferNotCarriedOut && !result.localFailure && !isBroken()) {
            std::string folder = directoryPart(remoteName);
            if (!folder.empty())
                (void)makeDirectory(folder);
            result = uploadOnce(target, localName, mode, expectedSize, askSize);
            partMayExist = partMayExist || (atomic && result.stored);
        }
        if (result.code == kTransferNotCarriedOut)
            return failed();
        if (result.code / 100 != 2) {
            if (partMayExist)
                discardPart(target);
            sink_->onTransferFailed(localName);
            return result.code;
        }
        // A size the SIZE sent with the transfer proved needs no question of its own.
        if (!askSize || (result.sizeAgrees ? *result.sizeAgrees : sameSizeOnServer(target, localName))) {
            if (!atomic)
                return result.code;
            // The server's reply to the transfer stands for the whole upload.
            if (moveIntoPlace(target, remoteName, beforeReplace))
                return result.code;
            sink_->onTransferFailed(localName); // the part is gone already
            return kTransferNotCarriedOut;
        }
        if (attempt >= kUploadAttempts || isBroken()) {
            // The server kept something else than was sent: reporting success would leave a
            // damaged file public and never repair it.
            sink_->message("Error %s %s\n", "size on the server differs after every attempt:", remoteName.c_str());
            return failed();
        }
    }
}

bool FtpClient::sameSizeOnServer(const std::string& remoteName, const std::string& localName)
{
    if (features_.size && !holdsUnsafeByte(remoteName)) {
        int64_t localSize = fileSize(localPath(localName));
        if (localSize < 0)
            return true;
        // SIZE counts bytes as sent in the type in force; only binary type counts them all.
        ensureBinaryType();
        std::string reply = sendRaw("SIZE " + remoteName + "\r\n");
        int code = replyCode(reply);
        if (code == 213) {
            const std::optional<int64_t> listed = listedSize(reply);
            return listed && *listed == localSize;
        }
        if (code == 550)
            return false;
        // Anything else (SIZE refused after all): the listing still tells.
    }
    (void)list(remoteName);
    if (lastListing_.empty())
        return false;
    int64_t localSize = fileSize(localPath(localName));
    if (localSize < 0)
        return true;
    for (std::string_view line : listingLines(lastListing_)) {
        if (replyCode(line) / 100 == 2)
            continue;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        ListingEntry entry;
        int64_t listed = parseListingLine(line, entry) ? entry.size : 0;
        return listed == localSize;
    }
    return true;
}

ClientResult FtpClient::list(const std::string& argument)
{
    return outcome(receiveListing("LIST", argument));
}

int FtpClient::receiveListing(const char* verb, const std::string& argument)
{
    return onceMoreIfResumptionRequired([&] { return listOnce(verb, argument); });
}

int FtpClient::listOnce(const char* verb, const std::string& argument)
{
    // A refused listing must not leave the previous folder's text to be taken for this one.
    lastListing_.clear();
    if (holdsUnsafeByte(argument)) {
        sink_->message("Error %s %d\n", "dolist.name refused unsafe argument", EINVAL);
        return kTransferNotCarriedOut;
    }
    std::unique_ptr<DataConnection> connection = openDataConnection();
    if (!connection)
        return kTransferNotCarriedOut;
    // MLSD without a folder is sent bare: some servers take a trailing blank for a name.
    int accepted = argument.empty() && std::string_view(verb) == "MLSD" ? command("MLSD")
                                                                        : command("%s %s", verb, argument.c_str());
    if (accepted / 100 != 1)
        return 0;
    std::unique_ptr<ByteStream> stream
        = establishData(*connection, "dolist.connect Error %d accepting listening socket");
    connection.reset();
    if (!stream)
        return kTransferNotCarriedOut;

    std::vector<char> block(kTransferBlock);
    std::string text;
    int64_t total = 0;
    for (;;) {
        IoResult received = stream->receive(block.data(), block.size());
        if (!received.ok()) {
            if (received.status == IoResult::Status::TimedOut)
                noteTimeout();
            break;
        }
        total += static_cast<int64_t>(received.count);
        std::string_view piece(block.data(), received.count);
        piece = piece.substr(0, piece.find('\0'));
        if (text.size() + piece.size() > kMaxListing) {
            sink_->message("Error %s %d\n", "dolist.receive listing too large", EFBIG);
            break;
        }
        text.append(piece);
    }
    sink_->message("Received %lld Bytes\n", static_cast<long long>(total));
    lastListing_ = std::move(text);
    stream.reset();
    return transferReply();
}

int FtpClient::transferReply()
{
    dataReply_ = readReplyCode();
    return dataReply_;
}

RemoteSession::Listing FtpClient::listFolder(const std::string& path)
{
    if (features_.mlst) {
        const int code = receiveListing("MLSD", path);
        if (code / 100 == 2)
            return { outcome(code), entriesFromMlsd() };
    }
    const ClientResult result = list(path);
    return { result, entriesFromList() };
}

std::vector<RemoteEntry> FtpClient::entriesFromMlsd()
{
    std::vector<RemoteEntry> entries;
    for (std::string_view line : listingLines(lastListing_)) {
        std::optional<MlsdEntry> parsed = parseMlsdLine(line);
        if (!parsed)
            continue;
        RemoteEntry entry;
        entry.fileName = parsed->name;
        entry.name = std::move(parsed->name);
        entry.size = parsed->size;
        entry.modificationTime = parsed->time;
        entry.isDirectory = parsed->isDirectory;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<RemoteEntry> FtpClient::entriesFromList()
{
    std::vector<RemoteEntry> entries;
    for (std::string_view line : listingLines(lastListing_)) {
        ListingEntry parsed;
        if (!parseListingLine(line, parsed) || parsed.name.empty())
            continue;
        RemoteEntry entry;
        // From the name to the end of the line, so a link keeps " -> target".
        size_t nameStart = static_cast<size_t>(parsed.name.data() - line.data());
        entry.name = std::string(line.substr(nameStart));
        entry.fileName = std::string(parsed.name);
        entry.size = parsed.size;
        entry.modificationTime = parsed.time;
        entry.isDirectory = parsed.tryChangeDirectory;
        entries.push_back(std::move(entry));
    }
    return entries;
}
