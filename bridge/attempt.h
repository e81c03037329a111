// Attempt: one try to reach a peer (the lookup, the connect, a TLS handshake), run on a thread of
// its own, so that the bridge's loop goes on serving the other side and its stop handle while a
// network waits. The thread wakes the Waker it was given when it is done; the loop then takes
// the connection. The destructor waits for the thread, which the try's own time limit bounds.
#pragma once

#include "net/waker.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

template <class Connection> class Attempt {
public:
    // Makes the connection, or none with the reason in error.
    using Work = std::function<std::unique_ptr<Connection>(std::string& error)>;

    Attempt(Work work, Waker& waker)
        : thread([this, work = std::move(work), &waker] {
              connection = work(error);
              finished = true;
              waker.wake();
          }) {}
    ~Attempt() {
        if (thread.joinable())
            thread.join();
    }
    Attempt(const Attempt&) = delete;
    Attempt& operator=(const Attempt&) = delete;

    bool done() const { return finished; }
    // Once done(): the connection, or none with the reason in reason.
    std::unique_ptr<Connection> take(std::string& reason) {
        thread.join();
        reason = error;
        return std::move(connection);
    }

private:
    // Written by the thread only, read after it has been joined.
    std::unique_ptr<Connection> connection;
    std::string error;
    std::atomic<bool> finished{false};
    std::thread thread; // last: starts once everything above exists
};
