#pragma once

#include "ftp/byte_stream.h"

#include <memory>

// A data connection prepared before its transfer command (RETR, STOR, LIST) and established
// after the server accepted that command. Active mode listens and accepts; a passive mode
// would connect here instead, and an encrypted one would wrap the stream, without any
// change to the commands that use it.
class DataConnection {
public:
    virtual ~DataConnection() = default;

    // Null on failure, with `result` saying why (TimedOut after the budget).
    [[nodiscard]] virtual std::unique_ptr<ByteStream> establish(IoResult& result) = 0;
};
