#include "shell/console_window.h"

#include "platform/file_utils.h"
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

} // namespace

ConsoleWindow::ConsoleWindow(
    const ProjectList& projects, FILE* out, std::function<void()> onQuit, ConsoleOptions options)
    : projects_(projects)
    , out_(out)
    , onQuit_(std::move(onQuit))
    , options_(options)
{
}

std::string ConsoleWindow::outcomeLine(const WebProject& project, const WebProject::StepOutcome& outcome)
{
    using Kind = WebProject::StepOutcome::Kind;
    std::string_view root(project.local);
    while (root.size() > 1 && root.back() == '/')
        root.remove_suffix(1);
    const bool local = !root.empty() && outcome.path.size() > root.size() && outcome.path.starts_with(root)
        && outcome.path[root.size()] == '/';
    const std::string path = local ? outcome.path.substr(root.size() + 1) : outcome.path;
    switch (outcome.kind) {
    case Kind::Uploaded: return "uploaded " + path;
    case Kind::Deleted: return "deleted " + path;
    case Kind::Failed: return "failed " + path + ": " + outcome.detail;
    case Kind::Moved: {
        const bool wasLocal = outcome.detail.size() > root.size() && outcome.detail.starts_with(root);
        return "moved " + (wasLocal ? outcome.detail.substr(root.size() + 1) : outcome.detail) + " to " + path;
    }
    case Kind::Archived:
        // A server path: the previous version of a file this run replaced, which its
        // "uploaded" line already stands for.
        if (!local)
            return {};
        return "archived " + path + (outcome.detail.empty() ? std::string() : " to " + outcome.detail);
    }
    return {};
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

void ConsoleWindow::writeHeadersLocked(const WebProject& project, int site)
{
    if (options_.projectHeaders && headedProject_ != &project) {
        headedProject_ = &project;
        headedSite_ = 0;
        writeLocked(printableServerText(fileNamePart(project.projectPath)) + ":");
    }
    if (project.sites.size() > 1 && site >= 1 && site <= static_cast<int>(project.sites.size())
        && (headedSite_ != site || headedProject_ != &project)) {
        headedProject_ = &project;
        headedSite_ = site;
        const FtpSite& named = project.sites[static_cast<size_t>(site - 1)];
        writeLocked(printableServerText("site \"" + named.name + "\" (" + named.url + "):"));
    }
}

void ConsoleWindow::appendLogLine(const std::string& text)
{
    const bool warning = text.starts_with("Warning ");
    if (!shows(Verbosity::Verbose) && !(warning && shows(Verbosity::Normal)))
        return;
    std::lock_guard lock(outputMutex_);
    // Told in words a moment ago.
    if (!lastProblem_.empty() && text.ends_with(lastProblem_)) {
        lastProblem_.clear();
        return;
    }
    // The last guard before the terminal: no line may carry an escape sequence to it.
    writeLocked(printableServerText(text));
}

void ConsoleWindow::reportOutcome(const WebProject& project, const WebProject::StepOutcome& outcome)
{
    const bool failed = outcome.kind == WebProject::StepOutcome::Kind::Failed;
    if (!failed && !shows(Verbosity::Normal))
        return;
    // What a stop held back is no failure of its own: the summary counts it once.
    if (failed && project.cancelRequested)
        return;
    std::string line = outcomeLine(project, outcome);
    if (line.empty() && shows(Verbosity::Verbose))
        line = "archived " + outcome.path + " to " + outcome.detail;
    if (line.empty())
        return;
    std::lock_guard lock(outputMutex_);
    writeHeadersLocked(project, outcome.site);
    writeLocked(printableServerText(line));
}

void ConsoleWindow::explainProblem(const std::string& text)
{
    const std::string line = "tarnwick: " + (errorContext_ ? errorContext_() + ": " : std::string()) + text;
    std::lock_guard lock(outputMutex_);
    lastProblem_ = text;
    writeLocked(printableServerText(line));
}

void ConsoleWindow::appendDetail(const std::string& text)
{
    if (!shows(Verbosity::Debug))
        return;
    std::lock_guard lock(outputMutex_);
    writeLocked(printableServerText(text));
}

void ConsoleWindow::printLine(const std::string& text)
{
    std::lock_guard lock(outputMutex_);
    writeLocked(text);
}

void ConsoleWindow::showProgress(const std::string& text)
{
    if (!options_.progressLine || !shows(Verbosity::Normal))
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
