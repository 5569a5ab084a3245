#pragma once

#include "session/remote_entry.h"

#include <map>
#include <string>
#include <vector>

class RemoteSession;

// Parsed listings per server folder, fetched once through `client` and served from memory
// afterwards. The client must outlive the cache; only the thread that drives the client may
// use it.
class RemoteDirCache {
public:
    explicit RemoteDirCache(RemoteSession& client);

    // The entries of `directory` as the server listed them (fetched on first use).
    [[nodiscard]] const std::vector<RemoteEntry>& listing(const std::string& directory);
    // Drops the entry named by `path` from its folder's cached list; nothing is sent.
    void remove(const std::string& path);
    // A copy of the entry named by `path`, or an entry with an empty name when there is none.
    [[nodiscard]] RemoteEntry lookup(const std::string& path);
    // Forgets every listing, so the next use asks the server again.
    void clear() { listings_.clear(); }

    // `path` split at its last '/': a path without one lies in "/"; "/name" lies in "/".
    static void splitPath(const std::string& path, std::string& directory, std::string& name);

private:
    RemoteSession& client_;
    std::map<std::string, std::vector<RemoteEntry>> listings_;
};
