#include "connect/session_factory.h"

#include "ftp/ftp_client.h"
#include "platform/dial_up.h"
#include "session/server_address.h"
#include "sftp/sftp_session.h"

#include <optional>

SessionFactory::SessionFactory(const MachineOptions& options, std::chrono::milliseconds budget)
    : options_(options)
    , budget_(budget)
{
}

SessionFactory::~SessionFactory()
{
    hangUpIfDialed();
}

std::unique_ptr<RemoteSession> SessionFactory::make(const std::string& url)
{
    if (!options_.dialUpEntry.empty() && !dialed_) {
        if (!dialUp_) {
            dialUp_ = std::make_unique<DialUp>();
            dialUp_->start();
        }
        // The outcome does not matter: without a network the connect fails by itself.
        (void)dialUp_->dial(options_.dialUpEntry);
        dialed_ = true;
    }
    const std::optional<ServerAddress> address = ServerAddress::parse(url);
    if (address && address->transport == ServerAddress::Transport::Sftp)
        return std::make_unique<SftpSession>(budget_);
    return std::make_unique<FtpClient>(options_, budget_);
}

void SessionFactory::hangUpIfDialed()
{
    if (dialed_ && options_.disconnect && dialUp_)
        dialUp_->hangUp();
    if (options_.disconnect)
        dialed_ = false;
}
