// SlotWriter: the poll loop over the connections that are behind.
#include "chat/slot_writer.h"

#include "net/heap.h"
#include "net/socket_errors.h"
#include "net/socket_poll.h"

#include <algorithm>
#include <vector>

bool SlotWriter::start(std::string& error) {
    if (!waker.ready()) {
        error = waker.lastError;
        return false;
    }
    running = true;
    if (!Thread::start()) {
        running = false;
        error = SocketErrorText(WSA_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

void SlotWriter::finish(int timeoutMs) {
    finishBy = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!running.exchange(false))
        return;
    waker.wake();
    Thread::stop();
}

void SlotWriter::handOver(uint64_t slotBits) {
    batches.fetch_add(1, std::memory_order_relaxed);
    dirty.fetch_or(slotBits);
    // Pairs with run()'s store of `asleep` before its last look at `dirty`: either the writer
    // sees these bits then, or this sees it asleep and wakes it.
    if (asleep.exchange(false))
        waker.wake();
}

void SlotWriter::giveBackMemory() {
    trimWanted = true;
    if (asleep.exchange(false))
        waker.wake();
}

bool SlotWriter::allSent() {
    return std::all_of(connections.begin(), connections.end(),
                       [](Connection& connection) { return connection.queuedBytes() == 0; });
}

void SlotWriter::run() {
    using Clock = std::chrono::steady_clock;
    std::vector<PollEntry> watched;
    watched.reserve(connections.size() + 1);
    uint64_t blocked = 0;  // connections waiting for room to take more
    uint64_t writable = 0; // of those, the ones the last poll found able to take more
    uint64_t again = 0;    // connections that took all they were given, with more gathered since
    for (;;) {
        // Passes pay off only while several batches gather between them: with one at a time (a
        // quiet room, or lines that wait for each other's answers) each would only wait.
        const bool gathering = batches.exchange(0, std::memory_order_relaxed) > 1;
        const uint64_t work = dirty.exchange(0) | again | writable;
        writable = 0;
        const Connection::Outcome sent = Connection::sendEach(connections, work, 1, true, flow);
        blocked = (blocked & ~work) | sent.blocked;
        again = sent.more;
        if (sent.gaveBack)
            trimWanted = true;
        uint64_t released = sent.released;
        // The connections to poll for room. A handle polled here may be released and reused
        // meanwhile; that costs an extra pass at most, since a send checks the connection's handle
        // under its lock and a handle is closed only once the send in progress is over.
        watched.clear();
        watched.push_back({waker.pollHandle(), POLL_READABLE, 0});
        for (uint32_t i = 0; i < connections.size(); ++i) {
            if (!(blocked & FlowControl::bit(i)))
                continue;
            const SocketHandle pending = connections[i].pendingHandle();
            if (pending == NO_HANDLE)
                blocked &= ~FlowControl::bit(i); // dropped or released meanwhile
            else
                watched.push_back({pending, POLL_WRITABLE, 0});
        }
        // A connection that holds a sender and has stopped reading lets it go; the next time one
        // would stop counting is the only time the writer wakes for by itself.
        const auto now = Clock::now();
        auto wakeAt = Clock::time_point::max();
        for (uint32_t i = 0; i < connections.size(); ++i) {
            if (blocked & FlowControl::bit(i))
                wakeAt = std::min(wakeAt, connections[i].checkStalled(now, flow, released));
        }
        Connection::wakeReaders(connections, released);
        if (sent.freed)
            freed.wake();
        if (!running) {
            // Finishing: until everything is sent, or the time given runs out.
            if ((again | blocked) == 0 && dirty.load() == 0 && allSent())
                return;
            if (now >= finishBy.load())
                return;
            wakeAt = std::min(wakeAt, finishBy.load());
        }
        int timeoutMs = -1;
        if (wakeAt != Clock::time_point::max())
            timeoutMs = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - now).count() + 1);
        if (gathering || again != 0) {
            // Busy: the next pass in PASS_MS, with what gathers meanwhile.
            timeoutMs = timeoutMs < 0 ? PASS_MS : std::min(timeoutMs, PASS_MS);
        } else {
            if (trimWanted.exchange(false))
                GiveBackFreeMemory(); // the room is quiet again after a flood
            asleep = true;
            if (dirty.load() != 0 && asleep.exchange(false))
                timeoutMs = 0;
        }
        PollSockets(watched.data(), watched.size(), timeoutMs);
        asleep = false;
        if (watched[0].ready & POLL_READABLE)
            waker.drain();
        size_t entry = 1;
        for (uint32_t i = 0; i < connections.size(); ++i) {
            if (!(blocked & FlowControl::bit(i)))
                continue;
            if (watched[entry++].ready)
                writable |= FlowControl::bit(i);
        }
    }
}
