#include "support/ssh_server.h"

#include "support/local_tools.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kSshd = "/usr/sbin/sshd";
constexpr const char* kKeygen = "/usr/bin/ssh-keygen";
constexpr const char* kSystemUser = "tarnwick-sftp";
// One password for every test process of this boot: parallel tests must not change it under
// each other's feet. /run starts empty at each boot.
constexpr const char* kPasswordFile = "/run/tarnwick-sftp.password";
// Readiness is polled at most this often, 25 ms apart (about 10 s).
constexpr int kReadinessAttempts = 400;

namespace fs = std::filesystem;

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

// "SHA256:<base64>" as ssh-keygen prints it, as colon-separated upper-case hex.
std::string hexFingerprint(const std::string& base64)
{
    static constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    unsigned bits = 0;
    int count = 0;
    for (char c : base64) {
        size_t value = alphabet.find(c);
        if (value == std::string_view::npos)
            break;
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>((bits >> count) & 0xff);
        }
    }
    std::string hex;
    for (unsigned char byte : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, hex.empty() ? "%02X" : ":%02X", byte);
        hex += pair;
    }
    return hex;
}

// The password of the system user for this boot, made by the first process that needs it.
std::string sharedPassword()
{
    std::string password = trimmed(readFile(kPasswordFile));
    if (!password.empty())
        return password;
    std::string random;
    std::ifstream source("/dev/urandom", std::ios::binary);
    static constexpr std::string_view letters = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    while (random.size() < 24 && source) {
        unsigned char byte = static_cast<unsigned char>(source.get());
        if (byte < 256 - 256 % letters.size())
            random += letters[byte % letters.size()];
    }
    const std::string candidate = std::string(kPasswordFile) + "." + std::to_string(getpid());
    {
        int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            return {};
        bool written = write(fd, random.data(), random.size()) == static_cast<ssize_t>(random.size());
        close(fd);
        if (!written)
            return {};
    }
    // The first link wins; everyone reads what won.
    (void)link(candidate.c_str(), kPasswordFile);
    unlink(candidate.c_str());
    return trimmed(readFile(kPasswordFile));
}

} // namespace

SshServer::SshServer(std::string deniedRequests)
    : deniedRequests_(std::move(deniedRequests))
{
    if (geteuid() == 0) {
        user_ = kSystemUser;
    } else if (const passwd* account = getpwuid(geteuid())) {
        user_ = account->pw_name;
    }
}

SshServer::~SshServer()
{
    kill();
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
}

std::string SshServer::unavailableReason()
{
    if (access(kSshd, X_OK) != 0)
        return std::string(kSshd) + " is missing (package openssh-server)";
    if (access(kKeygen, X_OK) != 0)
        return std::string(kKeygen) + " is missing (package openssh-client)";
    return {};
}

std::string SshServer::passwordUnavailableReason() const
{
    return password_.empty() ? "password logins need a system user with a known password, which only root can set up"
                             : std::string();
}

std::string SshServer::hostAndPort() const
{
    return host_ + ":" + std::to_string(port_);
}

std::string SshServer::knownHostsLine() const
{
    return "[" + host_ + "]:" + std::to_string(port_) + " " + trimmed(readFile(folder_ + "/host_key.pub")) + "\n";
}

std::string SshServer::knownHostsLineWithOtherKey() const
{
    return "[" + host_ + "]:" + std::to_string(port_) + " " + trimmed(readFile(folder_ + "/other_key.pub")) + "\n";
}

std::string SshServer::log() const
{
    return readFile(folder_ + "/sshd.log");
}

void SshServer::handToUser(const std::string& path) const
{
    if (geteuid() == 0 && uid_ != 0)
        (void)chown(path.c_str(), uid_, gid_);
}

void SshServer::putFile(const std::string& relative, const std::string& content) const
{
    fs::path path = fs::path(root_) / relative;
    std::vector<fs::path> made;
    for (fs::path parent = path.parent_path(); !fs::exists(parent); parent = parent.parent_path())
        made.push_back(parent);
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    for (const fs::path& folder : made)
        handToUser(folder.string());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    handToUser(path.string());
}

bool SshServer::prepareUser()
{
    if (geteuid() != 0) {
        if (user_.empty()) {
            error_ = "the test's own user has no name";
            return false;
        }
        uid_ = geteuid();
        gid_ = getegid();
        return true;
    }
    const std::string exists = std::string("id -u ") + kSystemUser + " >/dev/null 2>&1";
    if (system(exists.c_str()) != 0) {
        // Another test process may create it at the same moment; what counts is that it exists.
        (void)runTool(std::string("useradd -m -s /bin/sh ") + kSystemUser + " >/dev/null 2>&1");
        if (system(exists.c_str()) != 0) {
            error_ = "cannot create the system user " + std::string(kSystemUser);
            return false;
        }
    }
    const passwd* account = getpwnam(kSystemUser);
    if (account == nullptr) {
        error_ = "no account entry for " + std::string(kSystemUser);
        return false;
    }
    uid_ = account->pw_uid;
    gid_ = account->pw_gid;
    const std::string home = account->pw_dir;
    std::error_code ignored;
    if (!fs::exists(home)) {
        fs::create_directories(home, ignored);
        (void)chown(home.c_str(), uid_, gid_);
    }
    password_ = sharedPassword();
    if (password_.empty()) {
        error_ = "cannot keep a password in " + std::string(kPasswordFile);
        return false;
    }
    // Setting the same password again is harmless; parallel processes contend for the lock
    // of the password file, and a few tries settle it.
    bool set = false;
    for (int attempt = 0; attempt < 40 && !set; ++attempt) {
        set = runTool("chpasswd 2>/dev/null", std::string(kSystemUser) + ":" + password_ + "\n");
        if (!set)
            pause25ms();
    }
    if (!set) {
        error_ = "chpasswd failed for " + std::string(kSystemUser);
        return false;
    }
    return true;
}

