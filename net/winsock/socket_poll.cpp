// PollSockets over WSAPoll.
#include "net/socket_poll.h"

#include <winsock2.h>

#include <vector>

int PollSockets(PollEntry* entries, size_t count, int timeoutMs) {
    // WSAPoll rejects an empty array and has no notion of an entry to skip, so only the entries
    // with a handle go in, and `index` leads back to them.
    thread_local std::vector<WSAPOLLFD> watched;
    thread_local std::vector<size_t> index;
    watched.clear();
    index.clear();
    for (size_t i = 0; i < count; ++i) {
        entries[i].ready = 0;
        if (entries[i].handle == NO_HANDLE)
            continue;
        // WSAPoll refuses the request flags it does not know (POLLPRI, for one).
        SHORT events = 0;
        if (entries[i].events & POLL_READABLE)
            events |= POLLRDNORM;
        if (entries[i].events & POLL_WRITABLE)
            events |= POLLWRNORM;
        watched.push_back({entries[i].handle, events, 0});
        index.push_back(i);
    }
    if (watched.empty()) {
        ::Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        return 0;
    }
    const int result = ::WSAPoll(watched.data(), static_cast<ULONG>(watched.size()), timeoutMs);
    if (result <= 0)
        return result < 0 ? -1 : 0;
    for (size_t k = 0; k < watched.size(); ++k) {
        PollEntry& entry = entries[index[k]];
        const SHORT got = watched[k].revents;
        if (got & (POLLERR | POLLHUP | POLLNVAL))
            entry.ready = entry.events;
        if (got & POLLRDNORM)
            entry.ready |= POLL_READABLE;
        if (got & POLLWRNORM)
            entry.ready |= POLL_WRITABLE;
    }
    return result;
}
