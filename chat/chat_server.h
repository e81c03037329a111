// ChatServer: the host's end of the chat. Listens, accepts connections into numbered slots, reads
// each slot on its own thread, and sends through SlotQueues.
#pragma once

#include "chat/slot_queues.h"
#include "chat/slot_reader.h"
#include "net/tcp_socket.h"
#include "net/thread.h"

#include <atomic>
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
    // How long stop() lets the connections take what is queued for them.
    static constexpr int DRAIN_TIMEOUT_MS = 1000;
    // How much one read of a slot may take; the handler still gets blocks of at most 1023 bytes.
    static constexpr uint32_t READ_BYTES = 16 * 1024;

    explicit ChatServer(ServerDataHandler handler = nullptr,
                        ServerLostHandler lostHandler = nullptr);
    ~ChatServer() override;

    [[nodiscard]] bool start(uint32_t maxClients, uint16_t port);
    void stop();
    // Sends (or queues) the text's bytes for one slot; the count, or -1 when the slot has no
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

    void serveSlot(uint32_t slot);
    void releaseSlot(uint32_t slot);
    void endReaders();
    bool slotFree(uint32_t slot);
    bool anySlotFree();
    void readerIdle(); // a reader has finished with its connection

    std::unique_ptr<TcpSocket> listener;
    std::unique_ptr<TcpSocket[]> slots;
    std::unique_ptr<SlotReader[]> readers;
    std::unique_ptr<ChatClient> wakeClient;
    const ServerDataHandler handler;
    const ServerLostHandler lostHandler;

    // Each slot's lock lives here, with the slot's queue (see SlotQueues::lock).
    std::unique_ptr<SlotQueues> queues;
    std::atomic<bool> stopping{false};      // set while stop() runs: no departures announced
    std::atomic<bool> acceptWaiting{false}; // the accept loop waits for a free slot, not in accept

    // Guards nothing but the wait below; taken before a slot's lock (the wait checks the slots),
    // never after.
    std::mutex waitMutex;
    std::condition_variable slotFreed; // the accept loop waits here while every slot is taken
};
