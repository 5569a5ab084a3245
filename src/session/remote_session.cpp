#include "session/remote_session.h"

#include "platform/stop_signal.h"
#include "session/next_token.h"
#include "session/rate_limiter.h"

#include <climits>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

RemoteSession::RemoteSession()
    : sink_(&defaultSink_)
{
    // The session's own local directory starts where the process was started; it is only
    // read here, and every later change stays inside this session.
    std::string started(PATH_MAX, '\0');
    localDirectory_ = ::getcwd(started.data(), started.size()) != nullptr ? started.c_str() : "/";
    if (localDirectory_.empty() || localDirectory_.back() != '/')
        localDirectory_ += '/';
}

RemoteSession::~RemoteSession() = default;

const PeerCertificate& RemoteSession::serverCertificate() const
{
    static const PeerCertificate none;
    return none;
}

bool RemoteSession::stopped() const
{
    return stopSignal_ != nullptr && stopSignal_->raised();
}

bool RemoteSession::paceUpload(size_t bytes) const
{
    return rateLimiter_ == nullptr || rateLimiter_->take(bytes, stopSignal_);
}

size_t RemoteSession::uploadBlock(size_t largest) const
{
    return rateLimiter_ == nullptr ? largest : rateLimiter_->blockSize(largest);
}

FtpEventSink* RemoteSession::setEventSink(FtpEventSink* sink)
{
    FtpEventSink* previous = sink_;
    sink_ = sink ? sink : &defaultSink_;
    return previous == &defaultSink_ ? nullptr : previous;
}

bool RemoteSession::setLocalDirectory(const std::string& path)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    std::string target = localPath(path);
    struct stat status { };
    if (stat(target.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return false;
    std::string normal = std::filesystem::path(target).lexically_normal().string();
    if (normal.empty() || normal.back() != '/')
        normal += '/';
    localDirectory_ = normal;
    return true;
}

std::string RemoteSession::localPath(std::string_view name) const
{
    if (!name.empty() && name.front() == '/')
        return std::string(name);
    return localDirectory_ + std::string(name);
}

int RemoteSession::runOperations(const std::vector<FtpOperation>& operations)
{
    using Kind = FtpOperation::Kind;
    for (const FtpOperation& operation : operations) {
        // Between steps only: a transfer under way is never cut short.
        if (sink_->shouldStop())
            break;
        switch (operation.kind) {
        // Folder steps name their folder as a command argument, quoted where needed.
        case Kind::ChangeDirectory: (void)changeDirectory(directoryArgument(operation.name1)); break;
        case Kind::MakeAndChangeDirectory:
            (void)makeDirectory(directoryArgument(operation.name1));
            (void)changeDirectory(directoryArgument(operation.name1));
            break;
        case Kind::Download: (void)download(operation.name2, operation.name1, TransferMode::Image); break;
        case Kind::Upload:
            (void)uploadWithRetry(operation.name2, operation.name1, TransferMode::Image, operation.size);
            break;
        case Kind::DeleteFile: (void)deleteFile(operation.name1); break;
        case Kind::MakeLocalDirectory:
            if (!operation.name1.empty() && operation.name1.find('\0') == std::string::npos)
                (void)mkdir(localPath(operation.name1).c_str(), 0755);
            break;
        case Kind::ChangeLocalDirectory: (void)setLocalDirectory(operation.name1); break;
        case Kind::RemoveDirectory: (void)removeDirectory(operation.name1); break;
        }
    }
    return 0;
}
