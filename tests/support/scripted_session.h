#pragma once

// A server that exists only as the record of what it was asked: typed calls as readable
// lines, in order, over any number of sessions. For the rules of a run that no real server
// needs to show; real servers keep the end-to-end scenarios.

#include "session/remote_session.h"

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

class ScriptedServer {
public:
    // "login URL", "mkdir P", "cd P", "put P", "mv FROM TO", "dele P", "list P", "quit".
    std::vector<std::string> calls;
    // Files on the server; puts add, renames move, deletions remove.
    std::set<std::string> files;
    // Whether a call succeeds; all do unless a test says otherwise. Runs under the lock.
    std::function<bool(const std::string& call)> accepts = [](const std::string&) { return true; };
    // Heard after each call is recorded, outside the lock (a stop, say).
    std::function<void(const std::string& call)> after;
    // The errno a put meets reading its local file, as a real session would report it
    // (0: the file reads fine). Runs under the lock.
    std::function<int(const std::string& localFile)> localError = [](const std::string&) { return 0; };

    [[nodiscard]] std::unique_ptr<RemoteSession> make(const std::string& url);

    // Takes `call` down and answers whether it succeeds.
    bool ask(const std::string& call)
    {
        bool accepted = false;
        {
            std::lock_guard lock(mutex_);
            calls.push_back(call);
            accepted = accepts(call);
        }
        if (after)
            after(call);
        return accepted;
    }
    [[nodiscard]] int readError(const std::string& localFile)
    {
        std::lock_guard lock(mutex_);
        return localError(localFile);
    }
    template <typename Change> void change(Change change)
    {
        std::lock_guard lock(mutex_);
        change(files);
    }

private:
    std::mutex mutex_;
};

class ScriptedSession final : public RemoteSession {
public:
    explicit ScriptedSession(ScriptedServer& server)
        : server_(server)
    {
    }

    ClientResult connect(const std::string& url, const std::string&, const std::string&) override
    {
        loggedIn_ = server_.ask("login " + url);
        return loggedIn_ ? ClientResult::success() : ClientResult::failed(Failure::GiveUpSite);
    }
    void quit() override
    {
        (void)server_.ask("quit");
        loggedIn_ = false;
    }
    [[nodiscard]] State state() const override { return loggedIn_ ? State::LoggedIn : State::Disconnected; }
    [[nodiscard]] bool isBroken() const override { return stopped(); }
    [[nodiscard]] bool timedOut() const override { return false; }
    [[nodiscard]] bool isEncrypted() const override { return false; }

    ClientResult download(const std::string& remoteName, const std::string&, TransferMode) override
    {
        return answer(server_.ask("get " + remoteName));
    }
    ClientResult upload(const std::string& remoteName, const std::string& localName, TransferMode, int64_t) override
    {
        const std::function<void()> beforeReplace = takeBeforeReplace();
        if (const int error = server_.readError(localPath(localName)); error != 0) {
            sink_->onTransferFailed(localPath(localName));
            return ClientResult::failed(Failure::RetryItem, kTransferNotCarriedOut, error);
        }
        if (stopped() || !server_.ask("put " + remoteName)) {
            sink_->onTransferFailed(localPath(localName));
            return ClientResult::failed(stopped() ? Failure::GiveUpSite : Failure::RetryItem, kTransferNotCarriedOut);
        }
        // The old version leaves only once the new one is whole, as with atomic uploads.
        if (beforeReplace)
            beforeReplace();
        server_.change([&](std::set<std::string>& files) { files.insert(remoteName); });
        return ClientResult::success(226);
    }
    ClientResult uploadWithRetry(
        const std::string& remoteName, const std::string& localName, TransferMode mode, int64_t size) override
    {
        return upload(remoteName, localName, mode, size);
    }
    [[nodiscard]] bool sameSizeOnServer(const std::string&, const std::string&) override { return true; }
    [[nodiscard]] Listing listFolder(const std::string& path) override
    {
        Listing listing { answer(server_.ask("list " + path)), {} };
        const std::string prefix = path.ends_with('/') ? path : path + "/";
        server_.change([&](std::set<std::string>& files) {
            for (const std::string& file : files) {
                if (file.rfind(prefix, 0) != 0 || file.find('/', prefix.size()) != std::string::npos)
                    continue;
                RemoteEntry entry;
                entry.name = entry.fileName = file.substr(prefix.size());
                listing.entries.push_back(entry);
            }
        });
        return listing;
    }
    ClientResult changeDirectory(const std::string& path) override { return answer(server_.ask("cd " + path)); }
    ClientResult makeDirectory(const std::string& path) override { return answer(server_.ask("mkdir " + path)); }
    ClientResult removeDirectory(const std::string& path) override { return answer(server_.ask("rmdir " + path)); }
    [[nodiscard]] std::string currentDirectory() override { return "/"; }
    ClientResult deleteFile(const std::string& path) override
    {
        const bool accepted = server_.ask("dele " + path);
        bool present = false;
        if (accepted)
            server_.change([&](std::set<std::string>& files) { present = files.erase(path) > 0; });
        return answer(accepted && present);
    }
    ClientResult renameFile(const std::string& from, const std::string& to, MissingSource) override
    {
        bool present = false;
        server_.change([&](std::set<std::string>& files) { present = files.count(from) > 0; });
        if (!server_.ask("mv " + from + " " + to) || !present)
            return ClientResult::failed(Failure::RetryItem, 550);
        server_.change([&](std::set<std::string>& files) {
            files.erase(from);
            files.insert(to);
        });
        return ClientResult::success(250);
    }
    [[nodiscard]] std::optional<bool> remoteFileExists(const std::string& path) override
    {
        bool present = false;
        server_.change([&](std::set<std::string>& files) { present = files.count(path) > 0; });
        (void)server_.ask("exists " + path);
        return present;
    }

private:
    [[nodiscard]] ClientResult answer(bool accepted) const
    {
        if (stopped())
            return ClientResult::failed(Failure::GiveUpSite);
        return accepted ? ClientResult::success(250) : ClientResult::failed(Failure::RetryItem, 550);
    }

    ScriptedServer& server_;
    bool loggedIn_ = false;
};

inline std::unique_ptr<RemoteSession> ScriptedServer::make(const std::string&)
{
    return std::make_unique<ScriptedSession>(*this);
}
