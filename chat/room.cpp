// Room: the readers' loop and the way a message goes out to the connections.
#include "chat/room.h"

#include "wire/message_framer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <span>

Room::Room(uint32_t slots, ServerDataHandler data, ServerLostHandler lost)
    : count(slots), handler(data), lostHandler(lost),
      connections(std::make_unique<Connection[]>(slots)),
      writer(std::span<Connection>(connections.get(), slots), flow, freed) {}

Room::~Room() {
    writer.finish(0);
    endReaders();
}

bool Room::start(std::string& error) {
    if (!freed.ready()) {
        error = freed.lastError;
        return false;
    }
    if (!writer.start(error))
        return false;
    for (uint32_t slot = 0; slot < count; ++slot) {
        if (!connections[slot].startReader([this, slot] { serve(slot); }, error))
            return false;
    }
    return true;
}

void Room::drain(int timeoutMs) {
    writer.finish(timeoutMs);
}

void Room::endReaders() {
    // Each connection is ended, its reader releases it, announces nothing (stopping) and ends; a
    // connection still open after that (its close failed) is released here.
    for (uint32_t slot = 0; slot < count; ++slot) {
        if (connections[slot].connected())
            connections[slot].end();
    }
    for (uint32_t slot = 0; slot < count; ++slot) {
        connections[slot].quitReader();
        connections[slot].forceRelease();
    }
}

bool Room::queue(uint32_t slot, const char* bytes, size_t length, SendBatch& batch) {
    uint64_t released = 0;
    const bool queued = connections[slot].append(batch.sender, bytes, length, flow, released);
    if (queued)
        batch.touched |= FlowControl::bit(slot);
    wakeReaders(released); // a connection dropped for not reading held these
    return queued;
}

void Room::send(SendBatch& batch) {
    const uint64_t touched = batch.touched;
    batch.touched = 0;
    if (touched == 0)
        return;
    // A quiet room's line goes straight out from here. In a busy room (another thread sending a
    // batch right now, or the writer on its passes), and from a reader whose reads fill its
    // buffer, the lines go to the writer instead, which sends each connection what every reader
    // gathered for it in one send per pass.
    const bool busy = flushing.fetch_add(1) > 0 || writer.busy() ||
                      (batch.sender < count && connections[batch.sender].behind);
    if (busy) {
        flushing.fetch_sub(1);
        writer.handOver(touched);
        return;
    }
    const Connection::Outcome sent = Connection::sendEach(
        std::span<Connection>(connections.get(), count), touched, SEND_ROUNDS, false, flow);
    flushing.fetch_sub(1);
    if ((sent.blocked | sent.more) != 0)
        writer.handOver(sent.blocked | sent.more);
    wakeReaders(sent.released);
    if (sent.freed)
        freed.wake();
    if (sent.gaveBack)
        writer.giveBackMemory();
}

void Room::serve(uint32_t slot) {
    Connection& connection = connections[slot];
    for (;;) {
        while (!connection.assigned()) {
            if (connection.quitting())
                return;
            connection.wait();
        }
        readConnection(connection, slot);
        uint64_t released = 0;
        connection.release(flow, released);
        wakeReaders(released);
        if (!stopping && lostHandler)
            lostHandler(static_cast<int32_t>(slot));
        // Free only now: the next connection in the slot hears of this one's departure first,
        // as it would of any earlier message.
        if (connection.finish())
            freed.wake();
    }
}

void Room::readConnection(Connection& connection, uint32_t slot) {
    const auto number = static_cast<int32_t>(slot);
    MessageFramer framer(Receiver::Host);
    auto deliver = [this, number](char* bytes, int32_t length) {
        if (handler)
            handler(number, bytes, length);
    };
    // The host waits for every message's newline however long it takes: no timing rule.
    auto never = [](int) {
        return false;
    };
    // While the flow control holds this sender, each piece waits for the hold to end or for its
    // time (HELD_PIECE_MS after the last one). True when the connection ended meanwhile.
    auto lastPiece = Connection::Clock::time_point();
    auto heldUntilEnd = [&] {
        const auto next = lastPiece + std::chrono::milliseconds(FlowControl::HELD_PIECE_MS);
        for (auto now = Connection::Clock::now();
             flow.held(slot) && !connection.ended() && now < next; now = Connection::Clock::now())
            connection.wait(static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1));
        return connection.ended();
    };
    // One read takes what a flood has waiting, and the framer gets it in pieces of what it has
    // room for; the flow control may hold the sender between any two pieces.
    char staged[READ_BYTES];
    // After a read that filled the buffer more is likely waiting, and the next read only takes
    // what is there; otherwise the reader waits in its receive.
    bool full = false;
    for (;;) {
        if (heldUntilEnd())
            break;
        const int32_t received = connection.receive(staged, READ_BYTES, !full);
        if (received == TcpSocket::WOULD_BLOCK) {
            full = false;
            continue;
        }
        if (received <= 0)
            break;
        connection.markHeard();
        full = static_cast<uint32_t>(received) == READ_BYTES;
        connection.behind = full;
        const auto total = static_cast<uint32_t>(received);
        for (uint32_t at = 0; at < total;) {
            if (at > 0 && heldUntilEnd())
                break;
            const uint32_t piece = std::min(total - at, framer.spaceSize());
            if (flow.held(slot))
                lastPiece = Connection::Clock::now();
            std::memcpy(framer.space(), staged + at, piece);
            at += piece;
            framer.received(piece, deliver, never);
        }
        if (connection.ended())
            break;
    }
    framer.flush(deliver); // drops a message cut by the connection's end (see MessageFramer)
}
