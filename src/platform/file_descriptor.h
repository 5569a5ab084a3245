#pragma once

#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Owns one open descriptor and closes it when it goes.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int descriptor)
        : descriptor_(descriptor)
    {
    }
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    [[nodiscard]] int get() const { return descriptor_; }
    // Closes the one held, then holds `descriptor`.
    void reset(int descriptor = -1)
    {
        (void)closeNow();
        descriptor_ = descriptor;
    }
    // Closes now; false when the data written may not have reached the disk.
    bool closeNow()
    {
        const int descriptor = descriptor_;
        descriptor_ = -1;
        return descriptor < 0 || ::close(descriptor) == 0;
    }

private:
    int descriptor_ = -1;
};

// Writes everything or answers false with errno set.
[[nodiscard]] bool writeAll(int descriptor, const char* data, size_t size);
// Opens `path` for reading when it is a regular file, with its status in `status`; an empty
// descriptor otherwise, errno telling why (EISDIR for a folder or anything else that is not a
// file). Opened before anything is sent: a file that cannot be read must never replace the
// server's copy with an empty one.
[[nodiscard]] FileDescriptor openRegularFile(const std::string& path, struct stat& status);
// Whether the file open at `descriptor` was written to since `opened` was taken: its size or
// modification time moved. A file edited while it was read would reach the server as part
// old, part new bytes.
[[nodiscard]] bool changedSinceOpened(int descriptor, const struct stat& opened);
