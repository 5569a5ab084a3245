#include "ftp/byte_stream.h"
#include "ftp/data_connection.h"
#include "ftp/ftp_client.h"
#include "ftp/reply_reader.h"
#include "platform/file_descriptor.h"
#include "platform/file_utils.h"
#include "session/upload_names.h"

#include <cerrno>
#include <charconv>
#include <sys/stat.h>
#include <unistd.h>

ClientResult FtpClient::resumeUpload(const std::string& remoteName, const std::string& localName)
{
    const std::string name = fileNamePart(remoteName);
    const int64_t localSize = fileSize(localPath(localName));
    if (!atomicUploads() || name.empty() || name == "." || name == ".." || localSize <= 0)
        return uploadWithRetry(remoteName, localName);
    const std::string part = uploadPartName(remoteName);
    const std::optional<int64_t> held = partSize(part);
    // A part larger than the file is no beginning of it.
    if (!held || *held <= 0 || *held > localSize)
        return uploadWithRetry(remoteName, localName);
    if (*held < localSize) {
        const Continued continued = onceMoreIfResumptionRequired([&] { return continueOnce(part, localName, *held); });
        if (continued.outcome == Continued::Outcome::Refused) {
            sink_->message("%s %s: sending it whole\n", "the server does not continue uploads of", part.c_str());
            return uploadWithRetry(remoteName, localName);
        }
        if (continued.outcome == Continued::Outcome::Failed) {
            // The part keeps what arrived: the next run continues from there.
            sink_->onTransferFailed(localName);
            return outcome(kTransferNotCarriedOut, continued.systemError);
        }
    }
    // Two pieces make a whole only when the server's count says so; otherwise the part goes
    // and the file is sent in one piece.
    if (!sameSizeOnServer(part, localName)) {
        sink_->message("%s %s: sending it whole\n", "the continued upload does not add up for", part.c_str());
        return uploadWithRetry(remoteName, localName);
    }
    if (moveIntoPlace(part, remoteName, takeBeforeReplace()))
        return outcome(226);
    sink_->onTransferFailed(localName);
    return outcome(kTransferNotCarriedOut);
}

std::optional<int64_t> FtpClient::partSize(const std::string& part)
{
    // Without SIZE nothing tells the offset for certain; a listing rounds large sizes on some
    // servers.
    if (!features_.size || part.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        return std::nullopt;
    ensureBinaryType();
    const std::string reply = sendRaw("SIZE " + part + "\r\n");
    if (replyCode(reply) != 213 || reply.size() < 5)
        return std::nullopt;
    int64_t size = -1;
    const char* digits = reply.data() + 4;
    const auto [end, error] = std::from_chars(digits, reply.data() + reply.size(), size);
    if (error != std::errc() || end == digits)
        return std::nullopt;
    return size;
}

FtpClient::Continued FtpClient::continueOnce(const std::string& part, const std::string& localName, int64_t offset)
{
    struct stat status { };
    FileDescriptor file = openRegularFile(localPath(localName), status);
    if (file.get() < 0 || ::lseek(file.get(), static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(offset)) {
        const int error = errno;
        sink_->message("File Error %x\n", static_cast<unsigned>(error));
        return { Continued::Outcome::Failed, error };
    }
    const auto refusedOrLost = [this] {
        return state_ == State::Disconnected || isBroken() ? Continued { Continued::Outcome::Failed, 0 }
                                                           : Continued { Continued::Outcome::Refused, 0 };
    };
    // REST counts bytes as the binary type sends them.
    ensureBinaryType();
    std::unique_ptr<DataConnection> connection = openDataConnection();
    if (!connection)
        return { Continued::Outcome::Failed, 0 };
    const int restart = command("REST %lld", static_cast<long long>(offset));
    int accepted = restart == 350 ? nameCommand("STOR %s", part) : 0;
    if (accepted / 100 != 1) {
        if (state_ == State::Disconnected || isBroken())
            return { Continued::Outcome::Failed, 0 };
        // Some servers take REST and then refuse it for a STOR; APPE must not meet a REST
        // still pending.
        if (restart == 350)
            (void)command("REST 0");
        accepted = nameCommand("APPE %s", part);
        if (accepted / 100 != 1)
            return refusedOrLost();
    }
    std::unique_ptr<ByteStream> stream = establishData(*connection, "receive.accept");
    connection.reset();
    if (!stream)
        return { Continued::Outcome::Failed, 0 };
    sink_->onUploadBegins(localName, -1);
    sink_->onFileSize(static_cast<int64_t>(status.st_size) - offset);
    sink_->onDetail(FtpEventSink::format("continuing %s from byte %lld", part.c_str(), static_cast<long long>(offset)));
    Streamed streamed = streamFile(file.get(), *stream, true);
    stream.reset();
    refuseIfChanged(streamed, file.get(), status, localName);
    const int localError = streamed.localError;
    const bool complete = streamed.complete;
    file.closeNow();
    const int reply = transferReply();
    if (!complete || reply / 100 != 2)
        return { Continued::Outcome::Failed, localError };
    return { Continued::Outcome::Done, 0 };
}
