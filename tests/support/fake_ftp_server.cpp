#include "support/fake_ftp_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Nothing the fake waits for takes longer than this unless a test hangs: then it gives up.
constexpr int kWaitMilliseconds = 20000;

bool sendAll(int socket, const std::string& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t count = send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        sent += static_cast<size_t>(count);
    }
    return true;
}

// Waits for `fd` to be readable, or for the wake pipe; false on wake or timeout.
bool waitReadable(int fd, int wake)
{
    pollfd waiting[2] = { { fd, POLLIN, 0 }, { wake, POLLIN, 0 } };
    for (;;) {
        int ready = poll(waiting, 2, kWaitMilliseconds);
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0 && (waiting[1].revents & POLLIN) == 0;
    }
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string upper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

} // namespace

FakeFtpServer::FakeFtpServer()
{
    greeting_ = { "220 fake server ready\r\n" };
}

FakeFtpServer::~FakeFtpServer()
{
    if (wake_[1] >= 0) {
        char byte = 1;
        (void)!write(wake_[1], &byte, 1);
    }
    join();
    closePassive();
    for (int fd : { listener_, wake_[0], wake_[1] }) {
        if (fd >= 0)
            close(fd);
    }
}

void FakeFtpServer::greet(std::vector<std::string> chunks)
{
    greeting_ = std::move(chunks);
}

void FakeFtpServer::on(const std::string& verb, Answer answer)
{
    answers_[upper(verb)].push_back(std::move(answer));
}

bool FakeFtpServer::start()
{
    if (pipe2(wake_, O_CLOEXEC) != 0)
        return false;
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || listen(listener_, 4) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
    return true;
}

void FakeFtpServer::join()
{
    if (thread_.joinable())
        thread_.join();
}

std::vector<std::string> FakeFtpServer::commands() const
{
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<std::string> FakeFtpServer::portArguments() const
{
    std::lock_guard lock(mutex_);
    return portArguments_;
}

std::string FakeFtpServer::clientAddress() const
{
    std::lock_guard lock(mutex_);
    return clientAddress_;
}

std::vector<std::string> FakeFtpServer::received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

void FakeFtpServer::serve()
{
    if (!waitReadable(listener_, wake_[0]))
        return;
    sockaddr_in peer {};
    socklen_t peerLength = sizeof peer;
    int control = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
    if (control < 0)
        return;
    {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        std::lock_guard lock(mutex_);
        clientAddress_ = text;
    }
    int on = 1;
    setsockopt(control, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    for (const std::string& chunk : greeting_)
        sendAll(control, chunk);

    std::string buffer;
    bool answering = true;
    while (waitReadable(control, wake_[0])) {
        char bytes[4096];
        ssize_t count = recv(control, bytes, sizeof bytes, 0);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        buffer.append(bytes, static_cast<size_t>(count));
        size_t end;
        while ((end = buffer.find("\r\n")) != std::string::npos) {
            std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 2);
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(line);
            }
            if (answering && !answer(control, line))
                answering = false;
        }
    }
    close(control);
}

