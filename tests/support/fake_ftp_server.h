#pragma once

#include "config/machine_options.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scripted FTP server on 127.0.0.1 for what real servers do not do on demand: replies cut
// at chosen places, silence, refusals. It serves one control connection; every command it
// receives is recorded. Commands without a scripted answer get "200 OK". A PORT command is
// remembered, and a scripted data action connects there. EPSV and PASV open a listener on
// 127.0.0.1 and answer 229/227 naming it (a scripted answer may name it with {PORT}, {P1}
// and {P2}); a data action then accepts there instead.
class FakeFtpServer {
public:
    struct Answer {
        std::vector<std::string> chunks; // each sent by a send() of its own
        enum class Data { None, Send, Receive } data = Data::None;
        std::string payload; // what Data::Send sends
        std::vector<std::string> afterData; // sent once the data connection is closed
        bool silent = false; // send nothing, answer no more commands
        bool close = false; // close the control connection after the chunks
        // The chunks are sent this many times over (until the client stops reading), with
        // `pause` before each send after the first.
        int repeat = 1;
        std::chrono::milliseconds pause { 0 };

        static Answer replies(std::vector<std::string> chunks)
        {
            Answer answer;
            answer.chunks = std::move(chunks);
            return answer;
        }
        // `first` (a 150), the payload over the data connection, then `last`.
        static Answer sending(std::string first, std::string payload, std::string last)
        {
            Answer answer = replies({ std::move(first) });
            answer.data = Data::Send;
            answer.payload = std::move(payload);
            answer.afterData = { std::move(last) };
            return answer;
        }
        static Answer receiving(std::string first, std::string last)
        {
            Answer answer = replies({ std::move(first) });
            answer.data = Data::Receive;
            answer.afterData = { std::move(last) };
            return answer;
        }
        static Answer silence()
        {
            Answer answer;
            answer.silent = true;
            return answer;
        }
    };

    FakeFtpServer();
    ~FakeFtpServer();
    FakeFtpServer(const FakeFtpServer&) = delete;
    FakeFtpServer& operator=(const FakeFtpServer&) = delete;

    // Chunks sent right after the connection is accepted.
    void greet(std::vector<std::string> chunks);
    // Answers for the command word `verb` (case-insensitive), used in order; the last one
    // repeats.
    void on(const std::string& verb, Answer answer);
    void on(const std::string& verb, std::string reply) { on(verb, Answer::replies({ std::move(reply) })); }

    // Listens and starts serving on a thread of its own. Everything it waits for is bounded.
    [[nodiscard]] bool start();
    [[nodiscard]] int port() const { return port_; }
    [[nodiscard]] std::string url() const { return "127.0.0.1:" + std::to_string(port_); }
    // Waits for the serving thread to finish (the client closed or went silent).
    void join();

    // Received command lines without CR LF, in order.
    [[nodiscard]] std::vector<std::string> commands() const;
    // The arguments of each PORT or EPRT command received, as sent.
    [[nodiscard]] std::vector<std::string> portArguments() const;
    // "EPSV" or "PASV" for each passive request received, in order.
    [[nodiscard]] std::vector<std::string> passiveRequests() const;
    // The IPv4 address the control connection came from, dotted.
    [[nodiscard]] std::string clientAddress() const;
    // What Data::Receive answers collected.
    [[nodiscard]] std::vector<std::string> received() const;

private:
    void serve();
    bool answer(int control, const std::string& line);
    int connectData();
    int acceptData();
    int openPassive(); // answers the port, 0 on failure
    void closePassive();

    int listener_ = -1;
    int port_ = 0;
    int wake_[2] = { -1, -1 };
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> greeting_;
    std::map<std::string, std::vector<Answer>> answers_;
    std::map<std::string, size_t> used_;
    std::vector<std::string> commands_;
    std::vector<std::string> portArguments_;
    std::vector<std::string> received_;
    std::string clientAddress_;
    std::string dataHost_;
    int dataPort_ = 0;
    int passive_ = -1; // touched by the serving thread only
    std::vector<std::string> passiveRequests_;
};

// Options for scripts written around the active-mode sequence (PORT before each transfer).
inline MachineOptions activeModeOptions()
{
    MachineOptions options;
    options.passive = false;
    return options;
}
