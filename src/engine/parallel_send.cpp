#include "engine/block_sink.h"
#include "engine/command_lines.h"
#include "engine/site_run.h"
#include "ftp/ftp_client.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

// One stretch of files of a site over several connections: the run's own and as many more as
// the site allows. Everything below is guarded by run.mutex once the threads start.
struct WebProject::ParallelSend {
    WebProject& project;
    SiteRun& run;
    const std::vector<const PendingCommand*>& folders;
    const std::vector<FileUnit>& files;

    // The folders are made first, spread over the connections like the files; a file waits
    // only for its own folder. Their order among themselves does not matter: a folder whose
    // parent is missing gets the parent made too.
    size_t nextFolder = 0;
    std::vector<char> folderDone = std::vector<char>(folders.size(), 0);
    std::condition_variable folderMade {};
    size_t next = 0;
    std::vector<size_t> handedBack {}; // files a connection lost on its way gave back
    std::vector<char> settled = std::vector<char>(files.size(), 0);
    std::vector<char> triedTwice = std::vector<char>(files.size(), 0);
    // What went to the server, for a transcript in the order of the queue rather than in
    // the order the connections happened to take things.
    std::vector<char> folderTried = std::vector<char>(folders.size(), 0);
    std::vector<char> fileTried = std::vector<char>(files.size(), 0);
    int serving = 1; // connections taking files; the first is the run's own
    int refused = 0;
    // What a sink threw on any connection: the others stop taking files, and it reaches the
    // run's caller from this thread, as it would from one connection.
    std::exception_ptr thrown {};
    // A connection of its own with the sink that keeps its lines together.
    struct Connection {
        Connection(FtpEventSink& target, std::mutex& mutex)
            : sink(target, mutex)
        {
        }
        BlockSink sink;
        std::unique_ptr<RemoteSession> client;
    };

    void execute(RemoteSession& client);

private:
    [[nodiscard]] std::optional<size_t> take();
    [[nodiscard]] bool usable(const RemoteSession& connection) const
    {
        return !thrown && canSend(connection, project.cancelRequested);
    }
    void makeFolders(RemoteSession& connection, BlockSink& block);
    void serveFiles(RemoteSession& connection, BlockSink& block);
    void serve(RemoteSession& connection, BlockSink& block);
    [[nodiscard]] std::vector<std::unique_ptr<Connection>> prepareConnections(RemoteSession& client, int wanted);
    void serveFromExtraConnection(Connection& connection);
    // After the connections are done, no lock needed.
    void writeTranscript();
};

std::optional<size_t> WebProject::ParallelSend::take()
{
    if (!handedBack.empty()) {
        size_t index = handedBack.back();
        handedBack.pop_back();
        return index;
    }
    if (next < files.size())
        return next++;
    return std::nullopt;
}

void WebProject::ParallelSend::makeFolders(RemoteSession& connection, BlockSink& block)
{
    for (;;) {
        size_t index;
        bool go;
        {
            std::lock_guard lock(run.mutex);
            if (nextFolder == folders.size())
                return;
            index = nextFolder++;
            go = usable(connection);
            folderTried[index] = go ? 1 : 0;
        }
        const bool made = go && enterFolder(connection, *folders[index], run.site.startdir).ok();
        std::lock_guard lock(run.mutex);
        folderDone[index] = 1;
        if (made)
            run.madeFolders.insert(serverPathAt(run.site.startdir, folders[index]->remotePath));
        block.flushLocked();
        folderMade.notify_all();
    }
}

void WebProject::ParallelSend::serveFiles(RemoteSession& connection, BlockSink& block)
{
    makeFolders(connection, block);
    // Taken one file early where the session can start it while the current one ends.
    std::optional<size_t> ahead;
    for (;;) {
        std::optional<size_t> index;
        bool intoNewFolder = false;
        {
            std::unique_lock lock(run.mutex);
            if (usable(connection))
                index = ahead ? std::exchange(ahead, std::nullopt) : take();
            if (!index) {
                if (ahead)
                    handedBack.push_back(*ahead);
                --serving;
                return;
            }
            // Every folder is in someone's hands by now; a broken connection marks its
            // folder done as well, and the upload then makes the folder itself.
            if (const int folder = files[*index].folder; folder >= 0)
                folderMade.wait(lock, [&] { return folderDone[static_cast<size_t>(folder)] || thrown; });
            intoNewFolder = intoMadeFolder(run, files[*index]);
            fileTried[*index] = 1;
            if (connection.startsUploadsEarly())
                ahead = take();
        }
        if (ahead)
            project.expectFile(connection, run, files[*ahead]);
        const ClientResult result = project.sendFile(connection, run, files[*index], intoNewFolder);
        std::lock_guard lock(run.mutex);
        const bool lost = result.failure == Failure::Reconnect && !project.cancelRequested;
        // A connection the server dropped (a host that allows fewer than it accepted, say)
        // does not fail the file while another connection can still send it.
        if (lost && serving > 1 && !triedTwice[*index]) {
            triedTwice[*index] = 1;
            handedBack.push_back(*index);
            if (ahead)
                handedBack.push_back(*ahead);
            block.discard();
            --serving;
            return;
        }
        // The file's lines before its outcome, as a single connection tells them.
        block.flushLocked();
        project.settleFile(run, files[*index].put->localPath, result);
        settled[*index] = 1;
    }
}

