#include "support/ftp_server.h"

#include "support/local_tools.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kVsftpd = "/usr/sbin/vsftpd";
constexpr const char* kSystemUser = "tarnwick-ftp";
constexpr const char* kSystemUserPassword = "tarnwick-ftp-test";
// Unpacked, not installed: see scripts/unpack-proftpd.
constexpr const char* kProftpdTree = TARNWICK_SOURCE_DIR "/.deps/proftpd";
// Readiness is polled at most this often before the start counts as failed (about 10 s).
constexpr int kReadinessAttempts = 400;

// Binds, listens on and prints the real port, so the launcher learns it without a race.
constexpr const char* kPyftpdlibScript = R"PY(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, user, password, port, log = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
host, certificate, per_ip, tickets = sys.argv[6], sys.argv[7], int(sys.argv[8]), sys.argv[9] == "1"
read_only = sys.argv[10]
logging.basicConfig(filename=log, level=logging.INFO)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
if read_only:
    import os
    os.makedirs(os.path.join(root, read_only), exist_ok=True)
    authorizer.override_perm(user, os.path.join(root, read_only), "elr", recursive=True)
class ActiveHandoff:
    # pyftpdlib leaves the connection made for PORT with its connector as well as with the
    # data channel. Closed at the next PORT, after the transfer closed that socket, the
    # connector takes the socket's number out of the event loop, which by then may belong to
    # another session's connection: that transfer then waits for events that never come.
    def _on_dtp_connection(self):
        self._dtp_connector = None
        super()._on_dtp_connection()
if certificate:
    from pyftpdlib.handlers import TLS_FTPHandler
    class Handler(ActiveHandoff, TLS_FTPHandler):
        pass
    Handler.certfile = certificate
    Handler.tls_control_required = True
    Handler.tls_data_required = True
    if not tickets:
        # OpenSSL sends (useless) TLS 1.3 tickets even with OP_NO_TICKET and the cache off;
        # only a ticket count of 0 stops them, which pyOpenSSL does not offer.
        import ctypes
        from OpenSSL._util import ffi
        libssl = ctypes.CDLL("libssl.so.3")
        libssl.SSL_CTX_set_num_tickets.argtypes = [ctypes.c_void_p, ctypes.c_size_t]
        context = Handler.get_ssl_context()
        if libssl.SSL_CTX_set_num_tickets(int(ffi.cast("uintptr_t", context._context)), 0) != 1:
            sys.exit("cannot turn TLS session tickets off")
else:
    class Handler(ActiveHandoff, FTPHandler):
        pass
Handler.authorizer = authorizer
Handler.banner = "tarnwick test server ready"
server = FTPServer((host, port), Handler)
server.max_cons = 256
server.max_cons_per_ip = per_ip
sys.stdout.write("%d\n" % server.socket.getsockname()[1])
sys.stdout.flush()
server.serve_forever(handle_exit=True)
)PY";

// The folder of the unpacked tree that holds proftpd's libraries (usr/lib/<triplet>), or empty.
std::string proftpdLibraryFolder()
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(kProftpdTree) + "/usr/lib", ignored)) {
        std::string name = entry.path().filename().string();
        if (entry.is_directory(ignored) && name.size() > 10 && name.ends_with("-linux-gnu"))
            return entry.path().string();
    }
    return {};
}

// The system user the daemons that need root hand their sessions to (vsftpd logs in as it).
bool ensureSystemUser(std::string& error)
{
    struct stat home { };
    if (system((std::string("id -u ") + kSystemUser + " >/dev/null 2>&1").c_str()) != 0) {
        // Another test process may create it at the same moment; what counts is that it exists.
        (void)runTool(std::string("useradd -m -s /bin/sh ") + kSystemUser + " >/dev/null 2>&1");
        if (system((std::string("id -u ") + kSystemUser + " >/dev/null 2>&1").c_str()) != 0) {
            error = "cannot create the system user " + std::string(kSystemUser);
            return false;
        }
    }
    std::string homePath = std::string("/home/") + kSystemUser;
    if (stat(homePath.c_str(), &home) != 0) {
        std::error_code ignored;
        std::filesystem::create_directories(homePath, ignored);
        (void)runTool("chown " + std::string(kSystemUser) + " " + homePath);
    }
    // Parallel test processes contend for the password file lock; a few tries settle it.
    bool passwordSet = false;
    for (int attempt = 0; attempt < 40 && !passwordSet; ++attempt) {
        passwordSet = runTool("chpasswd 2>/dev/null", std::string(kSystemUser) + ":" + kSystemUserPassword + "\n");
        if (!passwordSet)
            pause25ms();
    }
    if (!passwordSet) {
        error = "chpasswd failed for " + std::string(kSystemUser);
        return false;
    }
    return true;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

FtpServer::FtpServer(Kind kind, Setup setup)
    : kind_(kind)
    , setup_(std::move(setup))
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-ftpd-XXXXXX").string();
    if (mkdtemp(pattern.data()))
        workFolder_ = pattern;
    root_ = workFolder_ + "/root";
    if (kind_ == Kind::Vsftpd) {
        user_ = kSystemUser;
        password_ = kSystemUserPassword;
    } else {
        user_ = "tester";
        password_ = "secret-word";
    }
}

