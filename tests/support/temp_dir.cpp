#include "support/temp_dir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (base && *base) ? base : "/tmp";
    if (pattern.back() != '/')
        pattern += '/';
    pattern += "tarnwick-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()))
        m_path = buffer.data();
    else
        ADD_FAILURE() << "mkdtemp(" << pattern << "): " << std::strerror(errno);
}

TempDir::~TempDir()
{
    if (m_path.empty())
        return;
    std::error_code error;
    // Tests may leave read-only folders behind; give write permission back before removing.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error))
            std::filesystem::permissions(
                it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, error);
    }
    std::filesystem::remove_all(m_path, error);
}

std::string TempDir::file(std::string_view relative) const
{
    std::string result = m_path;
    if (!relative.empty() && relative.front() != '/')
        result += '/';
    result += relative;
    return result;
}

std::string TempDir::makeDirectory(std::string_view relative) const
{
    std::string full = file(relative);
    std::error_code error;
    std::filesystem::create_directories(full, error);
    if (error)
        ADD_FAILURE() << "create_directories(" << full << "): " << error.message();
    return full;
}

std::string TempDir::writeFile(std::string_view relative, std::string_view content) const
{
    std::string full = file(relative);
    std::error_code error;
    std::filesystem::path parent = std::filesystem::path(full).parent_path();
    std::filesystem::create_directories(parent, error);
    int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        ADD_FAILURE() << "open(" << full << "): " << std::strerror(errno);
        return full;
    }
    size_t written = 0;
    while (written < content.size()) {
        ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ADD_FAILURE() << "write(" << full << "): " << std::strerror(errno);
            break;
        }
        written += static_cast<size_t>(n);
    }
    ::close(fd);
    return full;
}

std::string patternBytes(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    uint32_t state = seed;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state);
    }
    return bytes;
}
