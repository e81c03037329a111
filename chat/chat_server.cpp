// The chat server: listening, the accept loop, sends to slots and the stop.
#include "chat/chat_server.h"

#include "chat/chat_client.h"
#include "chat/keep_alive.h"
#include "net/socket_errors.h"

#include <chrono>
#include <cstring>

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
    room = std::make_unique<ServerCore>(handler, lostHandler);
    slots = std::make_unique<Slot[]>(maxClients);
    for (uint32_t i = 0; i < maxClients; ++i)
        slots[i].bind(i, *room);
    if (maxClients == 0 || maxClients > SlotWriter::MAX_SLOTS) {
        listener->lastError = SocketErrorText(WSA_INVALID_ARGUMENT);
        return false;
    }
    // Every thread that serves connections starts before the port listens, and the accept loop
    // right after: connects that come as soon as the port listens (a room that people rejoin at
    // once) find the loop taking them, instead of filling the listen queue of 10 while the 34
    // threads start; a connect that finds the queue full waits a second to try again. Each
    // reader waits for its slot's connections, so the accept loop never starts or ends a thread.
    if (!room->writer.start(slots.get(), maxClients, listener->lastError))
        return false;
    for (uint32_t i = 0; i < maxClients; ++i) {
        if (!slots[i].reader.start()) {
            listener->lastError = SocketErrorText(WSA_NOT_ENOUGH_MEMORY);
            return false;
        }
    }
    if (!listener->listen(port))
        return false;
    Thread::start();
    return true;
}

uint32_t ChatServer::occupiedSlots() {
    uint32_t count = 0;
    for (uint32_t i = 0; listener && i < listener->maxConnections; ++i)
        count += slots[i].connected();
    return count;
}

size_t ChatServer::queuedBytes(uint32_t slot) {
    if (!listener || slot >= listener->maxConnections)
        return 0;
    return slots[slot].queuedBytes();
}

bool ChatServer::anySlotFree() {
    for (uint32_t i = 0; i < listener->maxConnections; ++i) {
        if (slots[i].isFree())
            return true;
    }
    return false;
}

void ChatServer::run() {
    const uint32_t count = listener->maxConnections;
    while (listener->open) {
        bool sawFree = false;
        // Connections taken in this pass whose readers are still to be woken. A burst of connects
        // is taken from the listen queue before any reader runs: woken readers compete for the
        // processor, and a queue only 10 deep that overflows makes the system drop connects,
        // which then retry only a second later.
        uint64_t taken = 0;
        for (uint32_t i = 0; i < count && listener->open; ++i) {
            if (!slots[i].isFree())
                continue;
            sawFree = true;
            if (taken != 0 && !listener->waitReadable(0))
                break;
            if (!listener->accept()) {
                // Out of descriptors or memory: accept fails at once until something frees, so
                // pause instead of spinning.
                if (listener->outOfResources) {
                    std::unique_lock<std::mutex> wait(room->waitMutex);
                    room->freed.wait_for(wait, std::chrono::milliseconds(100));
                }
                continue;
            }
            slots[i].reader.waitIdle();
            slots[i].take(listener->acceptedHandle);
            taken |= uint64_t{1} << i;
        }
        for (uint32_t i = 0; taken != 0; ++i) {
            if (!(taken & (uint64_t{1} << i)))
                continue;
            taken &= ~(uint64_t{1} << i);
            slots[i].socket.setNoDelay();
            slots[i].socket.setKeepAlive(ChatKeepAlive);
            slots[i].reader.assign();
        }
        if (!sawFree)
            waitForFreeSlot();
    }
}

void ChatServer::waitForFreeSlot() {
    // Further connections wait in the listen queue until a slot frees. Once a second the loop
    // looks whether one waits there, and then makes room if a slot's client never said anything.
    const auto step = std::chrono::milliseconds(std::min(1000, silentMs.load()));
    {
        std::unique_lock<std::mutex> wait(room->waitMutex);
        acceptWaiting = true;
        room->freed.wait_for(wait, step, [this] { return !listener->open || anySlotFree(); });
        acceptWaiting = false;
    }
    if (listener->open && !anySlotFree() && listener->waitReadable(0))
        closeSilentSlot();
}

void ChatServer::closeSilentSlot() {
    // The connection that has been silent longest. One that sent anything (a login, a line) is
    // never closed for silence.
    const auto now = Slot::Clock::now();
    const auto limit = std::chrono::milliseconds(silentMs.load());
    Slot* silent = nullptr;
    for (uint32_t i = 0; i < listener->maxConnections; ++i) {
        Slot& slot = slots[i];
        if (slot.heard || !slot.connected() || now - slot.takenAt < limit)
            continue;
        if (!silent || slot.takenAt < silent->takenAt)
            silent = &slot;
    }
    if (silent)
        silent->wake(); // its reader sees the end, frees the slot, and the waiting one gets it
}

int32_t ChatServer::sendTo(int32_t slot, const char* text) {
    if (!listener || static_cast<uint32_t>(slot) >= listener->maxConnections)
        return -1;
    const size_t count = std::strlen(text);
    return slots[slot].send(text, count) ? static_cast<int32_t>(count) : -1;
}

void ChatServer::broadcast(const char* text) {
    broadcastBytes(text, static_cast<int32_t>(std::strlen(text)));
}

void ChatServer::broadcastBytes(const char* bytes, int32_t count) {
    if (!listener || count < 0)
        return;
    for (uint32_t i = 0; i < listener->maxConnections; ++i)
        slots[i].send(bytes, static_cast<size_t>(count));
}

std::string ChatServer::lastError() {
    return listener ? listener->lastError : std::string();
}

void ChatServer::endReaders() {
    // Each reader that serves a connection is woken, releases its slot and waits again; then every
    // reader ends. A slot that still holds a connection after that (its close failed) is released
    // here.
    const uint32_t count = listener->maxConnections;
    for (uint32_t i = 0; i < count; ++i) {
        if (slots[i].connected())
            slots[i].wake();
    }
    {
        std::unique_lock<std::mutex> wait(room->waitMutex);
        room->freed.wait(wait, [this, count] {
            for (uint32_t i = 0; i < count; ++i) {
                if (!slots[i].reader.idle())
                    return false;
            }
            return true;
        });
    }
    for (uint32_t i = 0; i < count; ++i) {
        slots[i].reader.quit();
        slots[i].release();
    }
}

void ChatServer::stop() {
    if (!listener)
        return;
    room->stopping = true;
    room->flow.release();
    room->writer.drain(DRAIN_TIMEOUT_MS);

    // The accept loop ends first: a reader that is woken frees its slot, and an accept loop still
    // running would give the slot to a new connection while this thread waits for the readers.
    const bool accepting = listener->open;
    listener->open = false;
    room->slotFreed();
    if (accepting) {
        // Make the blocked accept return with a connection of our own. When the accept loop
        // waits for a free slot instead, or the connection cannot be made, shutting the
        // listening socket down ends the accept.
        bool woken = false;
        if (!acceptWaiting) {
            wakeClient = std::make_unique<ChatClient>();
            woken = wakeClient->connect("127.0.0.1", listener->port);
            wakeClient->close();
            wakeClient.reset();
        }
        if (!woken)
            listener->wake();
    }
    Thread::stop();
    endReaders(); // the clients' connections, and the wake-up connection if it got a slot

    room->writer.stop();
    slots.reset();
    room.reset();
    listener.reset();
}
