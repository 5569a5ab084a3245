#pragma once

#include "config/ftp_site.h"
#include "connect/session_factory.h"
#include "session/ftp_operation.h"
#include "session/remote_session.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

class FtpEventSink;
class ProjectSettings;
class ProjectList;

// One row of either pane.
struct BrowserRow {
    std::string name;
    int64_t size = 0;
    int64_t time = 0; // seconds since 1970, UTC
    bool isDirectory = false;

    bool operator==(const BrowserRow&) const = default;
};

// One choice of the server list: a site of a web project ("project.site") or of the sites
// book. `site` is a copy; a project's site carries the project's local folder.
struct ServerEntry {
    std::string text;
    FtpSite site;
    ProjectSettings* project = nullptr; // null for sites of the sites book
};

// The two-pane FTP browser without its window: both listings, both current folders, the
// local root that "Synchron" maps between them, and the batches the window runs.
//
// The local pane's folder is this object's own; the process's current folder is never
// changed (upload workers resolve paths against it). Names that come from a server are
// checked before they become local paths. Every call runs on the window thread and blocks
// on the client; the client and the projects behind the entries must outlive this object.
class FtpBrowser {
public:
    // `options` must outlive the browser.
    explicit FtpBrowser(const MachineOptions& options);

    // Project sites as "name.ftp.site", then the sites book, sorted by text.
    [[nodiscard]] static std::vector<ServerEntry> buildServerEntries(
        const ProjectList& projects, const std::vector<FtpSite>& sites);

    // Directories first, then names with A-Z lowered, byte by byte (a prefix first).
    static void sortRows(std::vector<BrowserRow>& rows);
    // The folder and all its ancestors, sorted by text; `separator` alone comes first.
    [[nodiscard]] static std::vector<std::string> pathItems(const std::string& path, char separator);
    // "hour:minute day.month.year" in local time, without leading zeros.
    [[nodiscard]] static std::string dateText(int64_t time);
    // A name a server sent may become a local name only if it stays inside its folder.
    [[nodiscard]] static bool isSafeLocalName(const std::string& name);
    // The row whose name equals `name` ignoring A-Z case, or -1.
    [[nodiscard]] static int rowNamed(const std::vector<BrowserRow>& rows, const std::string& name);
    // Rows whose names (ignoring case) are among `names`.
    [[nodiscard]] static std::vector<int> rowsNamed(
        const std::vector<BrowserRow>& rows, const std::vector<std::string>& names);
    // Rows (not "." or "..") whose exact name does not occur in `other`.
    [[nodiscard]] static std::vector<int> oneSidedRows(
        const std::vector<BrowserRow>& rows, const std::vector<BrowserRow>& other);
    // Sum of the sizes, each rounded up to whole kilobytes.
    [[nodiscard]] static int64_t totalSize(const std::vector<FtpOperation>& batch);

    // Connects and logs in; on success lists the server folder and moves the local pane to
    // the entry's local folder, which becomes the local root.
    bool connect(const ServerEntry& entry);

    // Reads the local folder into the local pane.
    void fillLocal();
    // Puts `entries` into the remote pane and asks for the server folder.
    void fillRemote(const std::vector<RemoteEntry>& entries);

    // Double-click on the remote row `name`: changes into it and lists.
    void openRemote(const std::string& name, bool synchron);
    // Double-click on a local row: a folder is entered (answers empty); a file's full path
    // is answered for the desktop to open.
    [[nodiscard]] std::string openLocal(const BrowserRow& row, bool synchron);
    // Choice in the remote path list; the local pane always follows.
    void chooseRemotePath(const std::string& path);
    // Choice in the local path list or from the folder picker.
    void chooseLocalPath(const std::string& path, bool synchron);

    void localFollowsRemote();
    void remoteFollowsLocal();
    // Lists the server folder again and fills the remote pane.
    void relist();

    // Batches for the selected rows (names checked, unsafe ones skipped with a log line).
    [[nodiscard]] std::vector<FtpOperation> downloadBatch(const std::vector<BrowserRow>& rows);
    [[nodiscard]] std::vector<FtpOperation> uploadBatch(const std::vector<BrowserRow>& rows);
    [[nodiscard]] std::vector<FtpOperation> remoteDeleteBatch(const std::vector<BrowserRow>& rows);
    // Local targets of the batch's downloads that exist already.
    [[nodiscard]] std::vector<std::string> downloadConflicts(const std::vector<FtpOperation>& batch) const;
    // Uploads whose name is already listed in the server folder they go to.
    [[nodiscard]] std::vector<std::string> uploadConflicts(const std::vector<FtpOperation>& batch);
    [[nodiscard]] static int deleteFileCount(const std::vector<FtpOperation>& batch);

    // Runs a batch through the client, reporting to the client's current sink. A download
    // over an existing file goes to a scratch name first and replaces the file only once
    // it has fully arrived.
    void runBatch(const std::vector<FtpOperation>& batch);

    // Local file operations in the local pane's folder; false when refused or failed.
    bool makeLocalDirectory(const std::string& name);
    bool renameLocal(const std::string& oldName, const std::string& newName); // never replaces
    // Deletes the selected files (folders are left alone); answers how many went.
    int deleteLocalFiles(const std::vector<BrowserRow>& rows);
    void makeRemoteDirectory(const std::string& name);
    void renameRemote(const std::string& oldName, const std::string& newName);

    [[nodiscard]] const std::vector<BrowserRow>& remoteRows() const { return remoteRows_; }
    [[nodiscard]] const std::vector<BrowserRow>& localRows() const { return localRows_; }
    [[nodiscard]] const std::string& remoteDirectory() const { return remoteDirectory_; }
    [[nodiscard]] const std::string& localDirectory() const { return localDirectory_; }
    [[nodiscard]] const std::string& localRoot() const { return localRoot_; }
    [[nodiscard]] const std::vector<std::string>& remotePathItems() const { return remotePathItems_; }
    [[nodiscard]] const std::vector<std::string>& localPathItems() const { return localPathItems_; }
    [[nodiscard]] bool isConnected() const;
    // The session of the site last chosen (an FTP one before the first connect).
    [[nodiscard]] RemoteSession& session() { return *session_; }
    // Sets the local pane's folder without filling it; false when it is not a folder.
    bool setLocalDirectory(const std::string& path);
    // `name` inside the local pane's folder.
    [[nodiscard]] std::string localPath(const std::string& name) const;

private:
    void log(const std::string& text);
    void addDownloadPlan(
        std::vector<FtpOperation>& batch, const std::string& remote, const std::string& local, int depth);
    void addUploadPlan(
        std::vector<FtpOperation>& batch, const std::string& local, const std::string& remote, int depth);
    void addDeletePlan(std::vector<FtpOperation>& batch, const std::string& remote, int depth);

    SessionFactory factory_;
    std::unique_ptr<RemoteSession> session_;
    std::vector<BrowserRow> remoteRows_;
    std::vector<BrowserRow> localRows_;
    std::string remoteDirectory_;
    std::string localDirectory_;
    std::string localRoot_;
    std::vector<std::string> remotePathItems_;
    std::vector<std::string> localPathItems_;
};
