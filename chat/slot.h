// Slot: one numbered place of a ChatServer, holding one connection at a time: its socket, the lock
// that guards taking, sending on and releasing it, the bytes queued for it, and the reader thread
// that serves it.
#pragma once

#include "chat/flow_control.h"
#include "chat/slot_reader.h"
#include "net/tcp_socket.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

class ServerCore;

class Slot {
public:
    using Clock = std::chrono::steady_clock;

    Slot() : reader(*this) {}
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

    // Made once by the server's start, before any thread uses the slot.
    void bind(uint32_t slotIndex, ServerCore& slotRoom);
    uint32_t index() const { return number; }
    ServerCore& room() { return *owner; }

    // The accept loop: whether the slot can take a connection, and taking it.
    bool isFree();
    void take(SocketHandle handle);
    // Whether the slot holds a connection (the reader serves it while it does).
    bool connected();
    // Ends the connection's reads and sends (the reader then sees its end); the descriptor stays.
    void wake();
    // The reader on its way out, or stop: closes the connection once no send is in progress on
    // it. False when the slot held none.
    bool release();

    // Sends or queues bytes. A thread that finds another one sending on the slot appends and goes
    // on: the sender sends what has gathered before it lets go. False when the slot has no
    // connection, or when it stopped reading and is so far behind that it was dropped.
    bool send(const char* bytes, size_t count);
    // What a send left behind: nothing, bytes that gathered while it ran (the connection took
    // all it was given), or bytes the connection has no room for now.
    enum class Left { Nothing, More, Blocked };
    // The writer, on its pass: one send of what it holds for the slot. Sets `handle` to the
    // connection to poll and `pressure` to what the slot's queue puts on the room when bytes
    // remain.
    Left writeQueued(SocketHandle& handle, FlowControl::Pressure& pressure);
    // Bytes queued and not yet taken by the connection.
    size_t queuedBytes();

    // Sends made on this thread while a Batch lives are gathered per slot and go out when it ends
    // (or flush() is called), in one send per slot: a reader wraps each read's handler calls in
    // one, so that a read of many messages costs one send per slot. While another thread is
    // sending for the room, the batch's slots go to the writer instead, which sends what every
    // reader gathered for a slot in one send.
    class Batch {
    public:
        Batch();
        ~Batch();
        void flush();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
    };

    // Slot connections whose client sent nothing at all are the ones closed when the room is
    // full and someone waits. Written by the reader and the accept loop, read by the accept loop.
    std::atomic<bool> heard{false};
    Clock::time_point takenAt; // the accept loop's own
    // Set when the connection was woken or dropped: its reader waits for nothing any more.
    std::atomic<bool> ended{false};

    TcpSocket socket;
    SlotReader reader;

private:
    static constexpr size_t BATCH_BYTES = 16 * 1024; // a batch sends early past this
    static constexpr int SEND_ROUNDS = 8; // a sender hands the rest to the writer after this

    // Under the lock (dropped around each system call): sends what has gathered, for at most
    // `rounds` sends. When bytes remain, the writer owns them.
    Left sendGathered(std::unique_lock<std::mutex>& guard, int rounds);
    void drop();
    void clear();
    size_t left() const { return flight.size() - flightSent + queued.size(); }

    uint32_t number = 0;
    ServerCore* owner = nullptr;

    // The slot's lock. Lock order: ChatLock, then the room's waitMutex, then a slot's lock; never
    // two slots' locks at once. A sender drops it around its system call and holds `sending`.
    std::mutex mutex;
    std::condition_variable sendDone; // release() waits here for the sender to let go
    std::string queued;               // appended by every thread, in the order sent
    std::string flight;               // what the sender is sending; its own while `sending`
    size_t flightSent = 0;
    bool sending = false;     // a thread (a reader, the window's, the writer) is the sender
    bool writerOwns = false;  // the connection takes nothing now; the writer sends when it can
    Clock::time_point tookAt; // the connection last took bytes
};
