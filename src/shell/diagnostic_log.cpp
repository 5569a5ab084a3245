#include "shell/diagnostic_log.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

DiagnosticLog::DiagnosticLog(std::string dataDirectory)
    : path_(std::move(dataDirectory) + kFileName)
{
}

void DiagnosticLog::logLine(const std::string& message, LogLineKind kind) const
{
    // Messages written for the other platform end in CR LF; files here end lines in LF only.
    std::string text = message;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::string line = (kind == LogLineKind::Error ? "Error " : "") + text + "\n";

    int descriptor;
    do {
        descriptor = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0)
        return;
    const char* data = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t written = ::write(descriptor, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        data += written;
        left -= static_cast<size_t>(written);
    }
    ::close(descriptor);
}

void DiagnosticLog::showMessage(const std::string& message) const
{
    logLine(message, LogLineKind::Plain);
    std::fprintf(stderr, "%s\n", message.c_str());
}
