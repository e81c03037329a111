// PollSockets: waits until one of several sockets (or a Waker) can be read or written.
#pragma once

#include "net/socket_handle.h"

#include <cstddef>

// Bits of PollEntry::events and PollEntry::ready.
inline constexpr unsigned POLL_READABLE = 1;
inline constexpr unsigned POLL_WRITABLE = 2;

struct PollEntry {
    SocketHandle handle = NO_HANDLE; // NO_HANDLE: the entry is skipped
    unsigned events = 0;             // what to wait for
    // Set by PollSockets: what the handle is ready for. An error or hang-up on the connection
    // counts as every event asked for, so that the caller's next call meets the failure itself.
    unsigned ready = 0;
};

// Waits until at least one entry is ready or timeoutMs passed (negative: no limit). A signal does
// not cut the wait short. Returns how many entries are ready, 0 when the time ran out, -1 when the
// platform's poll failed.
int PollSockets(PollEntry* entries, size_t count, int timeoutMs);
