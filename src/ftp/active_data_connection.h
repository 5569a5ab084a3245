#pragma once

#include "ftp/data_connection.h"

#include <chrono>
#include <memory>

// The client listens and the server connects (PORT). The listening socket lives until the
// one connection is accepted or the object goes away.
class ActiveDataConnection final : public DataConnection {
public:
    struct Listening {
        std::unique_ptr<ActiveDataConnection> connection; // null on failure
        int error = 0;
        bool socketCreated = false; // false: the socket itself could not be made
    };
    // Listens on `local` with port 0 (any address of its family when `local` is null).
    // The accept wait also ends when `stopDescriptor` turns readable (-1: none).
    [[nodiscard]] static Listening listen(
        const SocketAddress* local, std::chrono::milliseconds budget, int stopDescriptor = -1);

    ~ActiveDataConnection() override;
    ActiveDataConnection(const ActiveDataConnection&) = delete;
    ActiveDataConnection& operator=(const ActiveDataConnection&) = delete;

    // The address the server must connect to: what PORT announces.
    [[nodiscard]] const SocketAddress& address() const { return address_; }
    [[nodiscard]] std::unique_ptr<ByteStream> establish(IoResult& result) override;

private:
    ActiveDataConnection(
        int socket, const SocketAddress& address, std::chrono::milliseconds budget, int stopDescriptor);
    void closeListener();

    int listener_ = -1;
    SocketAddress address_;
    std::chrono::milliseconds budget_;
    int stopDescriptor_ = -1;
};
