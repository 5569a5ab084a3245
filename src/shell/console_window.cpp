#include "shell/console_window.h"

#include "session/server_text.h"
#include "shell/project_list.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The progress line must never wrap, or redrawing it in place would leave its head behind.
std::string fitToTerminal(FILE* out, std::string text)
{
    winsize size {};
    size_t columns = 80;
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        columns = size.ws_col;
    if (text.size() >= columns) {
        size_t cut = columns > 1 ? columns - 1 : 0;
        // Never split a UTF-8 sequence.
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        text.resize(cut);
    }
    return text;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

ConsoleWindow::ConsoleWindow(
    const ProjectList& projects, FILE* out, std::function<void()> onQuit, ConsoleOptions options)
    : projects_(projects)
    , out_(out)
    , onQuit_(std::move(onQuit))
    , options_(options)
{
}

bool ConsoleWindow::isErrorLine(std::string_view text)
{
    for (std::string_view prefix :
        { "Error", "File Error", "-->Error ", "Crash in ", "Receive.recv returned", "SendCommand.send" })
        if (startsWith(text, prefix))
            return true;
    return false;
}

void ConsoleWindow::writeLocked(const std::string& text)
{
    if (!progress_.empty())
        std::fputs("\r\033[K", out_);
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fputc('\n', out_);
    if (!progress_.empty())
        std::fputs(progress_.c_str(), out_);
    std::fflush(out_);
}

void ConsoleWindow::appendLogLine(const std::string& text)
{
    const bool error = isErrorLine(text);
    if (options_.quiet && !error)
        return;
    // The last guard before the terminal: no line may carry an escape sequence to it.
    const std::string shown = printableServerText(text);
    std::string line = error && errorContext_ ? "tarnwick: " + errorContext_() + ": " + shown : shown;
    std::lock_guard lock(outputMutex_);
    writeLocked(line);
}

void ConsoleWindow::printLine(const std::string& text)
{
    std::lock_guard lock(outputMutex_);
    writeLocked(text);
}

void ConsoleWindow::showProgress(const std::string& text)
{
    if (!options_.progressLine || options_.quiet)
        return;
    std::lock_guard lock(outputMutex_);
    progress_ = fitToTerminal(out_, text);
    if (progress_.empty())
        progress_ = " ";
    std::fputs("\r", out_);
    std::fputs(progress_.c_str(), out_);
    std::fputs("\033[K", out_);
    std::fflush(out_);
}

void ConsoleWindow::endProgress()
{
    std::lock_guard lock(outputMutex_);
    if (progress_.empty())
        return;
    progress_.clear();
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
}

void ConsoleWindow::requestQuit()
{
    if (onQuit_)
        onQuit_();
}

int ConsoleWindow::projectCount() const
{
    return projects_.count();
}

WebProject* ConsoleWindow::projectAt(int index) const
{
    return projects_.at(index);
}

WebProject* ConsoleWindow::reloadProjects()
{
    return selected_;
}
