#include "shell/windowless_runner.h"

#include "shell/application.h"
#include "shell/console_window.h"
#include "shell/run_controller.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

class UniqueFd {
public:
    explicit UniqueFd(int descriptor)
        : descriptor_(descriptor)
    {
    }
    ~UniqueFd()
    {
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    [[nodiscard]] int get() const { return descriptor_; }

private:
    int descriptor_;
};

class BlockedSignals {
public:
    BlockedSignals()
    {
        sigemptyset(&set_);
        sigaddset(&set_, SIGTERM);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    }
    ~BlockedSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    BlockedSignals(const BlockedSignals&) = delete;
    BlockedSignals& operator=(const BlockedSignals&) = delete;
    [[nodiscard]] const sigset_t& set() const { return set_; }

private:
    sigset_t set_;
    sigset_t previous_;
};

void drain(int descriptor, size_t size)
{
    char buffer[sizeof(signalfd_siginfo)];
    while (::read(descriptor, buffer, size) < 0 && errno == EINTR) { }
}

} // namespace

WindowlessRunner::WindowlessRunner(Application& application, FILE* out)
    : application_(application)
    , out_(out)
{
}

int WindowlessRunner::run(const std::string& argument)
{
    BlockedSignals blocked;
    UniqueFd signals(::signalfd(-1, &blocked.set(), SFD_CLOEXEC));
    UniqueFd quit(::eventfd(0, EFD_CLOEXEC));
    if (signals.get() < 0 || quit.get() < 0) {
        application_.log().showMessage("windowless start failed: no signalfd or eventfd");
        return 1;
    }

    const bool service = argument == "-service";
    ConsoleWindow view(application_.projects(), out_, [&quit] {
        const uint64_t one = 1;
        while (::write(quit.get(), &one, sizeof one) < 0 && errno == EINTR) { }
    });
    view.setSelected(application_.selectedProject());
    RunController controller(view);
    controller.setDiagnosticLog(&application_.log());
    controller.setArchiveMarks(&application_.archiveMarks());
    controller.setSelected(application_.selectedProject());

    if (service) {
        application_.log().logLine("Starting Tarnwick", LogLineKind::Plain);
    } else if (!controller.actOnCommandLine(argument)) {
        std::fprintf(stderr, "tarnwick: no project matches \"%s\" in %s\n", argument.c_str(),
            application_.dataDirectory().c_str());
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    auto nextTick = Clock::now() + std::chrono::seconds(1);
    bool interrupted = false;
    for (;;) {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now()).count();
        pollfd watched[2] = { { signals.get(), POLLIN, 0 }, { quit.get(), POLLIN, 0 } };
        int ready = ::poll(watched, 2, static_cast<int>(std::max<int64_t>(wait, 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            application_.log().logLine("poll failed in the windowless loop", LogLineKind::Error);
            interrupted = true;
            break;
        }
        if (watched[0].revents & POLLIN) {
            drain(signals.get(), sizeof(signalfd_siginfo));
            interrupted = true;
            break;
        }
        if (watched[1].revents & POLLIN) {
            drain(quit.get(), sizeof(uint64_t));
            break;
        }
        if (Clock::now() >= nextTick) {
            controller.onTimerTick();
            nextTick += std::chrono::seconds(1);
            // A suspended machine must not make up for the lost seconds all at once.
            if (nextTick < Clock::now())
                nextTick = Clock::now() + std::chrono::seconds(1);
        }
    }

    if (interrupted) {
        // The run in progress sees its cancel flag, ends at its next check and records
        // nothing; the controller's destructor waits for it.
        controller.requestStop();
        if (service)
            application_.log().logLine("Stopping Tarnwick", LogLineKind::Plain);
        return service ? 0 : 1;
    }
    controller.waitUntilIdle();
    return controller.anyRunFailed() ? 1 : 0;
}
