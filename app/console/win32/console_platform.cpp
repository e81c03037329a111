// The console's control events wake the StopRequest's waker. Windows runs the handler on a thread
// of its own and ends the process when a close, logoff or shutdown handler returns, so that
// handler waits until the program has ended its work.
#include "app/console/console_platform.h"
#include "app/console/stop_request.h"
#include "text/wide_text.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

std::atomic<Waker*> StopWaker{nullptr};
// Manual-reset, set by StopSignalsFinished; made once with the handler.
HANDLE Finished = nullptr;

// Windows gives a closing console 5 seconds before it ends the process anyway.
constexpr DWORD CLOSE_WAIT_MS = 4500;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    Waker* waker = StopWaker.load();
    if (waker == nullptr)
        return FALSE;
    waker->wake();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        ::WaitForSingleObject(Finished, CLOSE_WAIT_MS);
    return TRUE;
}

} // namespace

void CatchStopSignals(Waker& waker) {
    if (Finished == nullptr)
        Finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::ResetEvent(Finished);
    StopWaker = &waker;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void ReleaseStopSignals() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    StopWaker = nullptr;
    // A handler still waiting may return now.
    ::SetEvent(Finished);
}

void StopSignalsFinished() {
    ::SetEvent(Finished);
}

void UseUtf8Console() {
    ::SetConsoleOutputCP(CP_UTF8);
}

std::vector<std::string> ProgramArguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    for (int i = 1; wide != nullptr && i < count; ++i)
        arguments.push_back(Utf8FromWide(wide[i]));
    ::LocalFree(wide);
    return arguments;
}