FtpServer::~FtpServer()
{
    kill();
    if (!workFolder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(workFolder_, ignored);
    }
}

std::string FtpServer::unavailableReason(Kind kind)
{
    if (kind == Kind::Pyftpdlib) {
        if (access(kPython, X_OK) != 0)
            return std::string(kPython) + " is missing";
        if (system((std::string(kPython) + " -c 'import pyftpdlib' >/dev/null 2>&1").c_str()) != 0)
            return "python3-pyftpdlib is not installed for " + std::string(kPython);
        return {};
    }
    if (kind == Kind::Proftpd) {
        std::string binary = std::string(kProftpdTree) + "/usr/sbin/proftpd";
        if (access(binary.c_str(), X_OK) != 0 || proftpdLibraryFolder().empty())
            return binary + " is missing: run scripts/unpack-proftpd";
        if (geteuid() != 0)
            return "proftpd needs root to switch to its system user";
        return {};
    }
    if (access(kVsftpd, X_OK) != 0)
        return "vsftpd is not installed";
    if (geteuid() != 0)
        return "vsftpd needs root to switch to its system user";
    return {};
}

const char* FtpServer::nameOf(Kind kind)
{
    switch (kind) {
    case Kind::Pyftpdlib: return "pyftpdlib";
    case Kind::Vsftpd: return "vsftpd";
    case Kind::Proftpd: return "proftpd";
    }
    return "unknown";
}

std::string FtpServer::hostAndPort() const
{
    bool v6 = setup_.host.find(':') != std::string::npos;
    return (v6 ? "[" + setup_.host + "]" : setup_.host) + ":" + std::to_string(port_);
}

std::string FtpServer::url() const
{
    const char* scheme = setup_.tls == Tls::Explicit ? "ftpes://" : setup_.tls == Tls::Implicit ? "ftps://" : "";
    return scheme + hostAndPort();
}

std::string FtpServer::ipv6UnavailableReason()
{
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return "no IPv6 sockets on this machine";
    sockaddr_in6 address {};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bound ? std::string() : std::string("::1 is not available on the loopback interface");
}

bool FtpServer::makeCertificate(const std::string& folder, const std::string& name, const std::string& commonName)
{
    std::string path = folder + "/" + name;
    std::string key = path + ".key";
    std::string certificate = path + ".crt";
    std::string command
        = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj '/CN=" + commonName
        + "' -keyout '" + key + "' -out '" + certificate + "' >/dev/null 2>&1";
    if (!runTool(command))
        return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << readFile(certificate) << readFile(key);
    return static_cast<bool>(out);
}

std::string FtpServer::pathOf(const std::string& relative) const
{
    return root_ + "/" + relative;
}

std::string FtpServer::log() const
{
    return readFile(workFolder_ + "/server.log") + readFile(workFolder_ + "/stderr.log");
}

bool FtpServer::start()
{
    error_.clear();
    if (workFolder_.empty()) {
        error_ = "cannot create a temporary folder";
        return false;
    }
    std::string reason = unavailableReason(kind_);
    if (!reason.empty()) {
        error_ = reason;
        return false;
    }
    std::error_code failure;
    std::filesystem::create_directories(root_, failure);
    if (failure) {
        error_ = "cannot create " + root_ + ": " + failure.message();
        return false;
    }
    return launch();
}

bool FtpServer::restart()
{
    if (pid_ > 0)
        stop();
    error_.clear();
    return launch();
}

bool FtpServer::launch()
{
    switch (kind_) {
    case Kind::Pyftpdlib: return launchPyftpdlib();
    case Kind::Vsftpd: return launchVsftpd();
    case Kind::Proftpd: return launchProftpd();
    }
    return false;
}

