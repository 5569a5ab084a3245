#include "engine/block_sink.h"

BlockSink::BlockSink(FtpEventSink& target, std::mutex& mutex)
    : target_(target)
    , mutex_(mutex)
{
}

bool BlockSink::shouldStop()
{
    std::lock_guard lock(mutex_);
    return target_.shouldStop();
}

void BlockSink::onBytes(int64_t bytes)
{
    // One count per block of the transfer: a large file would otherwise hold thousands.
    if (!events_.empty() && events_.back().kind == Kind::Bytes)
        events_.back().value += bytes;
    else
        add(Kind::Bytes, {}, bytes);
}

void BlockSink::flushLocked()
{
    for (const Event& event : events_) {
        switch (event.kind) {
        case Kind::TotalSize: target_.onTotalSize(event.value); break;
        case Kind::TransferFailed: target_.onTransferFailed(event.text); break;
        case Kind::UploadBegins: target_.onUploadBegins(event.text, event.value); break;
        case Kind::DownloadBegins: target_.onDownloadBegins(event.text, event.value); break;
        case Kind::FileSize: target_.onFileSize(event.value); break;
        case Kind::Bytes: target_.onBytes(event.value); break;
        case Kind::Line: target_.onLine(event.text); break;
        case Kind::StatusLine: target_.onStatusLine(event.text); break;
        case Kind::StatusMessage: target_.onStatusMessage(event.text); break;
        case Kind::Problem: target_.onProblem(event.text); break;
        case Kind::Detail: target_.onDetail(event.text); break;
        }
    }
    events_.clear();
}
