// SlotQueues: what the host sends to each slot. Bytes go straight to the connection when it takes
// them; what it does not take waits in the slot's queue for the writer thread, so that a client
// that reads slowly or not at all never blocks anybody else.
#pragma once

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

class SlotQueues final : public Thread {
public:
    // One bit per slot in the writer's work sets.
    static constexpr uint32_t MAX_SLOTS = 64;
    // A slot whose unsent bytes would pass this is disconnected.
    static constexpr size_t OUTBOX_LIMIT = 256 * 1024;
    // Flow control: while a connection that is still taking bytes has more than HOLD_BYTES queued,
    // the readers wait before their next read, so that a room flooding faster than its slowest
    // reader is slowed down instead of losing that reader. A connection that took nothing for
    // STALLED_MS, or that has been behind for HOLD_MS, is not waited for (it is dropped at
    // OUTBOX_LIMIT as before).
    static constexpr size_t HOLD_BYTES = 64 * 1024;
    static constexpr int STALLED_MS = 100;
    static constexpr int HOLD_MS = 1000;
    // A batch sends a slot's bytes early once this much has gathered, to keep queues short.
    static constexpr size_t BATCH_BYTES = 16 * 1024;

    // slots: the server's slot sockets, count of them (1 to MAX_SLOTS); they outlive this object.
    SlotQueues(TcpSocket* slots, uint32_t count);
    ~SlotQueues() override;

    // Starts the writer thread; false with the reason in `error`.
    [[nodiscard]] bool start(std::string& error);
    // Gives the connections up to timeoutMs to take what is queued, and lets held readers go for
    // good (the server is stopping).
    void drain(int timeoutMs);
    // Ends the writer thread. Readers must have ended first.
    void stop();

    // Slot i's lock. Taking the slot, queueing bytes for it, sending them and releasing it happen
    // under it; receiving does not. Lock order: ChatLock, then `waitMutex`, then a slot's lock;
    // never two slots' locks at once.
    std::mutex& lock(uint32_t slot) { return queues[slot].mutex; }
    // Under the slot's lock: forgets what was queued (the slot took or released a connection).
    void clear(uint32_t slot);
    // Sends or queues bytes for a slot; false when the slot has no connection, or when it is so far
    // behind that it was dropped (its reader then sees the end of the connection).
    bool send(uint32_t slot, const char* bytes, size_t count);

    // Sends made on this thread while a Batch lives are gathered per slot and go out when it ends,
    // in one send per slot: a reader wraps each read's handler calls in one.
    class Batch {
    public:
        explicit Batch(SlotQueues& queues);
        ~Batch();
        // Sends what gathered so far; the batch goes on.
        void flush();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        SlotQueues& owner;
    };

    // Readers call this before each receive: it waits, at most HOLD_MS, while flow control holds
    // the room.
    void waitWhileHeld();

    void run() override;

private:
    struct Queue {
        std::mutex mutex;
        std::string pending;                               // bytes not yet taken by the connection
        size_t sentBytes = 0;                              // how much of `pending` already went out
        bool writerOwns = false;                           // the writer sends the rest
        std::chrono::steady_clock::time_point tookAt;      // the connection last took bytes
        std::chrono::steady_clock::time_point behindSince; // over HOLD_BYTES since; zero if not
        size_t left() const { return pending.size() - sentBytes; }
    };

    bool flush(uint32_t slot);         // under the slot's lock; true when bytes remain
    void handToWriter(uint32_t slot);  // under the slot's lock, after flush() left bytes
    void drop(uint32_t slot);          // under the slot's lock: forget the queue, end the reader
    bool holdsReaders(uint32_t slot);  // under the slot's lock
    void flushBatch(uint64_t touched); // not under any lock
    void setHolding(bool hold);
    bool empty();

    TcpSocket* const slots;
    const uint32_t count;
    std::unique_ptr<Queue[]> queues;
    std::unique_ptr<Waker> waker;      // the writer polls it besides the slots
    std::atomic<uint64_t> dirty{0};    // slots newly handed to the writer, one bit each
    std::atomic<bool> running{false};  // the writer's run condition
    std::atomic<bool> holding{false};  // the readers wait (see HOLD_BYTES)
    std::atomic<bool> draining{false}; // never hold readers again

    // Guards nothing but the two waits below; taken before a slot's lock (drain's check of the
    // queues), never after.
    std::mutex waitMutex;
    std::condition_variable drained;  // drain() waits here for the queues to empty
    std::condition_variable released; // readers wait here while `holding`
};