bool FtpServer::launchPyftpdlib()
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return false;
    }
    pid_ = spawnInOwnGroup(
        { kPython, "-c", kPyftpdlibScript, root_, user_, password_, std::to_string(port_), workFolder_ + "/server.log",
            setup_.host, setup_.certificate, std::to_string(setup_.connectionsPerAddress),
            setup_.sessionTickets ? "1" : "0", readOnlyFolder_ },
        pipeFds[1], workFolder_ + "/stderr.log");
    close(pipeFds[1]);
    if (pid_ <= 0) {
        close(pipeFds[0]);
        error_ = "cannot start " + std::string(kPython);
        return false;
    }
    // The script prints its port once it listens; EOF means it died first.
    std::string line;
    pollfd waiting { pipeFds[0], POLLIN, 0 };
    while (line.find('\n') == std::string::npos) {
        int ready = poll(&waiting, 1, 15000);
        if (ready < 0 && errno == EINTR)
            continue;
        char buffer[64];
        ssize_t count = ready > 0 ? read(pipeFds[0], buffer, sizeof buffer) : 0;
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        line.append(buffer, static_cast<size_t>(count));
    }
    close(pipeFds[0]);
    int port = atoi(line.c_str());
    if (port <= 0) {
        kill();
        error_ = "pyftpdlib did not start: " + log();
        return false;
    }
    port_ = port;
    return true;
}

bool FtpServer::writeConfig(const std::string& path, const std::string& text)
{
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) {
            error_ = "cannot write " + path;
            return false;
        }
    }
    // Only the test's own user needs to read it.
    chmod(path.c_str(), 0600);
    return true;
}

bool FtpServer::launchVsftpd()
{
    if (!ensureSystemUser(error_))
        return false;
    // vsftpd reaches root_ as its unprivileged user.
    chmod(workFolder_.c_str(), 0711);
    if (!runTool("chown " + std::string(kSystemUser) + " " + root_)) {
        error_ = "cannot hand " + root_ + " to " + kSystemUser;
        return false;
    }
    if (port_ == 0)
        port_ = freePort();
    // Thousands of passive ports: small ranges run out under repeated tests.
    int passiveLow = 20000 + (port_ % 20) * 1000;
    std::ostringstream config;
    if (setup_.host.find(':') != std::string::npos)
        config << "listen=NO\nlisten_ipv6=YES\nlisten_address6=" << setup_.host << "\n";
    else
        config << "listen=YES\nlisten_address=" << setup_.host << "\n";
    if (setup_.tls != Tls::None) {
        config << "ssl_enable=YES\nrsa_cert_file=" << setup_.certificate
               << "\nrsa_private_key_file=" << setup_.certificate
               << "\nrequire_ssl_reuse=YES\nforce_local_logins_ssl=YES\nforce_local_data_ssl=YES\nssl_ciphers=HIGH\n"
                  "ssl_tlsv1=YES\nssl_sslv2=NO\nssl_sslv3=NO\n"
               << (setup_.tls == Tls::Implicit ? "implicit_ssl=YES\n" : "");
    }
    config << "background=NO\nlisten_port=" << port_
           << "\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\nanonymous_enable=NO\nlocal_enable=YES\n"
              "write_enable=YES\nlocal_umask=022\nlocal_root="
           << root_
           << "\nchroot_local_user=YES\nallow_writeable_chroot=YES\npam_service_name=vsftpd\n"
              "pasv_enable=YES\npasv_min_port="
           << passiveLow << "\npasv_max_port=" << passiveLow + 999
           << "\nport_enable=YES\nconnect_from_port_20=NO\nuserlist_enable=NO\nmax_clients=0\nmax_per_ip="
           << setup_.connectionsPerAddress
           << "\nxferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\nvsftpd_log_file=" << workFolder_
           << "/server.log\nsecure_chroot_dir=/var/run/vsftpd/empty\n";
    const std::string configPath = workFolder_ + "/vsftpd.conf";
    if (!writeConfig(configPath, config.str()))
        return false;
    pid_ = spawnInOwnGroup({ kVsftpd, configPath }, -1, workFolder_ + "/stderr.log");
    if (pid_ <= 0) {
        error_ = "cannot start vsftpd";
        return false;
    }
    return waitUntilAccepting();
}

