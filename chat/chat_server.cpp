// The chat server: listening, the accept loop, slot readers and the stop.
#include "chat/chat_server.h"

#include "chat/chat_client.h"
#include "chat/keep_alive.h"
#include "chat/message_framer.h"
#include "net/socket_errors.h"

#include <algorithm>
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
    slots = std::make_unique<TcpSocket[]>(maxClients);
    readers = std::make_unique<SlotReader[]>(maxClients);
    queues = std::make_unique<SlotQueues>(slots.get(), maxClients);
    if (maxClients == 0 || maxClients > SlotQueues::MAX_SLOTS) {
        listener->lastError = SocketErrorText(WSA_INVALID_ARGUMENT);
        return false;
    }
    if (!listener->listen(port) || !queues->start(listener->lastError))
        return false;
    // Every reader starts now and waits for its slot's connections, so that the accept loop never
    // starts or ends a thread.
    for (uint32_t i = 0; i < maxClients; ++i) {
        readers[i].server = this;
        readers[i].slotIndex = i;
        if (!readers[i].start()) {
            listener->lastError = SocketErrorText(WSA_NOT_ENOUGH_MEMORY);
            return false;
        }
    }
    Thread::start();
    return true;
}

uint32_t ChatServer::occupiedSlots() {
    if (!listener)
        return 0;
    uint32_t count = 0;
    for (uint32_t i = 0; i < listener->maxConnections; ++i) {
        std::lock_guard<std::mutex> guard(queues->lock(i));
        count += slots[i].handle != NO_HANDLE;
    }
    return count;
}

bool ChatServer::slotFree(uint32_t slot) {
    std::lock_guard<std::mutex> guard(queues->lock(slot));
    return !slots[slot].open;
}

bool ChatServer::anySlotFree() {
    for (uint32_t i = 0; i < listener->maxConnections; ++i) {
        if (slotFree(i))
            return true;
    }
    return false;
}

void ChatServer::readerIdle() {
    std::lock_guard<std::mutex> wait(waitMutex);
    slotFreed.notify_all();
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
            if (!slotFree(i))
                continue;
            sawFree = true;
            if (taken != 0 && !listener->waitReadable(0))
                break;
            if (!listener->accept()) {
                // Out of descriptors or memory: accept fails at once until something frees, so
                // pause instead of spinning.
                if (listener->outOfResources) {
                    std::unique_lock<std::mutex> wait(waitMutex);
                    slotFreed.wait_for(wait, std::chrono::milliseconds(100));
                }
                continue;
            }
            readers[i].waitIdle();
            std::lock_guard<std::mutex> guard(queues->lock(i));
            slots[i].handle = listener->acceptedHandle;
            slots[i].open = true;
            queues->clear(i);
            taken |= uint64_t{1} << i;
        }
        for (uint32_t i = 0; taken != 0; ++i) {
            if (!(taken & (uint64_t{1} << i)))
                continue;
            taken &= ~(uint64_t{1} << i);
            slots[i].setNoDelay();
            slots[i].setKeepAlive(ChatKeepAlive);
            readers[i].assign();
        }
        if (!sawFree) {
            // Every slot is taken: further connections wait in the listen queue until one frees.
            std::unique_lock<std::mutex> wait(waitMutex);
            acceptWaiting = true;
            slotFreed.wait(wait, [this] { return !listener->open || anySlotFree(); });
            acceptWaiting = false;
        }
    }
}

