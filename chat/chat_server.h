// ChatServer: the host's end of the chat. Listens, accepts connections into numbered slots, each
// read by its own thread, and sends to one slot or to every slot.
//
// Who waits where, and who wakes them:
// - the accept loop (this Thread): in accept, woken by a connection (stop makes one, or shuts the
//   listener down); while every slot is taken, on the room's `freed` condition, woken when a
//   reader frees a slot or by stop, and once a second to close a silent slot when someone waits;
// - each slot's reader (SlotReader): in recv, woken by bytes or by the slot's wake() (stop, a
//   drop, closing a silent slot); between connections, on its own condition, woken by the accept
//   loop's assign() or by quit();
// - the writer (SlotWriter): in poll over the connections that are behind, woken by their taking
//   bytes or by its Waker when a sender hands it bytes; while a busy room keeps handing it more,
//   it passes over the slots every SlotWriter::PASS_MS without being woken;
// - flow-control pauses: a reader waits before its recv on FlowControl's condition, woken when
//   the writer finds the queues shorter, by stop, or after at most 100 ms to look again.
#pragma once

#include "chat/server_core.h"
#include "chat/slot.h"
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
    // Sends (or queues) the text's bytes for one slot; the count, or -1 when the slot has no
    // connection (or there is no such slot).
    int32_t sendTo(int32_t slot, const char* text);
    void broadcast(const char* text);
    void broadcastBytes(const char* bytes, int32_t count);
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
    void waitForFreeSlot();
    void closeSilentSlot();
    void endReaders();

    std::unique_ptr<TcpSocket> listener;
    std::unique_ptr<ServerCore> room;
    std::unique_ptr<Slot[]> slots;
    std::unique_ptr<ChatClient> wakeClient;
    const ServerDataHandler handler;
    const ServerLostHandler lostHandler;
    std::atomic<int> silentMs{SILENT_MS};
    std::atomic<bool> acceptWaiting{false}; // the accept loop waits for a free slot, not in accept
};
