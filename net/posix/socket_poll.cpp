// PollSockets over poll(2).
#include "net/socket_poll.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <vector>

int PollSockets(PollEntry* entries, size_t count, int timeoutMs) {
    // One array per thread, reused: a loop that polls for every batch allocates only at first.
    thread_local std::vector<pollfd> watched;
    watched.resize(count);
    for (size_t i = 0; i < count; ++i) {
        short events = 0;
        if (entries[i].events & POLL_READABLE)
            events |= POLLIN;
        if (entries[i].events & POLL_WRITABLE)
            events |= POLLOUT;
        watched[i] = {entries[i].handle, events, 0};
        entries[i].ready = 0;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int left = timeoutMs;
    int result;
    while ((result = ::poll(watched.data(), count, left)) < 0 && errno == EINTR) {
        if (timeoutMs < 0)
            continue;
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        left = remaining.count() > 0 ? static_cast<int>(remaining.count()) : 0;
    }
    if (result <= 0)
        return result;
    for (size_t i = 0; i < count; ++i) {
        const short got = watched[i].revents;
        if (got & (POLLERR | POLLHUP | POLLNVAL))
            entries[i].ready = entries[i].events;
        if (got & POLLIN)
            entries[i].ready |= POLL_READABLE;
        if (got & POLLOUT)
            entries[i].ready |= POLL_WRITABLE;
    }
    return result;
}
