#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

// The distribution's OpenSSH server on 127.0.0.1 and a free port, serving SFTP only, with a
// host key and a client key of its own, made for it. The login folder is a fresh folder the
// server's user owns: as root that user is the system account "tarnwick-sftp" (created on
// demand, with a password random per boot); otherwise it is the test's own user, who can
// log in with the key only.
//
//     SshServer server;
//     ASSERT_TRUE(server.start()) << server.error();
//     session.connect(server.host(), server.port(), server.user(), "", server.keyFile());
class SshServer {
public:
    // `deniedRequests`: SFTP requests the server refuses though it may offer them
    // (internal-sftp -P, e.g. "posix-rename").
    explicit SshServer(std::string deniedRequests = {});
    ~SshServer(); // kills the server and removes its folder
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    // Before start(): the SFTP server is tests/support/scripted_sftp.py instead of OpenSSH's,
    // misbehaving as `fault` names there ("" for none).
    void useScriptedSftp(std::string fault) { scriptedFault_ = std::move(fault); }

    // Empty when the server can run here, else why not (for SKIP_UNLESS_SERVER_RUNS).
    [[nodiscard]] static std::string unavailableReason();

    // Makes the keys and the configuration, starts the server and waits (bounded) until it
    // accepts connections. On failure error() says why.
    [[nodiscard]] bool start();
    // Ends the server and every session at once (SIGKILL): transfers break mid-way.
    void kill();
    // After kill(): the same server again, same port, keys and files.
    [[nodiscard]] bool restart() { return pid_ <= 0 && launch(); }
    // Stops every process of the server (SIGSTOP) or lets them go on: a server that stalls
    // with its connections open.
    void freeze(bool frozen);

    [[nodiscard]] const std::string& host() const { return host_; }
    [[nodiscard]] int port() const { return port_; }
    // "127.0.0.1:PORT", as the trust store names the server.
    [[nodiscard]] std::string hostAndPort() const;
    [[nodiscard]] const std::string& user() const { return user_; }
    // Empty when password logins are impossible here (not root).
    [[nodiscard]] const std::string& password() const { return password_; }
    // Why password logins are impossible, or empty.
    [[nodiscard]] std::string passwordUnavailableReason() const;
    // The client's private key (ed25519, no passphrase), authorised for user().
    [[nodiscard]] std::string keyFile() const { return folder_ + "/client_key"; }
    // The SHA-256 fingerprint of the host key, "AB:CD:..." in upper case.
    [[nodiscard]] const std::string& hostKeyFingerprint() const { return fingerprint_; }
    // A known_hosts line for this server with its real host key, or with another key.
    [[nodiscard]] std::string knownHostsLine() const;
    [[nodiscard]] std::string knownHostsLineWithOtherKey() const;

    // The login folder, an absolute path without trailing "/": what "/" is on the site.
    [[nodiscard]] const std::string& root() const { return root_; }
    [[nodiscard]] std::string pathOf(const std::string& relative) const { return root_ + "/" + relative; }
    // Writes a file below root() (parents included) that the server's user may replace.
    void putFile(const std::string& relative, const std::string& content) const;
    [[nodiscard]] const std::string& error() const { return error_; }
    [[nodiscard]] std::string log() const;

private:
    [[nodiscard]] bool prepareUser();
    [[nodiscard]] bool writeConfig();
    [[nodiscard]] bool launch();
    void handToUser(const std::string& path) const;

    std::string deniedRequests_;
    std::optional<std::string> scriptedFault_;
    std::string host_ = "127.0.0.1";
    std::string folder_; // keys, configuration, log and root/
    std::string root_;
    std::string user_;
    std::string password_;
    std::string fingerprint_;
    std::string error_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    int port_ = 0;
    pid_t pid_ = -1;
};
