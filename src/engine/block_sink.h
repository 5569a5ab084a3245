#pragma once

#include "session/ftp_event_sink.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// The sink of one connection while several serve a site at once. It holds what its client
// reports about the file in hand and passes the whole block on in one piece, so the log shows
// each file's lines together and a progress display, which follows one file at a time, sees
// each file as it completes. Everything reaches `target` with `mutex` held, the mutex the run
// also holds while it touches what the target may read.
class BlockSink final : public FtpEventSink {
public:
    BlockSink(FtpEventSink& target, std::mutex& mutex);

    // Hands the block on; the caller holds the mutex.
    void flushLocked();
    // Forgets the block: it described work that another connection does again.
    void discard() { events_.clear(); }

    void onTotalSize(int64_t bytes) override { add(Kind::TotalSize, {}, bytes); }
    [[nodiscard]] bool shouldStop() override;
    void onTransferFailed(const std::string& localFile) override { add(Kind::TransferFailed, localFile, 0); }
    void onUploadBegins(const std::string& localFile, int64_t size) override
    {
        add(Kind::UploadBegins, localFile, size);
    }
    void onDownloadBegins(const std::string& localFile, int64_t size) override
    {
        add(Kind::DownloadBegins, localFile, size);
    }
    void onFileSize(int64_t bytes) override { add(Kind::FileSize, {}, bytes); }
    void onBytes(int64_t bytes) override;
    void onLine(const std::string& text) override { add(Kind::Line, text, 0); }
    void onStatusLine(const std::string& text) override { add(Kind::StatusLine, text, 0); }
    void onStatusMessage(const std::string& text) override { add(Kind::StatusMessage, text, 0); }
    void onProblem(const std::string& text) override { add(Kind::Problem, text, 0); }
    void onDetail(const std::string& text) override { add(Kind::Detail, text, 0); }

private:
    enum class Kind : char {
        TotalSize,
        TransferFailed,
        UploadBegins,
        DownloadBegins,
        FileSize,
        Bytes,
        Line,
        StatusLine,
        StatusMessage,
        Problem,
        Detail,
    };
    struct Event {
        Kind kind;
        std::string text;
        int64_t value;
    };
    void add(Kind kind, const std::string& text, int64_t value) { events_.push_back({ kind, text, value }); }

    FtpEventSink& target_;
    std::mutex& mutex_;
    std::vector<Event> events_;
};
