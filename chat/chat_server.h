// ChatServer: the host's end of the chat. Listens, accepts connections into numbered slots, reads
// each slot on its own thread and queues what is sent to a slot for one writer thread, so that a
// client that stops reading never blocks anybody else.
#pragma once

#include "chat/slot_reader.h"
#include "net/tcp_socket.h"
#include "net/thread.h"
#include "net/waker.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class ChatClient;

// Receives every whole message block of a slot (bytes followed by a zero byte).
using ServerDataHandler = void (*)(int32_t slot, char* bytes, int32_t count);
// Told, on the slot's reader thread, that a slot's connection ended from the client's side (or
// was dropped for not reading), not by the server's own stop.
using ServerLostHandler = void (*)(int32_t slot);

class ChatServer final : public Thread {
public:
    // A slot whose unsent bytes would pass this is disconnected.
    static constexpr size_t OUTBOX_LIMIT = 256 * 1024;
    // How long stop() lets the connections take what is queued for them.
    static constexpr int DRAIN_TIMEOUT_MS = 1000;
    // Flow control: while a connection that is still taking bytes has more than HOLD_BYTES queued,
    // the readers wait before their next read, so that a room flooding faster than its slowest
    // reader is slowed down instead of losing that reader. A connection that took nothing for
    // STALLED_MS, or that has been behind for HOLD_MS, is not waited for (it is dropped at
    // OUTBOX_LIMIT as before).
    static constexpr size_t HOLD_BYTES = 64 * 1024;
    static constexpr int STALLED_MS = 100;
    static constexpr int HOLD_MS = 1000;

    explicit ChatServer(ServerDataHandler handler = nullptr,
                        ServerLostHandler lostHandler = nullptr);
    ~ChatServer() override;

    [[nodiscard]] bool start(uint32_t maxClients, uint16_t port);
    void stop();
    // Queues the text's bytes for one slot; the count queued, or -1 when the slot has no
    // connection (or there is no such slot).
    int32_t sendTo(int32_t slot, const char* text);
    void broadcast(const char* text);
    void broadcastBytes(const char* bytes, int32_t count);
    std::string lastError();

    // For tests and the bench: how many slots hold a connection right now.
    uint32_t occupiedSlots();

    void run() override;

private:
    friend class SlotReader;
    friend class SlotWriter;

    // What a slot needs besides its socket. `mutex` is the slot's lock: taking the slot, queueing
    // bytes for it, sending them and releasing it happen under it; receiving does not. Taken
    // after ChatLock, never before.
    struct SlotQueue {
        std::mutex mutex;
        std::string pending;                               // bytes not yet taken by the connection
        size_t sentBytes = 0;                              // how much of `pending` already went out
        std::chrono::steady_clock::time_point tookAt;      // the connection last took bytes
        std::chrono::steady_clock::time_point behindSince; // over HOLD_BYTES since; zero if not
    };

    void serveSlot(uint32_t slot);
    void writeQueues();
    bool enqueue(uint32_t slot, const char* bytes, size_t count);
    bool flushSlot(uint32_t slot); // under the slot's lock; true when bytes remain
    void dropSlot(uint32_t slot);  // under the slot's lock: forget the queue, wake the reader
    void releaseSlot(uint32_t slot);
    void endReaders();
    void drainQueues();
    bool queuesEmpty();
    void wakeWriter();
    bool anySlotFree();
    bool holdsReaders(uint32_t slot); // under the slot's lock
    void waitWhileHeld();

    std::unique_ptr<TcpSocket> listener;
    std::unique_ptr<TcpSocket[]> slots;
    std::unique_ptr<SlotReader[]> readers;
    std::unique_ptr<ChatClient> wakeClient;
    const ServerDataHandler handler;
    const ServerLostHandler lostHandler;

    std::unique_ptr<SlotQueue[]> queues;
    SlotWriter writer;
    std::unique_ptr<Waker> writerWake;   // the writer polls it besides the slots
    std::atomic<uint64_t> dirtySlots{0}; // slots with newly queued bytes, one bit each
    std::atomic<bool> writerRunning{false};
    std::atomic<bool> stopping{false};      // set while stop() runs: no departures announced
    std::atomic<bool> acceptWaiting{false}; // the accept loop waits for a free slot, not in accept
    std::atomic<bool> holding{false};       // the readers wait (flow control, see HOLD_BYTES)

    // Guards nothing but the two waits below; taken before a slot's lock, never after.
    std::mutex waitMutex;
    std::condition_variable slotFreed; // the accept loop waits here while every slot is taken
    std::condition_variable drained;   // stop() waits here for the queues to empty
    std::condition_variable released;  // readers wait here while `holding`
};
