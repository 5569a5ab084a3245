#include "shell/console_window.h"

#include "shell/project_list.h"

ConsoleWindow::ConsoleWindow(const ProjectList& projects, FILE* out, std::function<void()> onQuit)
    : projects_(projects)
    , out_(out)
    , onQuit_(std::move(onQuit))
{
}

void ConsoleWindow::appendLogLine(const std::string& text)
{
    std::lock_guard lock(outputMutex_);
    std::fwrite(text.data(), 1, text.size(), out_);
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
