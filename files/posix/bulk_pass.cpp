// BulkPass on Linux: a pipe between the two sockets, filled and emptied by splice, so that a
// relayed file's bytes are moved as pages and never copied through the host.
#include "files/bulk_pass.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

struct BulkPass::State {
    int readEnd = -1;
    int writeEnd = -1;
    size_t held = 0;
    bool receiverNonBlocking = false;
};

BulkPass::BulkPass(size_t capacity) : state(std::make_unique<State>()) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    state->readEnd = ends[0];
    state->writeEnd = ends[1];
    // A pipe holds 64 KiB unless told; a piece fills it in one go. Where the system allows less,
    // pieces are smaller.
    ::fcntl(state->writeEnd, F_SETPIPE_SZ, static_cast<int>(capacity));
}

BulkPass::~BulkPass() {
    if (state->readEnd >= 0)
        ::close(state->readEnd);
    if (state->writeEnd >= 0)
        ::close(state->writeEnd);
}

bool BulkPass::ready() const {
    return state->readEnd >= 0;
}

int64_t BulkPass::take(TcpSocket& from, size_t max) {
    for (;;) {
        const ssize_t moved = ::splice(from.handle, nullptr, state->writeEnd, nullptr, max,
                                       SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved > 0)
            state->held += static_cast<size_t>(moved);
        return moved;
    }
}

bool BulkPass::put(const char* bytes, size_t count) {
    while (count > 0) {
        const ssize_t written = ::write(state->writeEnd, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        count -= static_cast<size_t>(written);
        state->held += static_cast<size_t>(written);
    }
    return true;
}

bool BulkPass::give(TcpSocket& to, int timeoutMs) {
    // The receiver's socket must not block the splice: a receiver that stops reading would hold
    // the transfer for ever. Its other sends wait in poll already.
    if (!state->receiverNonBlocking) {
        ::fcntl(to.handle, F_SETFL, ::fcntl(to.handle, F_GETFL) | O_NONBLOCK);
        state->receiverNonBlocking = true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (state->held > 0) {
        const ssize_t moved = ::splice(state->readEnd, nullptr, to.handle, nullptr, state->held,
                                       SPLICE_F_MOVE | SPLICE_F_NONBLOCK | SPLICE_F_MORE);
        if (moved > 0) {
            state->held -= static_cast<size_t>(moved);
            continue;
        }
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved == 0 || errno != EAGAIN)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd writable{to.handle, POLLOUT, 0};
        if (left <= 0 || ::poll(&writable, 1, static_cast<int>(left)) <= 0)
            return false;
    }
    return true;
}
