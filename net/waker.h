// Waker: lets any thread wake a thread that waits in PollSockets.
#pragma once

#include "net/socket_handle.h"

#include <atomic>
#include <string>

class Waker {
public:
    // Makes the handles; check ready() before use.
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    // False when the platform could not make the handles; lastError then says why.
    bool ready() const { return readHandle != NO_HANDLE; }
    std::string lastError;

    // From any thread, any number of times: the waiting thread's next (or current) poll of
    // pollHandle() finds it readable. Only the first call after a drain() costs a system call.
    void wake();
    // On the waiting thread, after its poll and before it looks for work: takes every pending
    // wake-up, so that the next poll waits again. A wake() that races with drain() is either taken
    // here (and its work is seen by the look that follows) or left for the next poll.
    void drain();
    // The handle to watch for POLL_READABLE.
    SocketHandle pollHandle() const { return readHandle; }

private:
    SocketHandle readHandle = NO_HANDLE;
    SocketHandle writeHandle = NO_HANDLE;
    std::atomic<bool> pending{false};
};
