#pragma once

#include "ftp/byte_stream.h"

#include <memory>

// A data connection prepared before its transfer command (RETR, STOR, LIST, MLSD) and
// established after the server accepted that command. Active mode listens and accepts here;
// passive mode has connected already. The client wraps the stream in TLS afterwards when the
// session protects data, without any change to the commands that use it.
class DataConnection {
public:
    virtual ~DataConnection() = default;

    // Null on failure, with `result` saying why (TimedOut after the budget).
    [[nodiscard]] virtual std::unique_ptr<ByteStream> establish(IoResult& result) = 0;
};
