// SlotQueues: direct sends, per-read batches, the writer's poll loop and flow control.
#include "chat/slot_queues.h"

#include "net/socket_errors.h"
#include "net/socket_poll.h"

#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The batch open on this thread, if any, and the slots it touched.
thread_local SlotQueues* BatchOwner = nullptr;
thread_local uint64_t BatchTouched = 0;

uint64_t Bit(uint32_t slot) {
    return uint64_t{1} << slot;
}

} // namespace

SlotQueues::SlotQueues(TcpSocket* slotSockets, uint32_t slotCount)
    : slots(slotSockets), count(slotCount), queues(std::make_unique<Queue[]>(slotCount)) {}

SlotQueues::~SlotQueues() {
    stop();
}

bool SlotQueues::start(std::string& error) {
    waker = std::make_unique<Waker>();
    if (!waker->ready()) {
        error = waker->lastError;
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

void SlotQueues::stop() {
    if (!running.exchange(false))
        return;
    waker->wake();
    Thread::stop();
}

void SlotQueues::clear(uint32_t slot) {
    Queue& queue = queues[slot];
    queue.pending.clear();
    queue.sentBytes = 0;
    queue.writerOwns = false;
    queue.behindSince = {};
}

bool SlotQueues::send(uint32_t slot, const char* bytes, size_t size) {
    Queue& queue = queues[slot];
    std::lock_guard<std::mutex> guard(queue.mutex);
    if (slots[slot].handle == NO_HANDLE)
        return false;
    if (size == 0)
        return true;
    if (queue.left() + size > OUTBOX_LIMIT) {
        // The client stopped reading: drop it rather than let it hold the room up.
        drop(slot);
        return false;
    }
    queue.pending.append(bytes, size);
    if (queue.writerOwns) {
        // Hold the readers at once rather than at the writer's next pass, which may come only
        // after every reader has added another block; the writer then decides when to let go.
        if (!holding && holdsReaders(slot)) {
            holding = true;
            waker->wake();
        }
        return true;
    }
    if (BatchOwner == this && queue.left() < BATCH_BYTES) {
        BatchTouched |= Bit(slot);
        return true;
    }
    if (flush(slot))
        handToWriter(slot);
    return true;
}

bool SlotQueues::flush(uint32_t slot) {
    Queue& queue = queues[slot];
    TcpSocket& socket = slots[slot];
    while (socket.handle != NO_HANDLE && queue.sentBytes < queue.pending.size()) {
        const int32_t chunk = static_cast<int32_t>(std::min<size_t>(queue.left(), 1 << 30));
        const int32_t sent = socket.trySend(queue.pending.data() + queue.sentBytes, chunk);
        if (sent == TcpSocket::WOULD_BLOCK)
            return true;
        if (sent < 0) {
            drop(slot); // the connection broke; its reader will notice and release it
            return false;
        }
        queue.sentBytes += static_cast<size_t>(sent);
        queue.tookAt = Clock::now();
    }
    clear(slot);
    return false;
}

void SlotQueues::handToWriter(uint32_t slot) {
    queues[slot].writerOwns = true;
    dirty.fetch_or(Bit(slot));
    waker->wake();
}

void SlotQueues::drop(uint32_t slot) {
    clear(slot);
    slots[slot].wake(); // the reader sees the end of the connection and releases the slot
}

SlotQueues::Batch::Batch(SlotQueues& queues) : owner(queues) {
    BatchOwner = &owner;
    BatchTouched = 0;
}

SlotQueues::Batch::~Batch() {
    BatchOwner = nullptr;
    flush();
}

void SlotQueues::Batch::flush() {
    const uint64_t touched = BatchTouched;
    BatchTouched = 0;
    owner.flushBatch(touched);
}

void SlotQueues::flushBatch(uint64_t touched) {
    for (uint32_t i = 0; touched != 0 && i < count; ++i) {
        if (!(touched & Bit(i)))
            continue;
        touched &= ~Bit(i);
        std::lock_guard<std::mutex> guard(queues[i].mutex);
        // Sent by another thread meanwhile, or the writer's already.
        if (queues[i].writerOwns || queues[i].left() == 0)
            continue;
        if (flush(i))
            handToWriter(i);
    }
}

bool SlotQueues::holdsReaders(uint32_t slot) {
    Queue& queue = queues[slot];
    if (draining || queue.left() <= HOLD_BYTES) {
        queue.behindSince = {};
        return false;
    }
    const auto now = Clock::now();
    if (queue.behindSince == Clock::time_point{})
        queue.behindSince = now;
    return now - queue.tookAt < std::chrono::milliseconds(STALLED_MS) &&
           now - queue.behindSince < std::chrono::milliseconds(HOLD_MS);
}

void SlotQueues::setHolding(bool hold) {
    if (holding.exchange(hold) && !hold) {
        std::lock_guard<std::mutex> wait(waitMutex);
        released.notify_all();
    }
}

void SlotQueues::waitWhileHeld() {
    if (!holding)
        return;
    // Not under ChatLock or any slot's lock; bounded, so that nothing can hold a reader for long.
    std::unique_lock<std::mutex> wait(waitMutex);
    released.wait_for(wait, std::chrono::milliseconds(HOLD_MS),
                      [this] { return !holding || draining; });
}

bool SlotQueues::empty() {
    for (uint32_t i = 0; i < count; ++i) {
        std::lock_guard<std::mutex> guard(queues[i].mutex);
        if (queues[i].left() > 0)
            return false;
    }
    return true;
}

void SlotQueues::drain(int timeoutMs) {
    draining = true;
    setHolding(false);
    if (!running)
        return;
    std::unique_lock<std::mutex> wait(waitMutex);
    drained.wait_for(wait, std::chrono::milliseconds(timeoutMs), [this] { return empty(); });
}

void SlotQueues::run() {
    std::vector<PollEntry> watched;
    watched.reserve(count + 1);
    uint64_t blocked = 0; // slots waiting for their connection to take more
    while (running) {
        const uint64_t work = dirty.exchange(0) | blocked;
        blocked = 0;
        bool hold = false;
        watched.clear();
        watched.push_back({waker->pollHandle(), POLL_READABLE, 0});
        for (uint32_t i = 0; i < count; ++i) {
            if (!(work & Bit(i)))
                continue;
            std::lock_guard<std::mutex> guard(queues[i].mutex);
            if (!queues[i].writerOwns)
                continue; // released or taken again meanwhile
            if (flush(i)) {
                blocked |= Bit(i);
                watched.push_back({slots[i].handle, POLL_WRITABLE, 0});
                hold = holdsReaders(i) || hold;
            }
        }
        setHolding(hold);
        if (blocked == 0) {
            std::lock_guard<std::mutex> wait(waitMutex);
            drained.notify_all();
        }
        // A handle polled here may be released and reused meanwhile; that only costs an extra
        // pass, since every send happens under the slot's lock after checking its handle. While
        // the readers are held, look again soon: the hold ends by time as well.
        PollSockets(watched.data(), watched.size(), hold ? 10 : -1);
        if (watched[0].ready & POLL_READABLE)
            waker->drain();
    }
}
