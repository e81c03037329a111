// StopRequest: the requests to end a console program, as one handle to wait on. SIGTERM and
// SIGINT (a service manager's stop, Ctrl+C in a terminal) on Linux; Ctrl+C, Ctrl+Break and the
// console window's close, the logoff and the shutdown on Windows.
//
// The handler only wakes a Waker (a byte into a pipe, all a signal handler may safely do); the
// program's own thread waits on it and then ends everything in its usual order. One at a time;
// the destructor puts the default handlers back. When the Waker cannot be made, the handlers stay
// the default ones: a request then ends the program at once.
#pragma once

#include "net/socket_handle.h"
#include "net/waker.h"

#include <string>
#include <vector>

class StopRequest {
public:
    StopRequest();
    ~StopRequest();
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    // Readable once a stop was asked, for a thread that polls other handles too.
    SocketHandle pollHandle() const { return waker.pollHandle(); }
    // Waits until a stop is asked.
    void wait();
    // Forgets the requests made so far, for a caller that answers each one (pollHandle() is not
    // readable again until the next).
    void clear() { waker.drain(); }
    // The program has ended its work. Windows ends a process as soon as the handler of a closing
    // console returns, so that handler waits for this (at most a few seconds).
    void finished();

private:
    Waker waker;
};

// Console programs print UTF-8: on Windows the console is told so; elsewhere nothing changes.
void UseUtf8Console();
// The program's arguments after its name, as UTF-8 (Windows gives main() the ANSI code page's).
std::vector<std::string> ProgramArguments(int argc, char** argv);
