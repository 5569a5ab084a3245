#pragma once

#include "engine/file_item.h"
#include "engine/remote_dir_cache.h"
#include "engine/web_project.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class RemoteSession;

// Brings a server tree back in line with a local folder regardless of upload history: Find
// compares the local scan with a walk of the server, Start deletes the server-only files,
// re-sends what differs and removes server folders left without files.
//
// The client must be connected and outlive this object; progress messages go to `sink`
// while the client keeps reporting to its own sink. Runs on the caller's thread.
class FullCompare {
public:
    enum class Deletion {
        KeepServerOnlyFiles,
        DeleteServerOnlyFiles,
    };
    enum class Resend {
        ChangedOnly,
        AlsoSameSize,
    };
    struct Counts {
        int deleted = 0;
        int changed = 0;
        int sameSize = 0;
    };

    // `project` supplies the skip rules; `localDirectory` is compared with `remoteStart`.
    FullCompare(RemoteSession& client, const ProjectSettings& project, std::string localDirectory,
        std::string remoteStart, FtpEventSink& sink);

    // Lets Start open more connections to `site` (its url, login and connection count) with
    // `makeSession`, as a run would.
    void allowConnections(
        const FtpSite& site, std::function<std::unique_ptr<RemoteSession>(const std::string&)> makeSession);

    // Scans, maps and walks the server afresh (the cache is emptied first, so a repeated
    // Find sees what an earlier Start changed).
    void Find();
    // What Start would do with the last Find, step by step in the order it would take them.
    // Afterwards, whatever `deletion` says, the files a killed upload left behind go as well
    // (they never were the user's), except an old file whose live name is missing: it is the
    // only copy; then server folders left without files.
    struct Step {
        enum class Kind : char { Send, Delete };
        Kind kind = Kind::Send;
        std::string localPath; // Send only
        std::string serverPath;
        bool operator==(const Step&) const = default;
    };
    [[nodiscard]] std::vector<Step> plan(Deletion deletion, Resend resend) const;
    // Carries out plan(deletion, resend) and the clean-up after it. Asks nothing: the caller
    // confirms first. A lost connection or a stop ends it; a refused file does not. Answers
    // what each step came to, the removed leftovers among them.
    std::vector<WebProject::StepOutcome> Start(Deletion deletion, Resend resend);

    // What the last Find met that keeps the server from matching the local folder, by server
    // path. Protected dot-files on the server are no difference: nothing would remove them.
    struct Difference {
        enum class Kind : char { MissingOnServer, SizeDiffers, OnlyOnServer, Leftover };
        Kind kind = Kind::MissingOnServer;
        std::string serverPath;
        bool operator==(const Difference&) const = default;
    };
    [[nodiscard]] std::vector<Difference> differences() const;

    // Scan items in scan order, then one server-only item (deleted set, path = server path)
    // per file found only on the server. Upload leftovers are no server-only files.
    [[nodiscard]] const std::vector<FileItem>& items() const { return items_; }
    // Server paths of the part and old files (see isUploadLeftover) the last Find met.
    [[nodiscard]] const std::vector<std::string>& leftovers() const { return leftovers_; }
    [[nodiscard]] Counts counts() const;
    // `format` with its "%d" fields filled by deleted, changed and same-size counts in turn;
    // any other '%' stays as it is, so a translated format can never misread arguments.
    [[nodiscard]] std::string countsLine(const std::string& format) const;
    // The server path the scan maps an item to (server-only items: their own path).
    [[nodiscard]] std::string remotePathOf(const FileItem& item) const;
    [[nodiscard]] RemoteDirCache& cache() { return cache_; }
    [[nodiscard]] const std::string& remoteStart() const { return remoteStart_; }

    // Joins a server folder and a name with exactly one '/'.
    [[nodiscard]] static std::string joinRemote(const std::string& directory, const std::string& name);
    // Dot-files stay on the server (access rules and the like), except the folder-info file.
    [[nodiscard]] static bool isProtectedServerFile(const std::string& remotePath);

private:
    void scanLocal();
    void walk(const std::string& directory, int depth);
    void removeEmptyDirectories(const std::string& directory, int depth);
    void removeLeftovers(std::vector<WebProject::StepOutcome>& outcomes);

    RemoteSession& client_;
    const ProjectSettings& project_;
    std::string localDirectory_;
    std::string remoteStart_;
    FtpEventSink& sink_;
    RemoteDirCache cache_;
    std::vector<FileItem> items_;
    std::map<std::string, size_t> remoteFileMap_; // server path -> index into items_
    std::vector<bool> listed_; // by index into items_: the server has a file of that name
    std::vector<std::string> leftovers_;
    FtpSite site_; // without a start directory: the plan names whole paths
    std::function<std::unique_ptr<RemoteSession>(const std::string&)> makeSession_;
};
