#pragma once

#include <string>
#include <sys/types.h>
#include <utility>

enum class FtpServerTls {
    None,
    Explicit, // AUTH TLS required before login, data connections protected
    Implicit, // TLS from the first byte (vsftpd only)
};

enum class FtpServerTlsVersions {
    Default, // what the server offers by default (TLS 1.3 with current OpenSSL)
    Tls12Only, // proftpd only: TLSProtocol TLSv1.2
};

struct FtpServerSetup {
    std::string host = "127.0.0.1"; // or "::1"
    FtpServerTls tls = FtpServerTls::None;
    std::string certificate; // PEM file holding certificate and key (see makeCertificate)
    using Versions = FtpServerTlsVersions;
    Versions versions = Versions::Default;
    // Sessions one client address may hold at once (pyftpdlib, vsftpd); 0: no limit.
    int connectionsPerAddress = 0;
    // pyftpdlib only: false issues no TLS 1.3 session tickets, so every data connection
    // takes a full handshake (which the server accepts).
    bool sessionTickets = true;
};

// A real FTP server from the distribution, started on 127.0.0.1 and a free port, serving a
// fresh temporary folder with one read-write account. The server runs in its own process
// group, so stop() and kill() also end the per-session processes that some daemons fork.
//
//     FtpServer server;
//     ASSERT_TRUE(server.start()) << server.error();
//     client.connect(server.url(), server.user(), server.password());
class FtpServer {
public:
    enum class Kind {
        Pyftpdlib, // /usr/bin/python3 with python3-pyftpdlib; runs as any user
        Vsftpd, // needs root: logs in as the system user "tarnwick-ftp", created on demand
        // Needs root and the tree scripts/unpack-proftpd unpacks into .deps/proftpd; serves
        // its own account as the system user "tarnwick-ftp", with mod_tls at its defaults
        // (session reuse required on data connections).
        Proftpd,
    };

    using Tls = FtpServerTls;
    using Setup = FtpServerSetup;

    explicit FtpServer(Kind kind = Kind::Pyftpdlib, Setup setup = {});
    ~FtpServer(); // stops the server and removes the served folder
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    // Empty when this kind of server can run here, else why not (for GTEST_SKIP).
    [[nodiscard]] static std::string unavailableReason(Kind kind);
    // "pyftpdlib", "vsftpd", "proftpd": for test names.
    [[nodiscard]] static const char* nameOf(Kind kind);
    // Empty when the loopback interface has ::1, else why not.
    [[nodiscard]] static std::string ipv6UnavailableReason();
    // A new self-signed certificate for `commonName` with its key, in one PEM file in
    // `folder` named `name`; false when openssl cannot make one.
    [[nodiscard]] static bool makeCertificate(
        const std::string& folder, const std::string& name, const std::string& commonName);

    // pyftpdlib only, before start(): a folder below the served one (made at start) where the
    // account may list and read but not write, so the server itself refuses an upload there.
    void setReadOnlyFolder(std::string folder) { readOnlyFolder_ = std::move(folder); }
    // Starts the server and waits (bounded) until it accepts connections. On failure
    // error() says why.
    [[nodiscard]] bool start();
    // Ends the server politely (SIGTERM) and reaps it; the folder stays.
    void stop();
    // Ends the server at once (SIGKILL): open connections break mid-transfer.
    void kill();
    // Stops every process of the server (SIGSTOP) or lets them go on: a server that stalls
    // mid-transfer while its connections stay open.
    void freeze(bool frozen);
    // Starts again on the same port and folder after stop() or kill().
    [[nodiscard]] bool restart();
    [[nodiscard]] bool isRunning() const { return pid_ > 0; }

    [[nodiscard]] int port() const { return port_; }
    // "127.0.0.1:PORT" or "[::1]:PORT", after "ftpes://" or "ftps://" for TLS.
    [[nodiscard]] std::string url() const;
    // url() without the scheme, as the trust store names the server.
    [[nodiscard]] std::string hostAndPort() const;
    [[nodiscard]] const std::string& user() const { return user_; }
    [[nodiscard]] const std::string& password() const { return password_; }
    // The served folder as an absolute path without trailing "/": what "/" is on the server.
    [[nodiscard]] const std::string& root() const { return root_; }
    // root() + "/" + relative
    [[nodiscard]] std::string pathOf(const std::string& relative) const;
    [[nodiscard]] const std::string& error() const { return error_; }
    // What the server logged so far (for failure messages).
    [[nodiscard]] std::string log() const;

private:
    [[nodiscard]] bool launch();
    std::string readOnlyFolder_;
    [[nodiscard]] bool launchPyftpdlib();
    [[nodiscard]] bool launchVsftpd();
    // Writes a server's configuration file (mode 0600); false, with error(), when it cannot.
    [[nodiscard]] bool writeConfig(const std::string& path, const std::string& text);
    [[nodiscard]] bool launchProftpd();
    [[nodiscard]] bool waitUntilAccepting();
    void signalAndReap(int signal);

    Kind kind_;
    Setup setup_;
    std::string workFolder_; // holds root/, the config and the log
    std::string root_;
    std::string user_;
    std::string password_;
    std::string error_;
    int port_ = 0;
    pid_t pid_ = -1;
};
