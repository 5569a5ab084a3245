#pragma once

#include <cstdint>
#include <string>

// The one notification interface of the system. Clients and projects report through it;
// windows, dialogs and the console implement it. Calls arrive on the thread that does the
// work (an upload worker, a dialog's worker or the window thread), so an implementation
// that touches a window must marshal to its own thread.
class FtpEventSink {
public:
    virtual ~FtpEventSink() = default;

    virtual void onFinished() { }
    virtual void onTotalSize(int64_t /*bytes*/) { }
    [[nodiscard]] virtual bool shouldStop() { return false; }
    virtual void onTransferFailed(const std::string& /*localFile*/) { }
    virtual void onUploadBegins(const std::string& /*localFile*/, int64_t /*expectedSize*/) { }
    virtual void onDownloadBegins(const std::string& /*localFile*/, int64_t /*unused*/) { }
    virtual void onFileSize(int64_t /*bytes*/) { }
    virtual void onBytes(int64_t /*bytes*/) { }
    virtual void onLine(const std::string& /*text*/) { }
    virtual void onStatusLine(const std::string& /*text*/) { }
    // Receives the text that statusMessage formatted.
    virtual void onStatusMessage(const std::string& /*text*/) { }
    // A failure told in plain words for whoever runs the program: it names the host, the
    // user or the file, says what happened, and carries the server's own reply where there is
    // one. Sent once, before the technical line(s) onLine receives for the same failure.
    virtual void onProblem(const std::string& /*text*/) { }
    // What a data connection does (where it connects, what it carried), finer than the
    // protocol lines onLine receives.
    virtual void onDetail(const std::string& /*text*/) { }

    // Formats by printf rules and hands the text to onLine, so an implementation that only
    // overrides onLine still sees every diagnostic.
    void message(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Formats by printf rules and hands the text to onStatusMessage.
    void statusMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The texts behind the variadic calls, for implementations that want them.
    static std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));
};

// A sink that does nothing: what clients and projects report to until an owner installs one.
class NullEventSink final : public FtpEventSink { };
