#include "platform/dial_up.h"

#include "platform/file_descriptor.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Owns a spawned process group until it has been reaped; killing the group takes along
// anything a wrapper script started.
class ChildProcess {
public:
    explicit ChildProcess(pid_t pid)
        : pid_(pid)
    {
    }
    ~ChildProcess()
    {
        if (pid_ > 0) {
            ::kill(-pid_, SIGKILL);
            reap(0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Exit status once the process has ended, nullopt while it still runs. `flags` is
    // WNOHANG to ask, 0 to wait.
    std::optional<int> reap(int flags)
    {
        int status = 0;
        pid_t result;
        do {
            result = ::waitpid(pid_, &status, flags);
        } while (result < 0 && errno == EINTR);
        if (result == 0)
            return std::nullopt;
        pid_ = -1;
        if (result < 0 || !WIFEXITED(status))
            return DialUp::kCommandFailed;
        return WEXITSTATUS(status);
    }

private:
    pid_t pid_;
};

bool isExecutableFile(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Empty components of a search path mean the current folder; a service has no meaningful
// one, so they are skipped rather than run from wherever the process happens to be.
std::string findProgram(const std::string& searchPath, const std::string& program)
{
    size_t start = 0;
    while (start <= searchPath.size()) {
        size_t end = searchPath.find(':', start);
        if (end == std::string::npos)
            end = searchPath.size();
        const std::string folder = searchPath.substr(start, end - start);
        if (!folder.empty()) {
            const std::string candidate = folder + "/" + program;
            if (isExecutableFile(candidate))
                return candidate;
        }
        start = end + 1;
    }
    return {};
}

// `nmcli` translates its state words; the English ones are what the answers are compared with.
std::vector<std::string> childEnvironment()
{
    std::vector<std::string> variables;
    for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
        const std::string_view text(*variable);
        if (!text.starts_with("LC_ALL=") && !text.starts_with("LANGUAGE="))
            variables.emplace_back(text);
    }
    variables.emplace_back("LC_ALL=C");
    return variables;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Terse output escapes ':' and '\' with a backslash.
std::string unescapeTerse(std::string_view text)
{
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size())
            ++i;
        result += text[i];
    }
    return result;
}

std::vector<std::string> linesOf(std::string_view text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

constexpr size_t kOutputLimit = 1 << 20;

// Runs the program at argumentTexts[0]. Standard input and error lead nowhere and standard
// output goes to `outputFd`. The child gets default signal handling and its own process
// group, whatever the host process has ignored or blocked.
std::optional<pid_t> spawnChild(std::vector<std::string>& argumentTexts, int outputFd)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return std::nullopt;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return std::nullopt;
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::vector<char*> argv = pointersTo(argumentTexts);
    std::vector<std::string> environmentTexts = childEnvironment();
    std::vector<char*> envp = pointersTo(environmentTexts);

    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        return std::nullopt;
    return pid;
}

// Appends what arrives on `fd` (up to kOutputLimit) until the writer closes it. False when
// the deadline passes or reading fails first; `output` then holds what came so far.
bool readUntilClosed(int fd, Clock::time_point deadline, std::string& output)
{
    auto remainingMilliseconds = [&] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return static_cast<int>(std::max<long long>(0, std::min<long long>(left, 1000)));
    };
    char buffer[4096];
    for (;;) {
        if (Clock::now() >= deadline)
            return false;
        pollfd waiting { fd, POLLIN, 0 };
        const int ready = ::poll(&waiting, 1, remainingMilliseconds());
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        if (count == 0)
            return true;
        if (output.size() < kOutputLimit)
            output.append(buffer, static_cast<size_t>(count));
    }
}

// The exit status, or nullopt when the child is still running at the deadline.
std::optional<int> awaitExit(ChildProcess& child, Clock::time_point deadline)
{
    for (;;) {
        if (const std::optional<int> status = child.reap(WNOHANG))
            return status;
        if (Clock::now() >= deadline)
            return std::nullopt;
        ::poll(nullptr, 0, 5);
    }
}

} // namespace

DialUp::DialUp(std::optional<std::string> searchPath, std::chrono::milliseconds commandBudget)
    : searchPath_(std::move(searchPath))
    , commandBudget_(commandBudget)
{
}

DialUp::~DialUp()
{
    stop();
}

void DialUp::start()
{
    if (monitorThread_.joinable())
        return;
    std::string searchPath;
    if (searchPath_) {
        searchPath = *searchPath_;
    } else if (const char* path = std::getenv("PATH")) {
        searchPath = path;
    }
    nmcliPath_ = findProgram(searchPath, "nmcli");
    {
        std::lock_guard lock(monitorMutex_);
        stopRequested_ = false;
    }
    monitorThread_ = std::thread([this] { monitor(); });
    // Lowest priority for a thread that only waits; refused changes are harmless.
    sched_param parameters {};
    parameters.sched_priority = 0;
    (void)pthread_setschedparam(monitorThread_.native_handle(), SCHED_IDLE, &parameters);
}

void DialUp::stop()
{
    {
        std::lock_guard lock(monitorMutex_);
        stopRequested_ = true;
    }
    monitorWake_.notify_all();
    if (monitorThread_.joinable())
        monitorThread_.join();
}

void DialUp::monitor()
{
    std::unique_lock lock(monitorMutex_);
    while (!stopRequested_)
        monitorWake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopRequested_; });
}

int32_t DialUp::dial(const std::string& entryName)
{
    if (!isAvailable())
        return kNotImplemented;
    const CommandResult result = runNmcli({ "connection", "up", "id", entryName });
    if (result.status != 0)
        return result.status;
    dialedEntry_ = entryName;
    return 0;
}

void DialUp::hangUp()
{
    if (!isAvailable() || !dialedEntry_)
        return;
    (void)runNmcli({ "connection", "down", "id", *dialedEntry_ });
    dialedEntry_.reset();
}

bool DialUp::isConnected()
{
    if (!isAvailable())
        return true;
    const CommandResult result = runNmcli({ "-t", "-f", "STATE", "general" });
    if (result.status != 0)
        return false;
    const std::vector<std::string> lines = linesOf(result.output);
    return !lines.empty() && unescapeTerse(lines.front()) == "connected";
}

std::vector<std::string> DialUp::enumerateEntries()
{
    std::vector<std::string> entries;
    if (!isAvailable())
        return entries;
    const CommandResult result = runNmcli({ "-t", "-f", "NAME", "connection", "show" });
    if (result.status != 0)
        return entries;
    for (const std::string& line : linesOf(result.output)) {
        if (!line.empty())
            entries.push_back(unescapeTerse(line));
    }
    return entries;
}

DialUp::CommandResult DialUp::runNmcli(const std::vector<std::string>& arguments) const
{
    CommandResult result;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return result;
    FileDescriptor readEnd(pipeEnds[0]);
    FileDescriptor writeEnd(pipeEnds[1]);

    std::vector<std::string> argumentTexts { nmcliPath_ };
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    const std::optional<pid_t> pid = spawnChild(argumentTexts, writeEnd.get());
    if (!pid)
        return result;
    ChildProcess child(*pid);
    writeEnd.reset();

    const Clock::time_point deadline = Clock::now() + commandBudget_;
    if (!readUntilClosed(readEnd.get(), deadline, result.output))
        return result;
    // Standard output is closed; the exit normally follows at once.
    if (const std::optional<int> status = awaitExit(child, deadline))
        result.status = *status;
    else
        result.output.clear();
    return result;
}