void WebProject::ParallelSend::serve(RemoteSession& connection, BlockSink& block)
{
    try {
        serveFiles(connection, block);
    } catch (...) {
        std::lock_guard lock(run.mutex);
        if (!thrown)
            thrown = std::current_exception();
        --serving;
        folderMade.notify_all();
    }
}

std::vector<std::unique_ptr<WebProject::ParallelSend::Connection>> WebProject::ParallelSend::prepareConnections(
    RemoteSession& client, int wanted)
{
    std::vector<std::unique_ptr<Connection>> connections;
    for (int count = 1; count < wanted; ++count) {
        auto connection = std::make_unique<Connection>(*project.eventSink, run.mutex);
        connection->client = project.newSession(run, connection->sink);
        // Here, before the threads start: the run's own client is not for other threads.
        FtpClient* ftp = client.ftp();
        FtpClient* extra = connection->client->ftp();
        if (ftp != nullptr && extra != nullptr)
            extra->setControlResumption(ftp->shareControlSession());
        connections.push_back(std::move(connection));
    }
    return connections;
}

void WebProject::ParallelSend::serveFromExtraConnection(Connection& connection)
{
    RemoteSession& client = *connection.client;
    const bool connected = client.connect(run.site.url, run.site.user, run.password).ok();
    {
        std::lock_guard lock(run.mutex);
        // A server at its limit answers 421 or closes: no error of the run.
        connection.sink.discard();
        if (!connected) {
            ++refused;
            return;
        }
        ++serving;
    }
    client.setPassiveAhead(true);
    serve(client, connection.sink);
    client.quit();
    connection.sink.discard();
}

int connectionsWorthOpening(int limit, size_t files)
{
    // A login costs about as many round trips as three small files: a connection that
    // would get fewer than that only makes the run wait for its login and its goodbye.
    constexpr size_t kFilesPerExtraConnection = 3;
    const size_t useful = 1 + files / kFilesPerExtraConnection;
    return static_cast<int>(std::clamp<size_t>(std::min(useful, files), 1, static_cast<size_t>(std::max(limit, 1))));
}

void WebProject::ParallelSend::execute(RemoteSession& client)
{
    const int wanted = connectionsWorthOpening(run.connectionLimit, files.size());
    std::vector<std::unique_ptr<Connection>> connections = prepareConnections(client, wanted);
    {
        std::vector<std::jthread> threads;
        threads.reserve(connections.size());
        for (const std::unique_ptr<Connection>& connection : connections)
            threads.emplace_back([this, &connection = *connection] { serveFromExtraConnection(connection); });
        BlockSink block(*project.eventSink, run.mutex);
        FtpEventSink* previous = client.setEventSink(&block);
        serve(client, block);
        client.setEventSink(previous);
    } // every connection is done here
    writeTranscript();
    if (thrown)
        std::rethrow_exception(thrown);

    if (refused > 0 && !project.cancelRequested) {
        run.connectionLimit = std::max(1, wanted - refused);
        project.eventSink->message("Warning %s took %d of %d connections: the files went over those\n",
            run.site.url.c_str(), wanted - refused, wanted);
    }
    // What a lost connection gave back with none left to take it.
    for (size_t index = 0; index < files.size(); ++index) {
        if (settled[index])
            continue;
        ClientResult result = project.notTried();
        if (canSend(client, project.cancelRequested)) {
            // A file a lost connection had taken is in the transcript already.
            if (!fileTried[index])
                project.writeTranscript(run, files[index]);
            result = project.sendFile(client, run, files[index]);
        }
        project.settleFile(run, files[index].put->localPath, result);
    }
}

void WebProject::ParallelSend::writeTranscript()
{
    for (size_t index = 0; index < folders.size(); ++index)
        if (folderTried[index])
            run.transcript.writeLine(folders[index]->command);
    for (size_t index = 0; index < files.size(); ++index)
        if (fileTried[index])
            project.writeTranscript(run, files[index]);
}

void WebProject::sendFilesInParallel(RemoteSession& client, SiteRun& run,
    const std::vector<const PendingCommand*>& folders, const std::vector<FileUnit>& files)
{
    ParallelSend send { *this, run, folders, files };
    send.execute(client);
}
