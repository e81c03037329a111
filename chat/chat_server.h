// ChatServer: the host's end of the chat. Listens, accepts connections into numbered slots, each
// read by its own thread, and sends to one slot or to every slot. The slots, their readers, the
// writer and the flow control are its Room's (chat/room.h, which also says which thread waits
// where); the server adds the listening socket and the accept loop, on its own thread.
#pragma once

#include "chat/room.h"
#include "chat/send_batch.h"
#include "net/tcp_socket.h"
#include "net/thread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class ChatClient;

class ChatServer final : public Thread {
public:
    // How long stop() lets the connections take what is queued for them.
    static constexpr int DRAIN_TIMEOUT_MS = 1000;
    // While every slot is taken and a connection waits, a slot whose client has sent nothing at
    // all for this long is closed to make room.
    static constexpr int SILENT_MS = 30000;

    explicit ChatServer(ServerDataHandler handler = nullptr,
                        ServerLostHandler lostHandler = nullptr);
    ~ChatServer() override;

    [[nodiscard]] bool start(uint32_t maxClients, uint16_t port);
    void stop();
    // Sends the text's bytes to one slot at once (what the connection cannot take yet goes out as
    // soon as it can); the count, or -1 when the slot has no connection (or there is no such
    // slot).
    int32_t sendTo(int32_t slot, const char* text);
    void broadcast(const char* text);
    void broadcastBytes(const char* bytes, int32_t count);
    // The same as part of a handler call's batch: queued now, in this order, and sent by send().
    int32_t sendTo(int32_t slot, const char* text, SendBatch& batch);
    void broadcast(const char* text, SendBatch& batch);
    void send(SendBatch& batch);
    std::string lastError();

    // For tests and the bench: how many slots hold a connection right now, and how many bytes
    // wait for one slot's connection to take them.
    uint32_t occupiedSlots();
    size_t queuedBytes(uint32_t slot);
    // For tests: a shorter silence than SILENT_MS before a slot is closed for a waiting
    // connection.
    void setSilentLimit(int ms) { silentMs = ms; }

    void run() override;

private:
    bool anySlotFree();
    // While every slot is taken: waits for one to free, closing a silent one when someone waits.
    void waitForFreeSlot();
    void queueForAll(const char* bytes, size_t count, SendBatch& batch);

    std::unique_ptr<TcpSocket> listener;
    std::unique_ptr<Room> room;
    std::unique_ptr<ChatClient> wakeClient;
    const ServerDataHandler handler;
    const ServerLostHandler lostHandler;
    std::atomic<int> silentMs{SILENT_MS};
};
