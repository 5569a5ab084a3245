#pragma once

#include <string>

enum class LogLineKind {
    Plain, // "%s\n"
    Error, // "Error %s\n"
};

// "TARNWICK.LOG" in the data directory: what crash paths, worker failures and the service
// operations leave behind when there may be nobody to show a message to. Every line is
// appended with one write to a file opened for appending, so threads and processes that log
// at the same time do not tear each other's lines.
class DiagnosticLog {
public:
    static constexpr const char* kFileName = "TARNWICK.LOG";

    // `dataDirectory` ends with "/".
    explicit DiagnosticLog(std::string dataDirectory);

    [[nodiscard]] const std::string& path() const { return path_; }

    // A file that cannot be opened loses the line silently.
    void logLine(const std::string& message, LogLineKind kind) const;
    // Logs the message and shows it on standard error (there is no window to show it in).
    void showMessage(const std::string& message) const;

private:
    std::string path_;
};
