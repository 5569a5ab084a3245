#include "shell/change_settler.h"

#include <algorithm>

ChangeSettler::ChangeSettler(std::chrono::milliseconds settle, std::chrono::milliseconds cap)
    : settle_(settle)
    , cap_(cap)
{
}

void ChangeSettler::add(const FolderChanges& changes, Clock::time_point now)
{
    pending_.folders.insert(changes.folders.begin(), changes.folders.end());
    pending_.subtrees.insert(changes.subtrees.begin(), changes.subtrees.end());
    pending_.overflow = pending_.overflow || changes.overflow;
    // Written to since: busy until a close says otherwise (that close is in `changes` too).
    pending_.writing = changes.writing;
    if (changes.empty())
        return;
    if (!first_)
        first_ = now;
    last_ = now;
}

std::optional<ChangeSettler::Due> ChangeSettler::take(Clock::time_point now)
{
    if (!first_ || (now - last_ < settle_ && now - *first_ < cap_))
        return std::nullopt;
    Due due;
    if (!pending_.overflow) {
        due.scope.emplace();
        due.scope->folders = std::move(pending_.folders);
        due.scope->subtrees = std::move(pending_.subtrees);
        due.scope->busy = pending_.writing;
        due.folders = due.scope->folders.size() + due.scope->subtrees.size();
    }
    pending_.folders.clear();
    pending_.subtrees.clear();
    pending_.overflow = false;
    first_.reset();
    return due;
}

std::chrono::milliseconds ChangeSettler::wait(Clock::time_point now) const
{
    if (!first_)
        return std::chrono::milliseconds(1000);
    const auto untilQuiet = std::chrono::duration_cast<std::chrono::milliseconds>(last_ + settle_ - now);
    const auto untilCap = std::chrono::duration_cast<std::chrono::milliseconds>(*first_ + cap_ - now);
    return std::max(std::chrono::milliseconds(0), std::min(untilQuiet, untilCap));
}
