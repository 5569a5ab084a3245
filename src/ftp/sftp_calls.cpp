#include "ftp/ftp_client.h"
#include "ftp/server_address.h"
#include "ftp/sftp_session.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

namespace {

// A listing line in the EPLF form the listing parser reads, exact to the second; a name that
// would break the line is left out rather than split into two entries.
void appendListingLine(std::string& listing, const RemoteEntry& entry)
{
    if (entry.name.find_first_of("\r\n") != std::string::npos)
        return;
    char facts[64];
    if (entry.isDirectory)
        std::snprintf(facts, sizeof facts, "+m%" PRId64 ",/,", entry.modificationTime);
    else
        std::snprintf(facts, sizeof facts, "+m%" PRId64 ",s%" PRId64 ",r,", entry.modificationTime, entry.size);
    listing += facts;
    listing += '\t';
    listing += entry.name;
    listing += "\r\n";
}

} // namespace

ClientResult FtpClient::connectSftp(const ServerAddress& address, const std::string& user, const std::string& password)
{
    sftp_ = std::make_unique<SftpSession>(budget_);
    (void)sftp_->setEventSink(sink_ == &defaultSink_ ? nullptr : sink_);
    sftp_->setStopSignal(stopSignal_);
    // Host keys are trusted beside the certificates, wherever those are kept.
    if (!trustedCertificatesPath_.empty()) {
        const size_t slash = trustedCertificatesPath_.rfind('/');
        const std::string folder
            = slash == std::string::npos ? std::string() : trustedCertificatesPath_.substr(0, slash + 1);
        sftp_->setTrustedHostKeysPath(folder + "trusted-host-keys.txt");
    }
    ClientResult result = sftp_->connect(address.host, address.port, user, password, keyFile_);
    if (!result)
        return result; // the session stays, to tell the host key it saw
    setState(State::LoggedIn);
    features_.size = true;
    return result;
}

ClientResult FtpClient::listOverSftp(const std::string& argument)
{
    lastListing_.clear();
    // LIST options ("-la") mean nothing here; the rest names the folder.
    std::string_view path(argument);
    while (path.starts_with('-')) {
        const size_t blank = path.find(' ');
        path = blank == std::string_view::npos ? std::string_view() : path.substr(blank + 1);
    }
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
        path = path.substr(1, path.size() - 2);
    const std::vector<RemoteEntry> entries = sftp_->listEntries(path.empty() ? std::string(".") : std::string(path));
    if (!sftp_->lastResult())
        return sftp_->lastResult();
    for (const RemoteEntry& entry : entries)
        appendListingLine(lastListing_, entry);
    // The code FTP answers for a complete listing: callers read 2xx as success.
    return ClientResult::success(226);
}

ClientResult FtpClient::uploadOverSftp(
    const std::string& remoteName, const std::string& localName, int64_t expectedSize)
{
    sftp_->setAtomicUploads(atomicUploads_);
    sftp_->setBeforeReplace(std::exchange(beforeReplace_, {}));
    return sftp_->upload(remoteName, localPath(localName), expectedSize);
}
