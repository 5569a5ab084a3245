#include "shell/run_progress.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string byteCount(int64_t bytes)
{
    char text[32];
    if (bytes < 1000 * 1000)
        std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(bytes) / 1000.0);
    else if (bytes < int64_t { 1000 } * 1000 * 1000)
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    else
        std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / 1e9);
    return text;
}

std::string duration(double seconds)
{
    const long total = static_cast<long>(seconds + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

} // namespace

void RunProgress::begin(int files, int64_t bytes, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    active_ = true;
    start_ = now;
    counts_ = Snapshot {};
    counts_.filesTotal = files;
    counts_.bytesTotal = bytes;
    waiting_.clear();
    credit_ = 0;
}

void RunProgress::uploadBegins(const std::string& localFile)
{
    std::lock_guard lock(mutex_);
    if (!active_)
        return;
    counts_.currentFile = localFile;
    waiting_.push_back(-1);
}

void RunProgress::fileSize(int64_t bytes)
{
    std::lock_guard lock(mutex_);
    if (!active_ || waiting_.empty())
        return;
    // The size follows its own begin notification on the same connection; the newest unknown
    // size is that file's.
    for (auto it = waiting_.rbegin(); it != waiting_.rend(); ++it) {
        if (*it < 0) {
            *it = std::max<int64_t>(bytes, 0);
            break;
        }
    }
    creditWaiting();
}

void RunProgress::bytes(int64_t count)
{
    std::lock_guard lock(mutex_);
    if (!active_)
        return;
    counts_.bytesDone += count;
    credit_ += count;
    creditWaiting();
}

void RunProgress::transferFailed()
{
    std::lock_guard lock(mutex_);
    if (!active_ || waiting_.empty())
        return;
    // The bytes it did send are credited to it, not to the files behind it.
    waiting_.pop_back();
    credit_ = 0;
    counts_.filesDone = std::min(counts_.filesDone + 1, counts_.filesTotal);
    creditWaiting();
}

void RunProgress::finish()
{
    std::lock_guard lock(mutex_);
    active_ = false;
    counts_.filesDone = counts_.filesTotal;
    waiting_.clear();
}

bool RunProgress::active() const
{
    std::lock_guard lock(mutex_);
    return active_;
}

void RunProgress::creditWaiting()
{
    while (!waiting_.empty() && waiting_.front() >= 0 && credit_ >= waiting_.front()) {
        credit_ -= waiting_.front();
        waiting_.pop_front();
        counts_.filesDone = std::min(counts_.filesDone + 1, counts_.filesTotal);
    }
}

RunProgress::Snapshot RunProgress::snapshot(Clock::time_point now) const
{
    std::lock_guard lock(mutex_);
    Snapshot copy = counts_;
    copy.seconds = active_ ? std::chrono::duration<double>(now - start_).count() : 0;
    return copy;
}

std::string RunProgress::describe(const Snapshot& snapshot)
{
    std::string text = std::to_string(snapshot.filesDone) + "/" + std::to_string(snapshot.filesTotal) + " files, "
        + byteCount(snapshot.bytesDone) + " of " + byteCount(snapshot.bytesTotal);
    if (snapshot.seconds >= 0.5 && snapshot.bytesDone > 0) {
        const double rate = static_cast<double>(snapshot.bytesDone) / snapshot.seconds;
        text += ", " + byteCount(static_cast<int64_t>(rate)) + "/s";
        const int64_t left = std::max<int64_t>(snapshot.bytesTotal - snapshot.bytesDone, 0);
        text += ", " + duration(static_cast<double>(left) / rate) + " left";
    }
    if (!snapshot.currentFile.empty())
        text += ", " + snapshot.currentFile;
    return text;
}
