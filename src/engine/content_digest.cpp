#include "engine/content_digest.h"

#include "platform/file_descriptor.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

namespace {

// Large files are read in blocks of this size; a block is no cost for a small one.
constexpr int64_t kBlockSize = 256 * 1024;

FileStamp stampOf(const struct stat& info)
{
    return { static_cast<int64_t>(info.st_mtim.tv_sec), static_cast<int32_t>(info.st_mtim.tv_nsec),
        static_cast<int64_t>(info.st_size), static_cast<uint64_t>(info.st_ino),
        static_cast<int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec };
}

int64_t coarseNow()
{
    timespec now {};
    (void)::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// File times come from the kernel's coarse clock. A write in the same tick as the change we
// saw could leave every stamp as it was, so the reading starts only once that tick is over:
// a few milliseconds at most, once for files written just before the scan.
bool changeTickPassed(int64_t statusChange)
{
    constexpr int kMaxWaits = 100;
    for (int wait = 0; wait < kMaxWaits; ++wait) {
        if (coarseNow() > statusChange)
            return true;
        const timespec pause { 0, 1'000'000 };
        (void)::nanosleep(&pause, nullptr);
    }
    // A change stamped in the future (a clock set back, a network file system): never trusted.
    return false;
}

struct StateFree {
    void operator()(XXH3_state_t* state) const { (void)XXH3_freeState(state); }
};

} // namespace

std::string ContentDigest::hex() const
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(32, '0');
    for (int index = 0; index < 16; ++index) {
        text[static_cast<size_t>(15 - index)] = kDigits[(high >> (4 * index)) & 0xf];
        text[static_cast<size_t>(31 - index)] = kDigits[(low >> (4 * index)) & 0xf];
    }
    return text;
}

std::optional<ContentDigest> ContentDigest::fromHex(std::string_view text)
{
    if (text.size() != 32)
        return std::nullopt;
    ContentDigest digest;
    for (size_t index = 0; index < 32; ++index) {
        const char c = text[index];
        uint64_t value = 0;
        if (c >= '0' && c <= '9')
            value = static_cast<uint64_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            value = static_cast<uint64_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            value = static_cast<uint64_t>(c - 'A' + 10);
        else
            return std::nullopt;
        uint64_t& half = index < 16 ? digest.high : digest.low;
        half = (half << 4) | value;
    }
    return digest;
}

std::optional<FileStamp> stampOfFile(const std::string& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return stampOf(info);
}

std::optional<ContentDigest> digestFile(const std::string& path, const FileStamp& expected)
{
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    struct stat info { };
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || !(stampOf(info) == expected))
        return std::nullopt;
    if (!changeTickPassed(expected.statusChange))
        return std::nullopt;
    std::unique_ptr<XXH3_state_t, StateFree> state(XXH3_createState());
    if (!state || XXH3_128bits_reset(state.get()) != XXH_OK)
        return std::nullopt;
    // Most files of a site are far smaller than a block: a buffer of their size, not zeroed,
    // keeps a rehash of a whole site from clearing a quarter of a megabyte per file.
    const size_t blockSize = static_cast<size_t>(std::min<int64_t>(kBlockSize, expected.size + 1));
    if (expected.size >= kBlockSize)
        (void)::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    const std::unique_ptr<char[]> block = std::make_unique_for_overwrite<char[]>(blockSize);
    int64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(file.get(), block.get(), blockSize);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        // A file that keeps growing is being written: no digest, and no endless read.
        total += got;
        if (total > expected.size)
            return std::nullopt;
        if (XXH3_128bits_update(state.get(), block.get(), static_cast<size_t>(got)) != XXH_OK)
            return std::nullopt;
    }
    if (::fstat(file.get(), &info) != 0 || !(stampOf(info) == expected))
        return std::nullopt;
    const XXH128_hash_t hash = XXH3_128bits_digest(state.get());
    return ContentDigest { hash.high64, hash.low64 };
}
