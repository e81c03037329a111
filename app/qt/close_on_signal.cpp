// The self-pipe between the signal handler and the window's thread.
#include "app/qt/close_on_signal.h"

#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Read end, write end; -1 while no CloseOnSignal exists. Written before the handlers are
// installed and after they are removed, so the handler never sees a half-made pipe.
int SignalPipe[2] = {-1, -1};

constexpr int CLOSING_SIGNALS[] = {SIGTERM, SIGINT};

extern "C" void OnClosingSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a close request; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = write(SignalPipe[1], &byte, 1);
    errno = savedErrno;
}

void SetHandlers(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : CLOSING_SIGNALS) {
        sigaction(signal, &action, nullptr);
    }
}

} // namespace

CloseOnSignal::CloseOnSignal(QWidget* closing) : window(closing) {
    if (pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        SignalPipe[0] = SignalPipe[1] = -1;
        return; // the signals keep their default action: the program ends at once
    }
    notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &CloseOnSignal::closeWindow);
    SetHandlers(OnClosingSignal);
}

CloseOnSignal::~CloseOnSignal() {
    if (notifier == nullptr) {
        return;
    }
    SetHandlers(SIG_DFL);
    delete notifier;
    close(SignalPipe[0]);
    close(SignalPipe[1]);
    SignalPipe[0] = SignalPipe[1] = -1;
}

void CloseOnSignal::closeWindow() {
    char bytes[16];
    while (read(SignalPipe[0], bytes, sizeof bytes) > 0) {
    }
    window->close();
}
