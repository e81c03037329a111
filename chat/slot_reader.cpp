// SlotReader: waits for a connection, reads it into whole messages for the handler, and waits
// again.
#include "chat/slot_reader.h"

#include "chat/server_core.h"
#include "chat/slot.h"
#include "wire/message_framer.h"

#include <algorithm>
#include <cstring>

SlotReader::~SlotReader() {
    quit();
}

void SlotReader::assign() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        busy = true;
        assigned = true;
    }
    // Outside the lock: the reader wakes to a free mutex rather than blocking on it again while
    // the accept loop, which may have more connections to take, still holds it.
    changed.notify_all();
}

void SlotReader::waitIdle() {
    std::unique_lock<std::mutex> guard(mutex);
    changed.wait(guard, [this] { return !busy; });
}

void SlotReader::quit() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        quitting = true;
        changed.notify_all();
    }
    stop();
}

void SlotReader::run() {
    // A flood keeps every reader busy: the window must still answer.
    lowerPriority();
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(mutex);
            changed.wait(guard, [this] { return assigned || quitting; });
            if (quitting)
                return;
            assigned = false;
        }
        serve();
        {
            std::lock_guard<std::mutex> guard(mutex);
            busy = false;
            changed.notify_all();
        }
        slot.room().slotFreed();
    }
}

void SlotReader::serve() {
    ServerCore& room = slot.room();
    TcpSocket& socket = slot.socket;
    const auto number = static_cast<int32_t>(slot.index());
    MessageFramer framer(Receiver::Host);
    FlowControl::Budget budget;
    auto deliver = [&room, number](char* bytes, int32_t count) {
        if (room.handler)
            room.handler(number, bytes, count);
    };
    // The host waits for every message's newline however long it takes: no timing rule.
    auto never = [](int) {
        return false;
    };
    const auto ended = [this] {
        return slot.ended.load();
    };
    // One read takes what a flood has waiting, and the framer gets it in pieces of what it has
    // room for. Sends that the handler calls make go out when the read is handled, in one send
    // per slot.
    char staged[READ_BYTES];
    while (slot.connected()) {
        room.flow.waitTurn(budget, ended);
        // Only this thread and, after joining it, stop() release the slot, so the descriptor
        // stays valid while this receive runs.
        const int32_t received = socket.recv(staged, READ_BYTES);
        if (received <= 0)
            break;
        if (!slot.heard.load(std::memory_order_relaxed))
            slot.heard = true;
        budget.spend(static_cast<size_t>(received));
        Slot::Batch batch;
        const auto total = static_cast<uint32_t>(received);
        for (uint32_t at = 0; at < total;) {
            const uint32_t piece = std::min(total - at, framer.spaceSize());
            std::memcpy(framer.space(), staged + at, piece);
            at += piece;
            framer.received(piece, deliver, never);
        }
    }
    framer.flush(deliver); // drops a message cut by the connection's end (see MessageFramer)
    const bool fromClient = !room.stopping;
    if (slot.release())
        room.slotFreed();
    if (fromClient && room.lostHandler)
        room.lostHandler(number);
}
