#pragma once

#include <cstdio>
#include <memory>
#include <string>

// The transcript of one site's run: "<folder>/up_<n>.txt", n being the site's 1-based
// position, created or truncated when the site's turn begins. It records each pending line
// as queued (before any start-directory rewrite) just before it is executed, and ends with
// "quit". A transcript that cannot be created is simply not written; the site is served all
// the same. Control characters in a line are written as "\xHH". Owned by the thread that runs
// the upload.
class UploadScript {
public:
    UploadScript(const std::string& folder, int sitePosition);
    UploadScript(const UploadScript&) = delete;
    UploadScript& operator=(const UploadScript&) = delete;
    // Finishes the transcript if finish() was not called.
    ~UploadScript();

    [[nodiscard]] static std::string pathFor(const std::string& folder, int sitePosition);
    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] bool isOpen() const { return file_ != nullptr; }

    void writeLine(const std::string& line);
    // Writes "quit" and closes the file; later calls do nothing.
    void finish();

private:
    std::string path_;
    std::unique_ptr<FILE, int (*)(FILE*)> file_ { nullptr, &std::fclose };
};
