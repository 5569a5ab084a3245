#include "report/activity_log.h"

#include <cstdio>
#include <memory>

ActivityLog::ActivityLog(size_t capacity)
    : capacity_(capacity == 0 ? 1 : capacity)
{
}

std::string ActivityLog::cutAtCarriageReturn(std::string_view text)
{
    return std::string(text.substr(0, text.find('\r')));
}

std::string ActivityLog::cutAtLineEnd(std::string_view text)
{
    return std::string(text.substr(0, text.find_first_of("\r\n")));
}

void ActivityLog::append(std::string_view text)
{
    std::string line = cutAtCarriageReturn(text);
    std::lock_guard lock(mutex_);
    if (lines_.size() == capacity_) {
        lines_.pop_front();
        ++dropped_;
    }
    lines_.push_back(std::move(line));
}

void ActivityLog::clear()
{
    std::lock_guard lock(mutex_);
    lines_.clear();
}

std::vector<std::string> ActivityLog::lines() const
{
    std::lock_guard lock(mutex_);
    return { lines_.begin(), lines_.end() };
}

size_t ActivityLog::size() const
{
    std::lock_guard lock(mutex_);
    return lines_.size();
}

size_t ActivityLog::droppedCount() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

bool ActivityLog::saveTo(const std::string& path) const
{
    std::vector<std::string> snapshot = lines();
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "w"), &std::fclose);
    if (!file)
        return false;
    for (const std::string& line : snapshot) {
        if (std::fwrite(line.data(), 1, line.size(), file.get()) != line.size() || std::fputc('\n', file.get()) == EOF)
            return false;
    }
    return std::fclose(file.release()) == 0;
}
