#pragma once

#include "ftp/data_connection.h"

#include <cerrno>
#include <memory>

// The server listens and the client connects (EPSV or PASV). The connection is made before
// the transfer command, because many servers answer that command only once it stands.
class PassiveDataConnection final : public DataConnection {
public:
    explicit PassiveDataConnection(std::unique_ptr<ByteStream> stream)
        : stream_(std::move(stream))
    {
    }

    [[nodiscard]] std::unique_ptr<ByteStream> establish(IoResult& result) override
    {
        if (!stream_)
            result = { IoResult::Status::Failed, 0, ENOTCONN };
        return std::move(stream_);
    }

private:
    std::unique_ptr<ByteStream> stream_;
};
