// The chat server: listening, the accept loop, sends to slots and the stop.
#include "chat/chat_server.h"

#include "chat/chat_client.h"
#include "chat/keep_alive.h"
#include "net/heap.h"
#include "net/socket_errors.h"
#include "net/socket_poll.h"
#include "wire/protocol.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

// After an accept failed for want of descriptors, the accept loop looks again this often:
// descriptors come back when any program closes one, which nothing here is told of.
constexpr int OUT_OF_RESOURCES_RETRY_MS = 100;

} // namespace

ChatServer::ChatServer(ServerDataHandler dataHandler, ServerLostHandler onLost)
    : handler(dataHandler), lostHandler(onLost) {}

ChatServer::~ChatServer() {
    stop();
    Thread::stop();
}

bool ChatServer::start(uint32_t maxClients, uint16_t port) {
    stop();
    listener = TcpSocket::createStream();
    listener->maxConnections = maxClients;
    if (maxClients == 0 || maxClients > FlowControl::SENDERS) {
        listener->lastError = SocketErrorText(WSA_INVALID_ARGUMENT);
        return false;
    }
    // The room's threads start below; they share the program's heap.
    ShareOneHeap();
    room = std::make_unique<Room>(maxClients, handler, lostHandler);
    // Every thread that serves connections starts before the port listens, and the accept loop
    // right after: connects that come as soon as the port listens (a room that people rejoin at
    // once) find the loop taking them, instead of filling the listen queue of 10 while the 34
    // threads start; a connect that finds the queue full waits a second to try again. Each
    // reader waits for its slot's connections, so the accept loop never starts or ends a thread.
    if (!room->start(listener->lastError))
        return false;
    if (!listener->listen(port))
        return false;
    Thread::start();
    return true;
}

uint32_t ChatServer::occupiedSlots() {
    uint32_t count = 0;
    for (uint32_t i = 0; room && i < room->size(); ++i)
        count += (*room)[i].connected();
    return count;
}

size_t ChatServer::queuedBytes(uint32_t slot) {
    if (!room || slot >= room->size())
        return 0;
    return (*room)[slot].queuedBytes();
}

bool ChatServer::anySlotFree() {
    for (uint32_t i = 0; i < room->size(); ++i) {
        if ((*room)[i].isFree())
            return true;
    }
    return false;
}

void ChatServer::run() {
    const uint32_t count = room->size();
    while (listener->open) {
        bool sawFree = false;
        // Connections taken in this pass whose readers are still to be woken. A burst of connects
        // is taken from the listen queue before any reader runs: woken readers compete for the
        // processor, and a queue only 10 deep that overflows makes the system drop connects,
        // which then retry only a second later.
        uint64_t taken = 0;
        for (uint32_t i = 0; i < count && listener->open; ++i) {
            Connection& slot = (*room)[i];
            if (!slot.isFree())
                continue;
            sawFree = true;
            if (taken != 0 && !listener->waitReadable(0))
                break;
            if (!listener->accept()) {
                // Out of descriptors or memory: accept fails at once until something frees, so
                // pause instead of spinning.
                if (listener->outOfResources) {
                    PollEntry freed{room->freed.pollHandle(), POLL_READABLE, 0};
                    PollSockets(&freed, 1, OUT_OF_RESOURCES_RETRY_MS);
                    room->freed.drain();
                }
                continue;
            }
            slot.take(listener->acceptedHandle);
            taken |= FlowControl::bit(i);
        }
        for (uint32_t i = 0; i < count; ++i) {
            if (taken & FlowControl::bit(i))
                (*room)[i].serve(ChatKeepAlive);
        }
        if (!sawFree && listener->open)
            waitForFreeSlot();
    }
}

void ChatServer::waitForFreeSlot() {
    // Further connections wait in the listen queue until a slot frees. While one waits there, the
    // slot whose client has said nothing at all for silentMs is closed to make room for it.
    using Clock = Connection::Clock;
    const bool someoneWaits = listener->waitReadable(0);
    auto closeAt = Clock::time_point::max();
    Connection* silent = nullptr;
    if (someoneWaits) {
        for (uint32_t i = 0; i < room->size(); ++i) {
            Connection& slot = (*room)[i];
            if (slot.silent() && slot.connected() && slot.connectedAt() < closeAt) {
                closeAt = slot.connectedAt();
                silent = &slot;
            }
        }
        closeAt += std::chrono::milliseconds(silentMs.load());
    }
    const auto now = Clock::now();
    if (silent && closeAt <= now) {
        silent->end(); // its reader sees the end, frees the slot, and the waiting one gets it
        closeAt = Clock::time_point::max();
    }
    int timeoutMs = -1;
    if (silent && closeAt != Clock::time_point::max())
        timeoutMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(closeAt - now).count() + 1);
    // Until someone waits, the listener tells when someone comes.
    PollEntry watched[2] = {{room->freed.pollHandle(), POLL_READABLE, 0},
                            {someoneWaits ? NO_HANDLE : listener->handle, POLL_READABLE, 0}};
    PollSockets(watched, 2, timeoutMs);
    room->freed.drain();
}

void ChatServer::queueForAll(const char* bytes, size_t count, SendBatch& batch) {
    for (uint32_t i = 0; i < room->size(); ++i)
        room->queue(i, bytes, count, batch);
}

int32_t ChatServer::sendTo(int32_t slot, const char* text, SendBatch& batch) {
    if (!room || static_cast<uint32_t>(slot) >= room->size())
        return -1;
    const size_t count = std::strlen(text);
    return room->queue(static_cast<uint32_t>(slot), text, count, batch)
               ? static_cast<int32_t>(count)
               : -1;
}

void ChatServer::broadcast(const char* text, SendBatch& batch) {
    if (room)
        queueForAll(text, std::strlen(text), batch);
}

void ChatServer::send(SendBatch& batch) {
    if (room)
        room->send(batch);
}

int32_t ChatServer::sendTo(int32_t slot, const char* text) {
    SendBatch batch(HOST_ID);
    const int32_t result = sendTo(slot, text, batch);
    send(batch);
    return result;
}

void ChatServer::broadcast(const char* text) {
    broadcastBytes(text, static_cast<int32_t>(std::strlen(text)));
}

void ChatServer::broadcastBytes(const char* bytes, int32_t count) {
    if (!room || count < 0)
        return;
    SendBatch batch(HOST_ID);
    queueForAll(bytes, static_cast<size_t>(count), batch);
    send(batch);
}

std::string ChatServer::lastError() {
    return listener ? listener->lastError : std::string();
}

void ChatServer::stop() {
    if (!listener)
        return;
    if (room) {
        room->stopping = true;
        room->drain(DRAIN_TIMEOUT_MS);
    }
    // The accept loop ends first: a reader that is woken frees its slot, and an accept loop still
    // running would give the slot to a new connection while this thread waits for the readers.
    const bool accepting = listener->open;
    listener->open = false;
    if (accepting) {
        // Make the blocked accept return with a connection of our own; an accept loop that waits
        // for a free slot instead is woken as a freed slot would wake it. When the connection
        // cannot be made, shutting the listening socket down ends the accept.
        room->freed.wake();
        wakeClient = std::make_unique<ChatClient>();
        const bool woken = wakeClient->connect("127.0.0.1", listener->port);
        wakeClient->close();
        wakeClient.reset();
        if (!woken)
            listener->wake();
    }
    Thread::stop();
    if (room)
        room->endReaders(); // the clients' connections, and the wake-up connection if it got one
    room.reset();
    listener.reset();
}
