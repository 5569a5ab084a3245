#pragma once

#include "config/machine_options.h"
#include "session/remote_session.h"

#include <chrono>
#include <memory>
#include <string>

class DialUp;

// Makes the session a site's url asks for: FtpClient for "host", "ftpes://" and "ftps://",
// SftpSession for "sftp://". Dials the machine's dial-up entry before the first session, once,
// and hangs it up again when asked and the options want it.
//
// The factory, its options and the sessions it made belong to one thread at a time; the
// sessions may be handed to other threads once made.
class SessionFactory {
public:
    // `options` must outlive the factory and every session it makes.
    explicit SessionFactory(
        const MachineOptions& options, std::chrono::milliseconds budget = RemoteSession::kDefaultBudget);
    // Hangs up when due.
    ~SessionFactory();
    SessionFactory(const SessionFactory&) = delete;
    SessionFactory& operator=(const SessionFactory&) = delete;

    // Not connected yet; an url no protocol claims gets an FtpClient, whose connect refuses it.
    [[nodiscard]] std::unique_ptr<RemoteSession> make(const std::string& url);
    // Hangs up the dial-up connection when this factory dialed it and the options ask for it.
    void hangUpIfDialed();

private:
    const MachineOptions& options_;
    std::chrono::milliseconds budget_;
    std::unique_ptr<DialUp> dialUp_;
    bool dialed_ = false;
};
