#pragma once

#include "session/ftp_event_sink.h"

#include <functional>
#include <string>
#include <vector>

// Keeps everything an FtpClient reports, for assertions on what it sent and received.
class FtpRecordingSink : public FtpEventSink {
public:
    std::vector<std::string> lines;
    std::vector<std::string> failedTransfers;
    std::vector<std::string> uploadsBegun;
    std::vector<std::string> downloadsBegun;
    int64_t bytes = 0;
    int stopQuestions = 0;
    int stopFromQuestion = -1; // shouldStop answers true from this question on (1-based)
    std::function<void(const std::string&)> lineHook;

    bool shouldStop() override { return ++stopQuestions >= stopFromQuestion && stopFromQuestion > 0; }
    void onTransferFailed(const std::string& file) override { failedTransfers.push_back(file); }
    void onUploadBegins(const std::string& file, int64_t) override { uploadsBegun.push_back(file); }
    void onDownloadBegins(const std::string& file, int64_t) override { downloadsBegun.push_back(file); }
    void onBytes(int64_t count) override { bytes += count; }
    void onLine(const std::string& text) override
    {
        lines.push_back(text);
        if (lineHook)
            lineHook(text);
    }

    // The commands sent, without CR LF (lines that ended in CR LF).
    [[nodiscard]] std::vector<std::string> commands() const
    {
        std::vector<std::string> sent;
        for (const std::string& line : lines) {
            if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
                sent.push_back(line.substr(0, line.size() - 2));
        }
        return sent;
    }
    [[nodiscard]] int count(const std::string& prefix) const
    {
        int found = 0;
        for (const std::string& line : commands())
            found += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return found;
    }
};
