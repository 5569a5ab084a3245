#include "engine/remote_dir_cache.h"

#include "session/remote_session.h"

#include <algorithm>

RemoteDirCache::RemoteDirCache(RemoteSession& client)
    : client_(client)
{
}

const std::vector<RemoteEntry>& RemoteDirCache::listing(const std::string& directory)
{
    auto found = listings_.find(directory);
    if (found == listings_.end())
        found = listings_.emplace(directory, client_.listEntries(directory)).first;
    return found->second;
}

void RemoteDirCache::splitPath(const std::string& path, std::string& directory, std::string& name)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        directory = "/";
        name = path;
        return;
    }
    directory = slash == 0 ? std::string("/") : path.substr(0, slash);
    name = path.substr(slash + 1);
}

void RemoteDirCache::remove(const std::string& path)
{
    std::string directory;
    std::string name;
    splitPath(path, directory, name);
    auto found = listings_.find(directory);
    if (found == listings_.end())
        return;
    std::vector<RemoteEntry>& entries = found->second;
    auto entry = std::find_if(
        entries.begin(), entries.end(), [&](const RemoteEntry& candidate) { return candidate.name == name; });
    if (entry != entries.end())
        entries.erase(entry);
}

RemoteEntry RemoteDirCache::lookup(const std::string& path)
{
    std::string directory;
    std::string name;
    splitPath(path, directory, name);
    for (const RemoteEntry& entry : listing(directory))
        if (entry.name == name)
            return entry;
    return {};
}
