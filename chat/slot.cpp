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
            owner->writer.handOver(SlotWriter::bit(number));
        return true;
    }
    if (BatchOpen && after < BATCH_BYTES) {
        if (!(BatchMarks & (uint64_t{1} << number))) {
            BatchMarks |= uint64_t{1} << number;
            BatchSlots[BatchCount++] = this;
        }
        return true;
    }
    if (sendGathered(guard, SEND_ROUNDS) != Left::Nothing)
        owner->writer.handOver(SlotWriter::bit(number));
    return true;
}

Slot::Left Slot::sendGathered(std::unique_lock<std::mutex>& guard, int rounds) {
    sending = true;
    bool blocked = false;
    for (int round = 0; round < rounds && left() > 0 && socket.handle != NO_HANDLE; ++round) {
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
        if (sent == TcpSocket::WOULD_BLOCK) {
            blocked = true;
            break;
        }
        if (sent < 0) {
            sending = false;
            drop(); // the connection broke; its reader will notice and release it
            sendDone.notify_all();
            return Left::Nothing;
        }
        flightSent += static_cast<size_t>(sent);
        tookAt = Clock::now();
        if (flightSent < flight.size()) {
            blocked = true; // the connection took part: it has no room for more now
            break;
        }
    }
    sending = false;
    sendDone.notify_all();
    if (flightSent == flight.size()) {
        flight.clear();
        flightSent = 0;
        // What a flood made the buffers grow to is given back once it is all sent, so that a
        // room that has quietened down holds little for each connection.
        if (queued.empty() && flight.capacity() + queued.capacity() > 2 * BATCH_BYTES) {
            flight = std::string();
            queued = std::string();
        }
    }
    if (left() == 0 || socket.handle == NO_HANDLE)
        return Left::Nothing;
    // The rest waits for the writer, which sends it once the connection takes more.
    writerOwns = true;
    if (left() > FlowControl::BEHIND_BYTES)
        owner->flow.raise(FlowControl::of(left(), tookAt, Clock::now()));
    return blocked ? Left::Blocked : Left::More;
}

Slot::Left Slot::writeQueued(SocketHandle& handle, FlowControl::Pressure& pressure) {
    std::unique_lock<std::mutex> guard(mutex);
    if (!writerOwns || sending)
        return Left::Nothing; // released, taken again, or sent by someone else meanwhile
    writerOwns = false;
    // One send per pass: what gathers for the slot meanwhile goes out together on the next one.
    const Left rest = sendGathered(guard, 1);
    if (rest != Left::Nothing) {
        handle = socket.handle;
        pressure = FlowControl::of(left(), tookAt, Clock::now());
    }
    return rest;
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
    if (touched == 0)
        return;
    // Every slot of a batch belongs to one server.
    ServerCore& room = *BatchSlots[0]->owner;
    // While another thread sends for the room, this one's lines wait for the writer's pass
    // rather than each costing every slot a send: under load, one send per slot and pass carries
    // the lines of every reader. A quiet room's line goes straight out from here.
    const bool busy = room.senders.fetch_add(1) > 0 || room.writer.busy();
    uint64_t handed = 0;
    for (uint32_t i = 0; i < touched; ++i) {
        Slot& slot = *BatchSlots[i];
        std::unique_lock<std::mutex> guard(slot.mutex);
        // Another thread sending on the slot takes these bytes too; the writer's are its own.
        if (slot.sending || slot.writerOwns || slot.left() == 0 || slot.socket.handle == NO_HANDLE)
            continue;
        if (busy) {
            slot.writerOwns = true;
            handed |= SlotWriter::bit(slot.number);
        } else if (slot.sendGathered(guard, SEND_ROUNDS) != Left::Nothing) {
            handed |= SlotWriter::bit(slot.number);
        }
    }
    room.senders.fetch_sub(1);
    if (handed != 0)
        room.writer.handOver(handed);
}
