#include "shell/console_window.h"

#include "ftp/server_text.h"
#include "shell/project_list.h"

ConsoleWindow::ConsoleWindow(const ProjectList& projects, FILE* out, std::function<void()> onQuit)
    : projects_(projects)
    , out_(out)
    , onQuit_(std::move(onQuit))
{
}

void ConsoleWindow::appendLogLine(const std::string& text)
{
    // The last guard before the terminal: no line may carry an escape sequence to it.
    const std::string shown = printableServerText(text);
    std::lock_guard lock(outputMutex_);
    std::fwrite(shown.data(), 1, shown.size(), out_);
    std::fputc('\n', out_);
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
