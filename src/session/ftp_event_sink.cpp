#include "session/ftp_event_sink.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

std::string formatList(const char* format, va_list arguments)
{
    va_list copy;
    va_copy(copy, arguments);
    char small[512];
    int length = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (length < 0)
        return {};
    if (static_cast<size_t>(length) < sizeof small)
        return std::string(small, static_cast<size_t>(length));
    std::vector<char> large(static_cast<size_t>(length) + 1);
    std::vsnprintf(large.data(), large.size(), format, arguments);
    return std::string(large.data(), static_cast<size_t>(length));
}

} // namespace

void FtpEventSink::statusMessage(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatList(format, arguments);
    va_end(arguments);
    onStatusMessage(text);
}

void FtpEventSink::message(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatList(format, arguments);
    va_end(arguments);
    onLine(text);
}

std::string FtpEventSink::format(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatList(format, arguments);
    va_end(arguments);
    return text;
}
