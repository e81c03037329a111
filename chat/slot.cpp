// Slot: taking and releasing a connection, and sending on it with sends combined across threads.
#include "chat/slot.h"

#include "chat/server_core.h"

#include <algorithm>

namespace {

// The batch open on this thread, if any, and the slots it touched, each once.
thread_local bool BatchOpen = false;
thread_local uint64_t BatchMarks = 0;
thread_local Slot* BatchSlots[SlotWriter::MAX_SLOTS];
thread_local uint32_t BatchCount = 0;

} // namespace

void Slot::bind(uint32_t slotIndex, ServerCore& slotRoom) {
    number = slotIndex;
    owner = &slotRoom;
}

bool Slot::isFree() {
    std::lock_guard<std::mutex> guard(mutex);
    return !socket.open;
}

bool Slot::connected() {
    std::lock_guard<std::mutex> guard(mutex);
    return socket.handle != NO_HANDLE;
}

void Slot::take(SocketHandle handle) {
    std::lock_guard<std::mutex> guard(mutex);
    socket.handle = handle;
    socket.open = true;
    clear();
    tookAt = Clock::now();
    heard = false;
    ended = false;
    takenAt = tookAt;
}

void Slot::wake() {
    std::lock_guard<std::mutex> guard(mutex);
    ended = true;
    socket.wake();
}

bool Slot::release() {
    std::unique_lock<std::mutex> guard(mutex);
    // A sender works on the descriptor outside the lock; it is closed only once the send is over.
    sendDone.wait(guard, [this] { return !sending; });
    if (socket.handle == NO_HANDLE)
        return false;
    clear();
    // close() clears `open` and gives the descriptor back; if it fails the slot stays taken
    // (stuck) until stop, but it never keeps a handle that sends could use.
    if (!socket.close())
        socket.handle = NO_HANDLE;
    return true;
}

size_t Slot::queuedBytes() {
    std::lock_guard<std::mutex> guard(mutex);
    return left();
}

void Slot::clear() {
    queued.clear();
    if (!sending) {
        flight.clear();
        flightSent = 0;
    }
    writerOwns = false;
}

void Slot::drop() {
    clear();
    ended = true;
    socket.wake(); // the reader sees the end of the connection and releases the slot
}

bool Slot::send(const char* bytes, size_t count) {
    std::unique_lock<std::mutex> guard(mutex);
    if (socket.handle == NO_HANDLE)
        return false;
    if (count == 0)
        return true;
    const size_t after = left() + count;
    if (after > FlowControl::FULL_BYTES) {
        // Queued past the point where every sender waits: a connection that stopped reading is
        // dropped rather than let it hold the room up; one that still reads is waited for, up to
        // a bound that nothing passes.
        const auto now = Clock::now();
        if (after > FlowControl::MAX_BYTES ||
            now - tookAt >= std::chrono::milliseconds(FlowControl::STALLED_MS)) {
            drop();
            return false;
        }
    }
    queued.append(bytes, count);
    if (sending || writerOwns) {
        // The sender or the writer takes these bytes with the rest. A long queue slows the
        // readers at once rather than at the writer's next pass.
        if (after > FlowControl::BEHIND_BYTES &&
            owner->flow.raise(FlowControl::of(after, tookAt, Clock::now())))
            owner->writer.handOver(number);
        return true;
    }
    if (BatchOpen && after < BATCH_BYTES) {
        if (!(BatchMarks & (uint64_t{1} << number))) {
            BatchMarks |= uint64_t{1} << number;
            BatchSlots[BatchCount++] = this;
        }
        return true;
    }
    if (sendGathered(guard))
        owner->writer.handOver(number);
    return true;
}

bool Slot::sendGathered(std::unique_lock<std::mutex>& guard) {
    sending = true;
    for (int round = 0; round < SEND_ROUNDS && left() > 0 && socket.handle != NO_HANDLE; ++round) {
        // What others appended meanwhile goes out in the same send, after what is left of the
        // last one.
        if (flightSent == flight.size()) {
            flight.clear();
            flightSent = 0;
            flight.swap(queued);
        } else if (!queued.empty()) {
            flight.append(queued);
            queued.clear();
        }
        const int32_t chunk =
            static_cast<int32_t>(std::min<size_t>(flight.size() - flightSent, size_t{1} << 30));
        guard.unlock();
        const int32_t sent = socket.trySend(flight.data() + flightSent, chunk);
        guard.lock();
        if (sent == TcpSocket::WOULD_BLOCK)
            break;
        if (sent < 0) {
            sending = false;
            drop(); // the connection broke; its reader will notice and release it
            sendDone.notify_all();
            return false;
        }
        flightSent += static_cast<size_t>(sent);
        tookAt = Clock::now();
        if (flightSent < flight.size())
            break; // the connection took part: it has no room for more now
    }
    sending = false;
    sendDone.notify_all();
    if (flightSent == flight.size()) {
        flight.clear();
        flightSent = 0;
    }
    if (left() == 0 || socket.handle == NO_HANDLE)
        return false;
    // The rest waits for the writer, which sends it once the connection takes more.
    writerOwns = true;
    if (left() > FlowControl::BEHIND_BYTES)
        owner->flow.raise(FlowControl::of(left(), tookAt, Clock::now()));
    return true;
}

bool Slot::writeQueued(SocketHandle& handle, FlowControl::Pressure& pressure) {
    std::unique_lock<std::mutex> guard(mutex);
    if (!writerOwns || sending)
        return false; // released, taken again, or sent by someone else meanwhile
    writerOwns = false;
    if (!sendGathered(guard))
        return false;
    handle = socket.handle;
    pressure = FlowControl::of(left(), tookAt, Clock::now());
    return true;
}

Slot::Batch::Batch() {
    BatchOpen = true;
    BatchMarks = 0;
    BatchCount = 0;
}

Slot::Batch::~Batch() {
    flush();
    BatchOpen = false;
}

void Slot::Batch::flush() {
    const uint32_t touched = BatchCount;
    BatchCount = 0;
    BatchMarks = 0;
    for (uint32_t i = 0; i < touched; ++i) {
        Slot& slot = *BatchSlots[i];
        std::unique_lock<std::mutex> guard(slot.mutex);
        // Another thread sending on the slot takes these bytes too; the writer's are its own.
        if (slot.sending || slot.writerOwns || slot.left() == 0 || slot.socket.handle == NO_HANDLE)
            continue;
        if (slot.sendGathered(guard))
            slot.owner->writer.handOver(slot.number);
    }
}
