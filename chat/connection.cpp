// Connection: taking, reading, sending on and releasing one slot's connection.
#include "chat/connection.h"

#include "net/socket_errors.h"
#include "net/socket_poll.h"

#include <mutex>

namespace {

// What the system keeps unsent for one connection beyond what is on its way: what waits longer
// stays in the connection's queue, where the flow control sees whose it is.
constexpr int UNSENT_BYTES = 64 * 1024;

} // namespace

bool Connection::startReader(std::function<void()> loop, std::string& error) {
    if (!readerWaker.ready()) {
        error = readerWaker.lastError;
        return false;
    }
    quit = false;
    if (!reader.start(std::move(loop))) {
        error = SocketErrorText(WSA_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

void Connection::quitReader() {
    quit = true;
    readerWaker.wake();
    reader.stop();
}

bool Connection::isFree() {
    std::lock_guard<CheckedMutex> guard(mutex);
    return !socket.open && !serving;
}

bool Connection::connected() {
    std::lock_guard<CheckedMutex> guard(mutex);
    return socket.handle != NO_HANDLE;
}

void Connection::take(SocketHandle handle) {
    {
        std::lock_guard<CheckedMutex> guard(mutex);
        socket.handle = handle;
        socket.open = true;
        serving = true;
        blocked = false;
        stalled = false;
        tookAt = Clock::now();
        takenAt = tookAt;
        heard = false;
        ending = false;
    }
}

void Connection::serve(const KeepAliveTimings& keepAlive) {
    // Only the reader closes the handle, and it serves the connection only from here on.
    socket.setNoDelay();
    socket.setKeepAlive(keepAlive);
    socket.limitUnsent(UNSENT_BYTES);
    fresh = true;
    readerWaker.wake();
}

void Connection::end() {
    std::lock_guard<CheckedMutex> guard(mutex);
    ending = true;
    socket.wake();
    readerWaker.wake();
}

void Connection::wait(int timeoutMs) {
    PollEntry watched{readerWaker.pollHandle(), POLL_READABLE, 0};
    PollSockets(&watched, 1, timeoutMs);
    if (watched.ready)
        readerWaker.drain();
}

void Connection::release(FlowControl& flow, uint64_t& released) {
    std::lock_guard<CheckedMutex> guard(mutex);
    letGoAll(flow, released);
    if (socket.handle == NO_HANDLE)
        return;
    if (sending) {
        // The sender works on the descriptor outside the lock: it closes it once its send is over.
        closing = true;
        discard = true;
        return;
    }
    clearQueue();
    close();
}

bool Connection::finish() {
    std::lock_guard<CheckedMutex> guard(mutex);
    serving = false;
    behind = false;
    return !socket.open;
}

void Connection::forceRelease() {
    std::lock_guard<CheckedMutex> guard(mutex);
    serving = false;
    if (socket.handle != NO_HANDLE && !sending) {
        clearQueue();
        close();
    }
}

void Connection::close() {
    mutex.assertHeld("Connection::close");
    if (!socket.close())
        socket.handle = NO_HANDLE;
    closing = false;
}

void Connection::clearQueue() {
    mutex.assertHeld("Connection::clearQueue");
    queue.clear();
    blocked = false;
    discard = false;
}

bool Connection::stalledAt(Clock::time_point now) const {
    mutex.assertHeld("Connection::stalledAt");
    return queue.size() > 0 && now - tookAt >= std::chrono::milliseconds(FlowControl::STALLED_MS);
}

void Connection::holdIfBehind(uint32_t sender, FlowControl& flow) {
    mutex.assertHeld("Connection::holdIfBehind");
    if (sender >= FlowControl::SENDERS || stalled || (holding & FlowControl::bit(sender)) ||
        queue.from(sender) <= FlowControl::BEHIND_BYTES)
        return;
    holding |= FlowControl::bit(sender);
    flow.hold(sender);
}

void Connection::letGoAll(FlowControl& flow, uint64_t& released) {
    mutex.assertHeld("Connection::letGoAll");
    for (uint32_t sender = 0; holding != 0; ++sender) {
        if (!(holding & FlowControl::bit(sender)))
            continue;
        holding &= ~FlowControl::bit(sender);
        if (flow.release(sender))
            released |= FlowControl::bit(sender);
    }
}

void Connection::drop(FlowControl& flow, uint64_t& released) {
    mutex.assertHeld("Connection::drop");
    letGoAll(flow, released);
    if (sending)
        discard = true;
    else
        clearQueue();
    ending = true;
    socket.wake(); // the reader sees the end of the connection and releases it
    readerWaker.wake();
}

bool Connection::append(uint32_t sender, const char* bytes, size_t count, FlowControl& flow,
                        uint64_t& released) {
    std::lock_guard<CheckedMutex> guard(mutex);
    if (socket.handle == NO_HANDLE || ending)
        return false;
    const size_t after = queue.size() + count;
    if (after > FlowControl::FULL_BYTES) {
        // A connection that stopped reading is dropped rather than let it grow; one that still
        // reads is queued for, up to a bound that nothing passes.
        if (after > FlowControl::MAX_BYTES || stalledAt(Clock::now())) {
            drop(flow, released);
            return false;
        }
    }
    if (queue.size() == 0 && !sending)
        tookAt = Clock::now(); // nothing waited: the connection is not behind from before
    queue.append(sender, bytes, count);
    holdIfBehind(sender, flow);
    return true;
}

Connection::Sent Connection::send(int rounds, bool asWriter, FlowControl& flow, Outcome& outcome) {
    uint64_t& released = outcome.released;
    std::unique_lock<CheckedMutex> guard(mutex);
    if (sending)
        return Sent::Elsewhere;
    if (socket.handle == NO_HANDLE || queue.size() == 0)
        return Sent::Done;
    if (blocked && !asWriter)
        return Sent::Elsewhere;
    blocked = false;
    sending = true;
    bool broke = false;
    for (int round = 0; round < rounds && queue.size() > 0 && !discard; ++round) {
        const std::string_view bytes = queue.next();
        const auto length = static_cast<int32_t>(std::min<size_t>(bytes.size(), size_t{1} << 30));
        guard.unlock();
        const int32_t sent = socket.trySend(bytes.data(), length);
        guard.lock();
        if (sent == TcpSocket::WOULD_BLOCK) {
            blocked = true;
            break;
        }
        if (sent < 0) {
            broke = true;
            break;
        }
        outcome.gaveBack |= queue.sent(static_cast<size_t>(sent), [&](uint32_t sender) {
            if (sender < FlowControl::SENDERS && (holding & FlowControl::bit(sender))) {
                holding &= ~FlowControl::bit(sender);
                if (flow.release(sender))
                    released |= FlowControl::bit(sender);
            }
        });
        tookAt = Clock::now();
        if (stalled) {
            // It reads again: it holds the senders it is behind on, as any connection does.
            stalled = false;
            for (uint32_t sender = 0; sender < FlowControl::SENDERS; ++sender)
                holdIfBehind(sender, flow);
        }
        if (sent < length) {
            blocked = true; // it took part: it has no room for more now
            break;
        }
    }
    sending = false;
    if (discard)
        clearQueue();
    if (closing) {
        close();
        return serving ? Sent::Done : Sent::Freed;
    }
    if (broke) {
        drop(flow, released); // its reader notices the end and releases it
        return Sent::Done;
    }
    if (queue.size() == 0)
        return Sent::Done;
    return blocked ? Sent::Blocked : Sent::More;
}

Connection::Outcome Connection::sendEach(std::span<Connection> connections, uint64_t which,
                                         int rounds, bool asWriter, FlowControl& flow) {
    Outcome outcome;
    for (uint32_t slot = 0; slot < connections.size(); ++slot) {
        if (!(which & FlowControl::bit(slot)))
            continue;
        switch (connections[slot].send(rounds, asWriter, flow, outcome)) {
        case Sent::Blocked:
            outcome.blocked |= FlowControl::bit(slot);
            break;
        case Sent::More:
            outcome.more |= FlowControl::bit(slot);
            break;
        case Sent::Freed:
            outcome.freed = true;
            break;
        case Sent::Done:
        case Sent::Elsewhere:
            break;
        }
    }
    return outcome;
}

void Connection::wakeReaders(std::span<Connection> connections, uint64_t senders) {
    for (uint32_t slot = 0; senders != 0 && slot < connections.size(); ++slot) {
        if (senders & FlowControl::bit(slot)) {
            senders &= ~FlowControl::bit(slot);
            connections[slot].readerWaker.wake();
        }
    }
}

SocketHandle Connection::pendingHandle() {
    std::lock_guard<CheckedMutex> guard(mutex);
    return queue.size() > 0 ? socket.handle : NO_HANDLE;
}

size_t Connection::queuedBytes() {
    std::lock_guard<CheckedMutex> guard(mutex);
    return queue.size();
}

Connection::Clock::time_point Connection::checkStalled(Clock::time_point now, FlowControl& flow,
                                                       uint64_t& released) {
    std::lock_guard<CheckedMutex> guard(mutex);
    if (holding == 0)
        return Clock::time_point::max();
    if (!stalledAt(now))
        return tookAt + std::chrono::milliseconds(FlowControl::STALLED_MS);
    stalled = true;
    letGoAll(flow, released);
    return Clock::time_point::max();
}
