// Connection: one numbered place of the host, holding one client's connection at a time: its
// socket, the lock that guards taking, sending on and releasing it, the bytes queued for it, and
// the reader thread that serves it. It knows nothing of the room it belongs to: what it needs
// from the room (the flow control, the loop its reader runs) is handed to it in each call.
#pragma once

#include "chat/flow_control.h"
#include "chat/out_queue.h"
#include "chat/slot_reader.h"
#include "net/checked_mutex.h"
#include "net/keep_alive_timings.h"
#include "net/tcp_socket.h"
#include "net/waker.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

class Connection {
public:
    using Clock = std::chrono::steady_clock;

    Connection() = default;
    ~Connection() { quitReader(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The room, at its start and stop: the reader thread runs loop() until quitReader().
    [[nodiscard]] bool startReader(std::function<void()> loop, std::string& error);
    void quitReader();

    // The accept loop. Free: no connection, and the reader has finished with the last one (its
    // departure included).
    bool isFree();
    // Takes a new connection; serve() then sets it up and wakes the reader to serve it (apart, so
    // that a burst of connects is taken from the listen queue before any reader competes for the
    // processor).
    void take(SocketHandle handle);
    void serve(const KeepAliveTimings& keepAlive);
    // Whether the slot holds a connection.
    bool connected();
    // Ends the connection's reads and sends: the reader sees its end and releases it.
    void end();
    // A slot whose client has sent nothing at all since it connected (then when it connected) is
    // the one closed when the room is full and someone waits. The accept loop's.
    bool silent() const { return !heard.load(std::memory_order_relaxed); }
    Clock::time_point connectedAt() const { return takenAt; }

    // The reader, on its own thread. While it serves a connection and may read, it waits in its
    // receive (woken by bytes, or by the end of the connection: end() shuts it down). Otherwise
    // (between connections, or while the flow control holds its sender) it waits here for its
    // wake-up, which the accept loop (a connection to serve), a sender that caught up (a hold
    // ended), end() and quitReader() give; a held reader also for its next piece's time.
    void wait(int timeoutMs = -1);
    bool quitting() const { return quit.load(); }
    // A connection taken since the last call.
    bool assigned() { return fresh.exchange(false); }
    bool ended() const { return ending.load(); }
    // Receives into buffer: what is there (WOULD_BLOCK when nothing is), or with `wait` as soon as
    // something is. Only the reader releases the connection, so the handle stays valid meanwhile.
    int32_t receive(char* buffer, uint32_t size, bool wait) {
        return wait ? socket.recv(buffer, size) : socket.tryRecv(buffer, size);
    }
    void markHeard() {
        if (!heard.load(std::memory_order_relaxed))
            heard.store(true, std::memory_order_relaxed);
    }
    // Set by the reader while its reads fill its buffer (a flood): the lines it reads then go out
    // in the writer's passes rather than each costing every connection a send.
    std::atomic<bool> behind{false};
    // The reader on its way out: closes the connection, or leaves the close to the thread that
    // is sending on it. Adds to `released` the senders nobody holds any more.
    void release(FlowControl& flow, uint64_t& released);
    // The reader has finished with the connection. True when the slot is free now.
    bool finish();
    // The room's stop, after the reader has ended: closes what is still open (a close that failed).
    void forceRelease();
    // Wakes the readers of these senders (holds on them ended), one bit per slot.
    static void wakeReaders(std::span<Connection> connections, uint64_t senders);

    // Sending. Queues bytes from a sender (OutQueue::HOST for the host's own); false when the slot
    // has no connection, or when the connection stopped reading and is so far behind that it
    // was dropped. Adds to `released` the senders nobody holds any more.
    bool append(uint32_t sender, const char* bytes, size_t count, FlowControl& flow,
                uint64_t& released);
    enum class Sent {
        Done,      // nothing is left
        Elsewhere, // another thread (or the writer, once there is room) sends what is queued
        Blocked,   // the connection takes nothing now; the writer sends once it can take more
        More,      // the connection took all it was given, and more gathered meanwhile
        Freed,     // the connection was closed after this send, and the slot is free
    };
    // What sending on several connections left, one bit per slot.
    struct Outcome {
        uint64_t blocked = 0;  // Sent::Blocked
        uint64_t more = 0;     // Sent::More
        uint64_t released = 0; // senders nobody holds any more
        bool freed = false;    // a slot became free
        bool gaveBack = false; // a queue gave back what a flood made it grow to
    };
    // Sends what is queued for each connection of the set `which`, in at most `rounds` sends
    // each. Only the writer (asWriter) sends on a connection that was blocked.
    static Outcome sendEach(std::span<Connection> connections, uint64_t which, int rounds,
                            bool asWriter, FlowControl& flow);
    // For the writer's poll: the connection's handle while bytes wait for it.
    SocketHandle pendingHandle();
    size_t queuedBytes();
    // The writer: if the connection has stopped reading (nothing taken for STALLED_MS while bytes
    // waited), it holds nobody any more. Returns when it would stop reading, if it holds anyone.
    Clock::time_point checkStalled(Clock::time_point now, FlowControl& flow, uint64_t& released);

private:
    // sendEach for one connection.
    Sent send(int rounds, bool asWriter, FlowControl& flow, Outcome& outcome);
    // Each needs the lock.
    void holdIfBehind(uint32_t sender, FlowControl& flow);
    void letGoAll(FlowControl& flow, uint64_t& released);
    void drop(FlowControl& flow, uint64_t& released);
    void clearQueue();
    bool stalledAt(Clock::time_point now) const;
    // Closes the socket; a close that fails leaves the slot stuck until the room stops, but never
    // with a handle that sends could use.
    void close();

    // The slot's lock. Lock order: ChatLock, then a connection's lock; never two connections'
    // locks at once. Held only to change the state below, never across a system call that waits:
    // a sender marks `sending` and drops it around its send.
    CheckedMutex mutex;
    TcpSocket socket;
    OutQueue queue;
    bool sending = false;     // a thread is in a send on the socket, outside the lock
    bool blocked = false;     // the connection took nothing (or part): the writer waits for room
    bool closing = false;     // released while a send ran: the sender closes the socket
    bool discard = false;     // dropped while a send ran: the sender forgets the queue
    bool serving = false;     // the reader has not finished with the connection yet
    bool stalled = false;     // took nothing for STALLED_MS: holds nobody
    uint64_t holding = 0;     // the senders this connection holds
    Clock::time_point tookAt; // the connection last took bytes (or was taken)

    std::atomic<bool> heard{false};
    Clock::time_point takenAt;
    std::atomic<bool> fresh{false};  // taken, and the reader has not seen it yet
    std::atomic<bool> ending{false}; // ended or dropped: the reader stops reading it
    std::atomic<bool> quit{false};
    Waker readerWaker;
    SlotReader reader;
};