bool FtpServer::launchProftpd()
{
    if (!ensureSystemUser(error_))
        return false;
    chmod(workFolder_.c_str(), 0711);
    if (!runTool("chown " + std::string(kSystemUser) + " " + root_)) {
        error_ = "cannot hand " + root_ + " to " + kSystemUser;
        return false;
    }
    std::string uid = toolOutput(std::string("id -u ") + kSystemUser);
    std::string gid = toolOutput(std::string("id -g ") + kSystemUser);
    std::string hash = toolOutput("openssl passwd -6 '" + password_ + "'");
    for (std::string* text : { &uid, &gid, &hash }) {
        while (!text->empty() && (text->back() == '\n' || text->back() == '\r'))
            text->pop_back();
    }
    if (uid.empty() || gid.empty() || hash.empty()) {
        error_ = "cannot prepare the account for proftpd";
        return false;
    }
    // The test's own account file: nothing of the machine's users is involved.
    std::string passwdPath = workFolder_ + "/passwd";
    {
        std::ofstream out(passwdPath, std::ios::binary | std::ios::trunc);
        out << user_ << ":" << hash << ":" << uid << ":" << gid << "::" << root_ << ":/bin/sh\n";
        if (!out) {
            error_ = "cannot write " + passwdPath;
            return false;
        }
    }
    chmod(passwdPath.c_str(), 0600);
    if (port_ == 0)
        port_ = freePort();
    int passiveLow = 20000 + (port_ % 20) * 1000;
    bool v6 = setup_.host.find(':') != std::string::npos;
    std::ostringstream config;
    config << "ServerType standalone\nServerName \"tarnwick test server\"\nDefaultAddress " << setup_.host
           << "\nSocketBindTight on\nUseIPv6 " << (v6 ? "on" : "off") << "\nPort " << port_ << "\nPassivePorts "
           << passiveLow << " " << passiveLow + 999 << "\nUser " << kSystemUser << "\nGroup " << kSystemUser
           << "\nPidFile " << workFolder_ << "/proftpd.pid\nScoreboardFile " << workFolder_
           << "/proftpd.scoreboard\nSystemLog " << workFolder_
           << "/server.log\nTransferLog none\nWtmpLog off\nUseReverseDNS off\nDelayEngine off\n"
              "AuthOrder mod_auth_file.c\nAuthUserFile "
           << passwdPath
           << "\nRequireValidShell off\nDefaultRoot ~\nAllowOverwrite on\nAllowStoreRestart on\nUmask 022\n"
              "MaxInstances 256\n";
    if (setup_.tls != Tls::None) {
        // mod_tls keeps its defaults otherwise, session reuse on data connections included.
        config << "ModulePath " << kProftpdTree << "/usr/lib/proftpd\nLoadModule mod_tls.c\nTLSEngine on\nTLSLog "
               << workFolder_ << "/server.log\nTLSRequired on\nTLSECCertificateFile " << setup_.certificate
               << "\nTLSECCertificateKeyFile " << setup_.certificate << "\n"
               << (setup_.versions == FtpServerTlsVersions::Tls12Only ? "TLSProtocol TLSv1.2\n" : "");
    }
    const std::string configPath = workFolder_ + "/proftpd.conf";
    if (!writeConfig(configPath, config.str()))
        return false;
    pid_ = spawnInOwnGroup({ std::string(kProftpdTree) + "/usr/sbin/proftpd", "-n", "-q", "-c", configPath }, -1,
        workFolder_ + "/stderr.log", { "LD_LIBRARY_PATH=" + proftpdLibraryFolder() });
    if (pid_ <= 0) {
        error_ = "cannot start proftpd";
        return false;
    }
    return waitUntilAccepting();
}

bool FtpServer::waitUntilAccepting()
{
    for (int attempt = 0; attempt < kReadinessAttempts; ++attempt) {
        if (canConnect(setup_.host, port_))
            return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "server ended before accepting: " + log();
            return false;
        }
        pause25ms();
    }
    kill();
    error_ = "server did not accept connections in time: " + log();
    return false;
}

void FtpServer::stop()
{
    signalAndReap(SIGTERM);
}

void FtpServer::kill()
{
    signalAndReap(SIGKILL);
}

namespace {

} // namespace

void FtpServer::freeze(bool frozen)
{
    if (pid_ <= 0)
        return;
    ::kill(-pid_, frozen ? SIGSTOP : SIGCONT);
    for (pid_t session : descendantsOf(pid_))
        ::kill(session, frozen ? SIGSTOP : SIGCONT);
}

void FtpServer::signalAndReap(int signal)
{
    if (pid_ <= 0)
        return;
    // The whole group, and the sessions that left it: vsftpd serves each session from a
    // process of its own. A frozen one only sees the signal once it goes on.
    const std::vector<pid_t> sessions = descendantsOf(pid_);
    ::kill(-pid_, signal);
    ::kill(-pid_, SIGCONT);
    for (pid_t session : sessions) {
        ::kill(session, signal);
        ::kill(session, SIGCONT);
    }
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) { }
    if (signal != SIGKILL) {
        ::kill(-pid_, SIGKILL);
        for (pid_t session : sessions)
            ::kill(session, SIGKILL);
    }
    pid_ = -1;
}
