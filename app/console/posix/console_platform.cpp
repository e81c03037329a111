// The console on Linux: SIGTERM and SIGINT wake the StopRequest's waker; SIGPIPE is ignored.
#include "app/console/console_platform.h"
#include "app/console/stop_request.h"

#include <atomic>
#include <cerrno>
#include <csignal>

namespace {

// Set before the handlers are installed and cleared after they are removed.
std::atomic<Waker*> StopWaker{nullptr};

constexpr int STOP_SIGNALS[] = {SIGTERM, SIGINT};

extern "C" void OnStopSignal(int) {
    const int savedErrno = errno;
    // Waker::wake is an atomic exchange and a write(2): both safe in a signal handler.
    if (Waker* waker = StopWaker.load())
        waker->wake();
    errno = savedErrno;
}

void SetHandlers(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : STOP_SIGNALS)
        sigaction(signal, &action, nullptr);
}

} // namespace

void CatchStopSignals(Waker& waker) {
    StopWaker = &waker;
    SetHandlers(OnStopSignal);
    // An output that nobody reads any more (a closed pipe) costs its lines, not the program.
    std::signal(SIGPIPE, SIG_IGN);
}

void ReleaseStopSignals() {
    SetHandlers(SIG_DFL);
    StopWaker = nullptr;
}

void StopSignalsFinished() {}

void UseUtf8Console() {}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}