// Sends the scripted answer for `line`; false when the script says to stop answering.
bool FakeFtpServer::answer(int control, const std::string& line)
{
    std::string verb = upper(line.substr(0, line.find(' ')));
    std::string argument = line.find(' ') == std::string::npos ? std::string() : line.substr(line.find(' ') + 1);
    if (verb == "PORT") {
        unsigned a[6] = {};
        if (sscanf(argument.c_str(), "%u,%u,%u,%u,%u,%u", &a[0], &a[1], &a[2], &a[3], &a[4], &a[5]) == 6) {
            std::lock_guard lock(mutex_);
            portArguments_.push_back(argument);
            dataHost_ = std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "."
                + std::to_string(a[3]);
            dataPort_ = static_cast<int>(a[4] * 256 + a[5]);
        }
    }
    std::string passivePort;
    if (verb == "PORT" || verb == "EPRT")
        closePassive();
    if (verb == "EPRT") {
        std::lock_guard lock(mutex_);
        portArguments_.push_back(argument);
    }
    if (verb == "EPSV" || verb == "PASV") {
        int port = openPassive();
        passivePort = std::to_string(port);
        std::lock_guard lock(mutex_);
        passiveRequests_.push_back(verb);
    }
    auto substitute = [&](std::string chunk) {
        if (!passivePort.empty()) {
            int port = std::stoi(passivePort);
            replaceAll(chunk, "{PORT}", passivePort);
            replaceAll(chunk, "{P1}", std::to_string(port / 256));
            replaceAll(chunk, "{P2}", std::to_string(port % 256));
        }
        return chunk;
    };
    auto found = answers_.find(verb);
    if (found == answers_.end()) {
        if (verb == "EPSV")
            sendAll(control, substitute("229 Entering Extended Passive Mode (|||{PORT}|)\r\n"));
        else if (verb == "PASV")
            sendAll(control, substitute("227 Entering Passive Mode (127,0,0,1,{P1},{P2})\r\n"));
        else
            sendAll(control, verb == "PORT" ? "200 PORT command successful\r\n" : "200 OK\r\n");
        return true;
    }
    size_t& used = used_[verb];
    const Answer& script = found->second[std::min(used, found->second.size() - 1)];
    ++used;
    if (script.silent)
        return false;
    bool sending = true;
    for (int round = 0; round < script.repeat && sending; ++round) {
        for (const std::string& chunk : script.chunks) {
            if (script.pause.count() > 0 && (round > 0 || &chunk != &script.chunks.front())) {
                // Waiting on the wake pipe keeps the server stoppable while it trickles.
                pollfd wake { wake_[0], POLLIN, 0 };
                if (poll(&wake, 1, static_cast<int>(script.pause.count())) != 0)
                    return false;
            }
            if (!sendAll(control, substitute(chunk))) {
                sending = false;
                break;
            }
        }
    }
    if (script.data != Answer::Data::None) {
        int data = passive_ >= 0 ? acceptData() : connectData();
        if (data >= 0) {
            if (script.data == Answer::Data::Send) {
                sendAll(data, script.payload);
            } else {
                std::string payload;
                char bytes[65536];
                while (waitReadable(data, wake_[0])) {
                    ssize_t count = recv(data, bytes, sizeof bytes, 0);
                    if (count < 0 && errno == EINTR)
                        continue;
                    if (count <= 0)
                        break;
                    payload.append(bytes, static_cast<size_t>(count));
                }
                std::lock_guard lock(mutex_);
                received_.push_back(payload);
            }
            close(data);
        }
        for (const std::string& chunk : script.afterData)
            sendAll(control, chunk);
    }
    if (script.close) {
        shutdown(control, SHUT_RDWR);
        return false;
    }
    return true;
}

int FakeFtpServer::connectData()
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    {
        std::lock_guard lock(mutex_);
        address.sin_port = htons(static_cast<uint16_t>(dataPort_));
        if (inet_pton(AF_INET, dataHost_.c_str(), &address.sin_addr) != 1)
            return -1;
    }
    int data = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (data >= 0 && connect(data, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(data);
        return -1;
    }
    return data;
}

int FakeFtpServer::openPassive()
{
    closePassive();
    passive_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (passive_ < 0 || bind(passive_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || listen(passive_, 1) != 0 || getsockname(passive_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closePassive();
        return 0;
    }
    return ntohs(address.sin_port);
}

void FakeFtpServer::closePassive()
{
    if (passive_ >= 0)
        close(passive_);
    passive_ = -1;
}

int FakeFtpServer::acceptData()
{
    int data = -1;
    if (waitReadable(passive_, wake_[0]))
        data = accept4(passive_, nullptr, nullptr, SOCK_CLOEXEC);
    closePassive();
    return data;
}

std::vector<std::string> FakeFtpServer::passiveRequests() const
{
    std::lock_guard lock(mutex_);
    return passiveRequests_;
}
