// Room: the host's side of one room: its connections, the readers' loop, the writer and the flow
// control, and how a message reaches the connections. ChatServer owns one while it runs and adds
// the listening socket and the accept loop.
//
// Who waits where, and who wakes them; in each of its states a thread waits in one place:
//
//   thread        waits in                        woken by
//   accept loop   accept (a slot is free)         a connection; stop makes one
//                 poll: `freed`, the listener     a slot freed, stop, someone connecting; by time
//                 (every slot is taken)           only at the oldest silent slot's deadline, and
//                                                 100 ms after descriptors ran out (nothing says
//                                                 when they come back)
//   slot reader   recv (serving a connection,     bytes, or the connection's end (the client's,
//                 not held)                       or end() shutting it down: a drop, a silent
//                                                 slot, stop)
//                 poll: its waker (between        a connection to serve, a hold on its sender
//                 connections, or held)           ended, end(), quit; by time only while held,
//                                                 for its next piece (HELD_PIECE_MS)
//   writer        poll: its waker, the            a connection taking bytes again; its waker:
//                 connections that are behind     bytes handed over, finish(); by time only for
//                                                 its next pass while a busy room keeps handing
//                                                 it more (PASS_MS), when a connection that holds
//                                                 a sender would stop counting (STALLED_MS), and
//                                                 at stop's deadline for the last bytes
//   stop          joins the writer, the accept    their ends
//                 loop, each reader
//
// Nothing else waits: a send never blocks (the system takes what it can, the writer the rest), a
// connection released while a send runs is closed by that send, and a sender the flow control
// holds is its reader waiting above.
#pragma once

#include "chat/connection.h"
#include "chat/flow_control.h"
#include "chat/send_batch.h"
#include "chat/slot_writer.h"
#include "net/waker.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

// Receives every whole message block of a slot (bytes followed by a zero byte).
using ServerDataHandler = void (*)(int32_t slot, char* bytes, int32_t count);
// Told, on the slot's reader thread, that a slot's connection ended from the client's side (or
// was dropped for not reading, or closed for silence), not by the server's own stop.
using ServerLostHandler = void (*)(int32_t slot);

class Room {
public:
    // How much one read of a slot may take; the handler still gets blocks of at most 1023 bytes.
    static constexpr uint32_t READ_BYTES = 16 * 1024;
    // A sender sends what gathers meanwhile up to this many times, then the writer takes over.
    static constexpr int SEND_ROUNDS = 4;

    Room(uint32_t slots, ServerDataHandler data, ServerLostHandler lost);
    ~Room();
    Room(const Room&) = delete;
    Room& operator=(const Room&) = delete;

    // Starts the writer and every slot's reader; false with the reason in `error`.
    [[nodiscard]] bool start(std::string& error);
    // The stop, in its order: the writer gets up to timeoutMs to send what is queued; then every
    // connection is ended and every reader waits for its departure to be done and ends.
    void drain(int timeoutMs);
    void endReaders();

    uint32_t size() const { return count; }
    Connection& operator[](uint32_t slot) { return connections[slot]; }
    // Woken when a slot becomes free; the accept loop waits on it while every slot is taken.
    Waker freed;
    std::atomic<bool> stopping{false}; // set while the server stops: no departures announced

    // Queues bytes for one slot as part of a batch; false when the slot has no connection.
    bool queue(uint32_t slot, const char* bytes, size_t count, SendBatch& batch);
    // Sends what the batch queued: at once from this thread, or in the writer's rounds when the
    // batch's sender is a reader that falls behind.
    void send(SendBatch& batch);

private:
    // A reader's loop: waits for a connection, reads it, and waits again.
    void serve(uint32_t slot);
    void readConnection(Connection& connection, uint32_t slot);
    void wakeReaders(uint64_t senders) {
        Connection::wakeReaders(std::span<Connection>(connections.get(), count), senders);
    }

    const uint32_t count;
    std::atomic<int> flushing{0}; // threads sending a batch straight out right now
    const ServerDataHandler handler;
    const ServerLostHandler lostHandler;
    std::unique_ptr<Connection[]> connections;
    FlowControl flow;
    SlotWriter writer;
};
