#pragma once

// What the connections serving one site during a run share (upload_run.cpp and
// parallel_send.cpp).

#include "engine/run_record.h"
#include "engine/upload_script.h"
#include "engine/web_project.h"
#include "session/rate_limiter.h"
#include "session/remote_session.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <unordered_map>

struct WebProject::SiteRun {
    // New sessions for the site's url (its connections).
    const std::function<std::unique_ptr<RemoteSession>(const std::string&)>& makeSession;
    const FtpSite& site;
    // What every connection of the site logs in with; lives as long as the site's run.
    const std::string& password;
    int siteNumber;
    UploadScript& transcript;
    ArchiveFolder& archive;
    RunRecord& record;
    const std::unordered_map<std::string_view, const FileItem*>& itemsByPath;
    SiteOutcome& outcome;
    // The most connections the server has taken in this run; it started as the site's cap.
    int connectionLimit;
    // Deleted items whose server copy a move of this site renamed: nothing left to delete.
    std::set<std::string> movedAway {};
    // Server folders this run made: nothing in them was on the server before it.
    std::set<std::string> madeFolders {};
    // Held for the transcript, the items, the outcome and the event sink while several
    // connections serve the site.
    std::mutex mutex {};
    // The site's upload cap, shared by its connections; nullptr: none.
    std::shared_ptr<RateLimiter> rateLimiter {};
};

// Whether `client` may still be given work: no stop, no lost connection, no used-up budget.
inline bool canSend(const RemoteSession& client, const std::atomic<bool>& cancelled)
{
    return !cancelled && !client.isBroken() && !client.timedOut();
}

// Makes (or, for the root, enters) the folder of a folder step under the site's start
// directory, from its typed parts; the line goes to the log as the transcript shows it.
ClientResult enterFolder(RemoteSession& client, const PendingCommand& folder, const std::string& startdir);

// How many connections (the run's own included) a stretch of `files` small uploads can use
// within `limit`: never more than there are files, nor more than the time their logins cost.
[[nodiscard]] int connectionsWorthOpening(int limit, size_t files);
