#include "support/test_tree.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

TestTree::TestTree()
    : m_root(m_dir.makeDirectory("web"))
{
}

std::string TestTree::path(std::string_view relative) const
{
    return m_root + "/" + std::string(relative);
}

std::string TestTree::add(std::string_view relative, std::string_view content, int64_t mtime) const
{
    std::string full = m_dir.writeFile("web/" + std::string(relative), content);
    setTime(relative, mtime);
    return full;
}

std::string TestTree::folder(std::string_view relative) const
{
    return m_dir.makeDirectory("web/" + std::string(relative));
}

void TestTree::setTime(std::string_view relative, int64_t mtime) const
{
    std::string full = path(relative);
    struct timespec times[2] {};
    times[0].tv_sec = static_cast<time_t>(mtime);
    times[1].tv_sec = static_cast<time_t>(mtime);
    if (::utimensat(AT_FDCWD, full.c_str(), times, 0) != 0)
        ADD_FAILURE() << "utimensat(" << full << "): " << std::strerror(errno);
}

std::string TestTree::addOutside(std::string_view relative, std::string_view content) const
{
    return m_dir.writeFile(relative, content);
}
