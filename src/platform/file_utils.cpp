#include "platform/file_utils.h"

#include "platform/file_descriptor.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool makeDirectories(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string withSlash(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

} // namespace

std::string getDataDirectory()
{
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home == '/')
        base = withSlash(home) + ".local/share";
    if (!base.empty()) {
        std::string folder = withSlash(base) + "Tarnwick";
        if (makeDirectories(folder))
            return folder + "/";
    }
    std::string fallback = "/var/lib/tarnwick";
    makeDirectories(fallback);
    return fallback + "/";
}

std::string fileNamePart(std::string_view path)
{
    size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string directoryPart(std::string_view path)
{
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

int64_t fileSize(const std::string& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_size);
}

struct tm localTimeOf(int64_t seconds)
{
    struct tm result { };
    time_t value = static_cast<time_t>(seconds);
    ::localtime_r(&value, &result);
    return result;
}

bool writeFileAtomically(const std::string& path, std::string_view content, unsigned mode)
{
    std::string temporary = path + ".tmpXXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    // Keep the mode of the file being replaced; mkstemp creates 0600.
    struct stat existing { };
    mode_t wanted = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : static_cast<mode_t>(mode);
    bool ok = ::fchmod(fd, wanted) == 0 && writeAll(fd, content.data(), content.size()) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temporary.c_str());
    return false;
}

std::optional<std::string> readWholeFile(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer before it can be refused.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat info { };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    if (int flags = ::fcntl(fd, F_GETFL); flags >= 0)
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::string content;
    content.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        content.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return content;
}

std::string errorText(int error)
{
    char buffer[256] = {};
    // The GNU strerror_r answers a pointer that may or may not be the buffer.
    return ::strerror_r(error, buffer, sizeof buffer);
}

std::string errorWords(int error)
{
    std::string text = errorText(error);
    // Only a capital that begins a word of small letters: "EOF" or "I/O" keep theirs.
    if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && text[1] >= 'a' && text[1] <= 'z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

bool writeAll(int descriptor, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t written = write(descriptor, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

FileDescriptor openRegularFile(const std::string& path, struct stat& status)
{
    int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return FileDescriptor();
    int error = 0;
    if (::fstat(descriptor, &status) != 0)
        error = errno;
    else if (!S_ISREG(status.st_mode))
        error = EISDIR;
    if (error == 0)
        return FileDescriptor(descriptor);
    ::close(descriptor);
    errno = error;
    return FileDescriptor();
}

bool changedSinceOpened(int descriptor, const struct stat& opened)
{
    struct stat now { };
    if (::fstat(descriptor, &now) != 0)
        return true;
    return now.st_size != opened.st_size || now.st_mtim.tv_sec != opened.st_mtim.tv_sec
        || now.st_mtim.tv_nsec != opened.st_mtim.tv_nsec;
}
