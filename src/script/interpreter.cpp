#include "script/interpreter.h"

#include "ftp/ftp_client.h"
#include "platform/file_utils.h"
#include "session/next_token.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

namespace {

// Deeper than any real site; only a pathological tree gets cut here.
constexpr int kMaxUploadDepth = 64;

bool isWord(std::string_view word, const char* expected)
{
    return word.size() == std::char_traits<char>::length(expected)
        && strncasecmp(word.data(), expected, word.size()) == 0;
}

// Only "*" and "?" are wildcards: "[" and a backslash in a file name stand for themselves, so a
// literal name always matches its own file.
bool matchesPattern(std::string_view pattern, std::string_view name)
{
    size_t p = 0;
    size_t n = 0;
    size_t starAt = std::string_view::npos;
    size_t resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = n;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

struct FolderEntry {
    std::string name;
    bool isFolder = false;
    int64_t size = 0;
};

// The entries of `folder` whose names match `pattern`, sorted by name so that uploads
// happen in a stable order. "." and ".." never appear.
std::vector<FolderEntry> matchingEntries(const std::string& folder, const std::string& pattern)
{
    std::vector<FolderEntry> entries;
    DIR* directory = opendir(folder.c_str());
    if (!directory)
        return entries;
    while (dirent* found = readdir(directory)) {
        std::string name = found->d_name;
        if (name == "." || name == ".." || !matchesPattern(pattern, name))
            continue;
        // lstat: a link to a folder is not followed, so a loop of links cannot recurse forever.
        struct stat status { };
        if (lstat((folder + "/" + name).c_str(), &status) != 0)
            continue;
        FolderEntry entry { name, S_ISDIR(status.st_mode), static_cast<int64_t>(status.st_size) };
        if (S_ISLNK(status.st_mode)) {
            struct stat target { };
            if (stat((folder + "/" + name).c_str(), &target) != 0 || S_ISDIR(target.st_mode))
                continue;
            entry.size = static_cast<int64_t>(target.st_size);
        }
        entries.push_back(std::move(entry));
    }
    closedir(directory);
    std::sort(
        entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

// The argument text of a line as the server or the local file system should see it. A
// quoted argument loses its quotes (a folder named with a blank or a comma arrives whole);
// unquoted text goes on exactly as typed, so existing scripts keep their meaning.
std::string argumentText(std::string_view rest)
{
    if (rest.find('"') == std::string_view::npos)
        return std::string(rest);
    std::string joined;
    size_t position = 0;
    while (position < rest.size()) {
        std::string token = nextToken(rest, position);
        if (!joined.empty())
            joined += ' ';
        joined += token;
    }
    return joined;
}

// "list": the server's own text over FTP; elsewhere one line per entry, folders with a "/".
// Answers 226 for a folder listed, as FTP would.
int listFolder(RemoteSession& client, const std::string& argument)
{
    if (FtpClient* ftp = client.ftp())
        return ftp->list(argument).code;
    // Options such as "-la" mean nothing to other protocols; the rest names the folder.
    std::string_view folder(argument);
    while (folder.starts_with('-')) {
        const size_t blank = folder.find(' ');
        folder = blank == std::string_view::npos ? std::string_view() : folder.substr(blank + 1);
    }
    const RemoteSession::Listing listing
        = client.listFolder(folder.empty() ? std::string(".") : directoryArgument(folder));
    for (const RemoteEntry& entry : listing.entries)
        client.eventSink().message("%s%s\n", entry.name.c_str(), entry.isDirectory ? "/" : "");
    return listing.result.ok() ? 226 : listing.result.code;
}

} // namespace

static int uploadMatchingIn(
    RemoteSession& client, const std::string& folder, const std::string& pattern, Recursion recursion, int depth);

int runScriptLine(RemoteSession& client, std::string_view line)
{
    if (FtpClient* ftp = client.ftp())
        ftp->forgetListing();
    FtpEventSink& sink = client.eventSink();
    sink.message("--------------- %.*s\n", static_cast<int>(line.size()), line.data());
    if (line.find('\0') != std::string_view::npos) {
        sink.message("Error %s %d\n", "script.line refused NUL in line", EINVAL);
        return 0;
    }
    size_t position = 0;
    std::string word = nextToken(line, position);
    std::string rest(line.substr(std::min(position, line.size())));
    std::string argument = argumentText(rest);

    if (isWord(word, "mv")) {
        std::string oldName = nextToken(line, position);
        std::string newName = nextToken(line, position);
        return client.renameFile(oldName, newName).code;
    }
    if (isWord(word, "cd"))
        return client.changeDirectory(directoryArgument(rest)).code;
    if (isWord(word, "md") || isWord(word, "mkdir"))
        return client.makeDirectory(directoryArgument(rest)).code;
    if (isWord(word, "lcd"))
        return client.setLocalDirectory(argument) ? 0 : -1;
    if (isWord(word, "lmd"))
        return argument.empty() || mkdir(client.localPath(argument).c_str(), 0755) != 0 ? -1 : 0;
    if (isWord(word, "put")) {
        Recursion recursion = Recursion::ThisFolderOnly;
        std::string local = nextToken(line, position);
        if (local == "/s") {
            recursion = Recursion::IntoSubfolders;
            local = nextToken(line, position);
        }
        std::string remote = nextToken(line, position);
        if (remote == "/s") {
            recursion = Recursion::IntoSubfolders;
            remote = nextToken(line, position);
        }
        if (!remote.empty())
            return client.uploadWithRetry(remote, local, TransferMode::Image, -1).code;
        return uploadMatching(client, local, recursion);
    }
    if (isWord(word, "get")) {
        std::string local = nextToken(line, position);
        if (local == "/s")
            local = nextToken(line, position);
        std::string remote = nextToken(line, position);
        if (remote == "/s")
            remote = nextToken(line, position);
        if (remote.empty()) {
            // One name serves both sides: a server path must not pick the local folder.
            if (local.find('/') != std::string::npos) {
                sink.message("Error %s %d\n", "get.name refused path as local name", EINVAL);
                sink.onTransferFailed(local);
                return RemoteSession::kTransferNotCarriedOut;
            }
            remote = local;
        }
        return client.download(remote, local, TransferMode::Image).code;
    }
    if (isWord(word, "list"))
        return listFolder(client, argument);
    if (isWord(word, "pwd"))
        return 0;
    // A deletion the server refuses must be seen as refused by whoever keeps the record.
    if (isWord(word, "dele"))
        return client.deleteFile(argument).code;
    if (FtpClient* ftp = client.ftp())
        (void)ftp->command("%s %s", word.c_str(), argument.c_str());
    else
        sink.message("Error %s %d\n", "command.sftp FTP commands cannot be sent over SFTP", ENOTSUP);
    return 0;
}

int uploadMatching(RemoteSession& client, const std::string& pattern, Recursion recursion)
{
    std::string folder = directoryPart(pattern);
    std::string filePattern = fileNamePart(pattern);
    if (folder.empty() && !pattern.empty() && pattern.front() == '/')
        folder.assign(1, '/'); // assign(1, c): GCC 12 -O3 warns falsely on = "/"
    return uploadMatchingIn(client, folder, filePattern, recursion, 0);
}

static int uploadMatchingIn(
    RemoteSession& client, const std::string& folder, const std::string& pattern, Recursion recursion, int depth)
{
    std::string absolute = folder.empty() ? client.localDirectory() : client.localPath(folder);
    for (const FolderEntry& entry : matchingEntries(absolute, pattern)) {
        std::string local = folder;
        if (!local.empty() && local.back() != '/')
            local += '/';
        local += entry.name;
        if (entry.isFolder) {
            if (recursion == Recursion::IntoSubfolders && depth < kMaxUploadDepth)
                (void)uploadMatchingIn(client, local, pattern, recursion, depth + 1);
            continue;
        }
        (void)client.uploadWithRetry(entry.name, local, TransferMode::Image, entry.size);
    }
    return 0;
}