bool SshServer::start()
{
    error_.clear();
    std::string reason = unavailableReason();
    if (!reason.empty()) {
        error_ = reason;
        return false;
    }
    if (!prepareUser())
        return false;
    // As root, below the user's home: sshd reads the authorised keys as that user.
    std::string base = fs::temp_directory_path().string();
    if (geteuid() == 0) {
        const passwd* account = getpwnam(kSystemUser);
        base = account != nullptr ? account->pw_dir : "/home/" + std::string(kSystemUser);
    }
    std::string pattern = base + "/tarnwick-sshd-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        error_ = "cannot create a folder in " + base;
        return false;
    }
    folder_ = pattern;
    chmod(folder_.c_str(), 0755);
    root_ = folder_ + "/root";
    std::error_code failure;
    fs::create_directories(root_, failure);
    handToUser(root_);
    if (geteuid() == 0)
        fs::create_directories("/run/sshd", failure);

    for (const char* key : { "host_key", "client_key", "other_key" }) {
        if (!runTool(std::string(kKeygen) + " -q -t ed25519 -N '' -C tarnwick-test -f '" + folder_ + "/" + key
                + "' >/dev/null 2>&1")) {
            error_ = std::string("ssh-keygen could not make ") + key;
            return false;
        }
    }
    if (scriptedFault_
        && !fs::copy_file(
            TARNWICK_SOURCE_DIR "/tests/support/scripted_sftp.py", folder_ + "/scripted_sftp.py", failure)) {
        error_ = "cannot copy the scripted SFTP server: " + failure.message();
        return false;
    }
    const std::string authorized = folder_ + "/authorized_keys";
    std::ofstream(authorized, std::ios::binary | std::ios::trunc) << readFile(folder_ + "/client_key.pub");
    chmod(authorized.c_str(), 0644);
    std::string listed = toolOutput(std::string(kKeygen) + " -l -E sha256 -f '" + folder_ + "/host_key.pub'");
    size_t marker = listed.find("SHA256:");
    if (marker == std::string::npos) {
        error_ = "ssh-keygen printed no fingerprint";
        return false;
    }
    fingerprint_ = hexFingerprint(listed.substr(marker + 7));

    // A port taken between freePort() and sshd's bind costs another try.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = freePort();
        if (!writeConfig())
            return false;
        if (launch())
            return true;
    }
    return false;
}

bool SshServer::writeConfig()
{
    const std::string sftp = scriptedFault_
        ? "/usr/bin/python3 " + folder_ + "/scripted_sftp.py " + root_ + " '" + *scriptedFault_ + "'"
        : "internal-sftp -d " + root_;
    std::ostringstream config;
    config << "ListenAddress " << host_ << "\nPort " << port_ << "\nHostKey " << folder_
           << "/host_key\nPidFile none\nStrictModes no\nUsePAM no\nPasswordAuthentication yes\n"
              "KbdInteractiveAuthentication no\nPubkeyAuthentication yes\nAuthorizedKeysFile "
           << folder_ << "/authorized_keys\nAllowUsers " << user_
           << "\nPermitRootLogin no\nUseDNS no\nLogLevel VERBOSE\nMaxStartups 100\n"
              "Subsystem sftp "
           << sftp << "\nForceCommand " << sftp << (deniedRequests_.empty() ? std::string() : " -P " + deniedRequests_)
           << "\n";
    const std::string path = folder_ + "/sshd_config";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << config.str();
    if (!out) {
        error_ = "cannot write " + path;
        return false;
    }
    return true;
}

bool SshServer::launch()
{
    pid_ = spawnInOwnGroup({ kSshd, "-D", "-e", "-f", folder_ + "/sshd_config" }, -1, folder_ + "/sshd.log");
    if (pid_ <= 0) {
        error_ = "cannot start sshd";
        return false;
    }
    for (int attempt = 0; attempt < kReadinessAttempts; ++attempt) {
        if (canConnect("127.0.0.1", port_))
            return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "sshd ended before accepting: " + log();
            return false;
        }
        pause25ms();
    }
    kill();
    error_ = "sshd did not accept connections in time: " + log();
    return false;
}

void SshServer::freeze(bool frozen)
{
    if (pid_ <= 0)
        return;
    ::kill(-pid_, frozen ? SIGSTOP : SIGCONT);
    for (pid_t session : descendantsOf(pid_))
        ::kill(session, frozen ? SIGSTOP : SIGCONT);
}

void SshServer::kill()
{
    if (pid_ <= 0)
        return;
    const std::vector<pid_t> sessions = descendantsOf(pid_);
    ::kill(-pid_, SIGKILL);
    for (pid_t session : sessions)
        ::kill(session, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) { }
    pid_ = -1;
}