void ChatServer::serveSlot(uint32_t slot) {
    TcpSocket& socket = slots[slot];
    MessageFramer framer(Receiver::Host);
    auto deliver = [this, slot](char* bytes, int32_t count) {
        if (handler)
            handler(static_cast<int32_t>(slot), bytes, count);
    };
    // One read takes what a flood has waiting, and the framer gets it in pieces of what it has
    // room for. Sends that the handler calls make go out when the read is handled, in one send
    // per slot.
    char staged[READ_BYTES];
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(queues->lock(slot));
            if (socket.handle == NO_HANDLE)
                return;
        }
        queues->waitWhileHeld();
        // Only this thread and, after joining it, stop() release the slot, so the descriptor
        // stays valid while this receive runs.
        const int32_t received = socket.recv(staged, READ_BYTES);
        if (received > 0) {
            SlotQueues::Batch batch(*queues);
            const auto total = static_cast<uint32_t>(received);
            uint32_t at = 0;
            auto moreSoon = [&](int ms) {
                if (at < total)
                    return true;
                batch.flush(); // nothing waits for the grace
                return socket.waitReadable(ms);
            };
            while (at < total) {
                const uint32_t piece = std::min(total - at, framer.spaceSize());
                std::memcpy(framer.space(), staged + at, piece);
                at += piece;
                framer.received(piece, deliver, moreSoon);
            }
            continue;
        }
        const bool fromClient = !stopping;
        if (fromClient)
            framer.flush(deliver);
        releaseSlot(slot);
        if (fromClient && lostHandler)
            lostHandler(static_cast<int32_t>(slot));
        return;
    }
}

void ChatServer::releaseSlot(uint32_t slot) {
    {
        std::lock_guard<std::mutex> guard(queues->lock(slot));
        if (slots[slot].handle == NO_HANDLE)
            return;
        queues->clear(slot);
        // close() clears `open` and gives the descriptor back; if it fails the slot stays taken
        // (stuck) until stop, but it never keeps a handle that sends could use.
        if (!slots[slot].close())
            slots[slot].handle = NO_HANDLE;
    }
    std::lock_guard<std::mutex> wait(waitMutex);
    slotFreed.notify_all();
}

int32_t ChatServer::sendTo(int32_t slot, const char* text) {
    if (!listener || static_cast<uint32_t>(slot) >= listener->maxConnections)
        return -1;
    const size_t count = std::strlen(text);
    return queues->send(static_cast<uint32_t>(slot), text, count) ? static_cast<int32_t>(count)
                                                                  : -1;
}

void ChatServer::broadcast(const char* text) {
    broadcastBytes(text, static_cast<int32_t>(std::strlen(text)));
}

void ChatServer::broadcastBytes(const char* bytes, int32_t count) {
    if (!listener || count < 0)
        return;
    for (uint32_t i = 0; i < listener->maxConnections; ++i)
        queues->send(i, bytes, static_cast<size_t>(count));
}

std::string ChatServer::lastError() {
    return listener ? listener->lastError : std::string();
}

void ChatServer::endReaders() {
    // Each reader that serves a connection is woken, releases its slot and waits again; then every
    // reader ends. A slot that still holds a connection after that (its close failed) is released
    // here.
    for (uint32_t i = 0; i < listener->maxConnections; ++i) {
        std::lock_guard<std::mutex> guard(queues->lock(i));
        if (slots[i].handle != NO_HANDLE)
            slots[i].wake();
    }
    {
        std::unique_lock<std::mutex> wait(waitMutex);
        slotFreed.wait(wait, [this] {
            for (uint32_t i = 0; i < listener->maxConnections; ++i) {
                if (!readers[i].idle())
                    return false;
            }
            return true;
        });
    }
    for (uint32_t i = 0; i < listener->maxConnections; ++i) {
        readers[i].quit();
        releaseSlot(i);
    }
}

void ChatServer::stop() {
    if (!listener)
        return;
    stopping = true;
    queues->drain(DRAIN_TIMEOUT_MS);

    // The accept loop ends first: a reader that is woken frees its slot, and an accept loop still
    // running would give the slot to a new connection while this thread waits for the readers.
    const bool accepting = listener->open;
    listener->open = false;
    {
        std::lock_guard<std::mutex> wait(waitMutex);
        slotFreed.notify_all();
    }
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

    queues->stop();
    readers.reset();
    queues.reset();
    slots.reset();
    listener.reset();
    stopping = false;
}
