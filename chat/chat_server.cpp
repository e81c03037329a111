// The chat server: listening, the accept loop, slot readers, the queued writer and the stop.
#include "chat/chat_server.h"

#include "chat/chat_client.h"
#include "chat/keep_alive.h"
#include "chat/message_framer.h"
#include "net/socket_errors.h"
#include "net/socket_poll.h"

#include <chrono>
#include <cstring>
#include <vector>

ChatServer::ChatServer(ServerDataHandler dataHandler, ServerLostHandler onLost)
    : handler(dataHandler), lostHandler(onLost) {}

ChatServer::~ChatServer() {
    stop();
    Thread::stop(false);
}

bool ChatServer::start(uint32_t maxClients, uint16_t port) {
    stop();
    listener = TcpSocket::createStream();
    listener->maxConnections = maxClients;
    slots = std::make_unique<TcpSocket[]>(maxClients);
    readers = std::make_unique<SlotReader[]>(maxClients);
    queues = std::make_unique<SlotQueue[]>(maxClients);
    for (uint32_t i = 0; i < maxClients; ++i)
        readers[i].server = this;
    // One bit per slot in dirtySlots.
    if (maxClients == 0 || maxClients > 64) {
        listener->lastError = SocketErrorText(WSA_INVALID_ARGUMENT);
        return false;
    }
    writerWake = std::make_unique<Waker>();
    if (!writerWake->ready()) {
        listener->lastError = writerWake->lastError;
        return false;
    }
    if (!listener->listen(port))
        return false;
    writer.server = this;
    writerRunning = true;
    writer.start();
    Thread::start();
    return true;
}

uint32_t ChatServer::occupiedSlots() {
    if (!listener)
        return 0;
    uint32_t count = 0;
    for (uint32_t i = 0; i < listener->maxConnections; ++i) {
        std::lock_guard<std::mutex> guard(queues[i].mutex);
        count += slots[i].handle != NO_HANDLE;
    }
    return count;
}

bool ChatServer::anySlotFree() {
    for (uint32_t i = 0; i < listener->maxConnections; ++i) {
        std::lock_guard<std::mutex> guard(queues[i].mutex);
        if (!slots[i].open)
            return true;
    }
    return false;
}

void ChatServer::run() {
    const uint32_t count = listener->maxConnections;
    while (listener->open) {
        bool sawFree = false;
        for (uint32_t i = 0; i < count && listener->open; ++i) {
            {
                std::lock_guard<std::mutex> guard(queues[i].mutex);
                if (slots[i].open)
                    continue;
            }
            sawFree = true;
            if (!listener->accept()) {
                // Out of descriptors or memory: accept fails at once until something frees, so
                // pause instead of spinning.
                if (listener->outOfResources) {
                    std::unique_lock<std::mutex> wait(waitMutex);
                    slotFreed.wait_for(wait, std::chrono::milliseconds(100));
                }
                continue;
            }
            // The slot's previous reader released the slot and has at most its last steps left.
            readers[i].stop(true);
            {
                std::lock_guard<std::mutex> guard(queues[i].mutex);
                slots[i].handle = listener->acceptedHandle;
                slots[i].open = true;
                queues[i].pending.clear();
                queues[i].sentBytes = 0;
                queues[i].behindSince = {};
            }
            slots[i].setNoDelay();
            slots[i].setKeepAlive(ChatKeepAlive);
            readers[i].slotIndex = i;
            readers[i].start();
            break;
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
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(queues[slot].mutex);
            if (socket.handle == NO_HANDLE)
                return;
        }
        waitWhileHeld();
        // Only this thread and, after joining it, stop() release the slot, so the descriptor
        // stays valid while this receive runs.
        const int32_t received = socket.recv(framer.space(), framer.spaceSize());
        if (received > 0) {
            framer.received(static_cast<uint32_t>(received), deliver,
                            [&socket](int ms) { return socket.waitReadable(ms); });
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
        std::lock_guard<std::mutex> guard(queues[slot].mutex);
        if (slots[slot].handle == NO_HANDLE)
            return;
        queues[slot].pending.clear();
        queues[slot].sentBytes = 0;
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
    return enqueue(static_cast<uint32_t>(slot), text, count) ? static_cast<int32_t>(count) : -1;
}

void ChatServer::broadcast(const char* text) {
    broadcastBytes(text, static_cast<int32_t>(std::strlen(text)));
}

void ChatServer::broadcastBytes(const char* bytes, int32_t count) {
    if (!listener || count < 0)
        return;
    for (uint32_t i = 0; i < listener->maxConnections; ++i)
        enqueue(i, bytes, static_cast<size_t>(count));
}

std::string ChatServer::lastError() {
    return listener ? listener->lastError : std::string();
}

bool ChatServer::enqueue(uint32_t slot, const char* bytes, size_t count) {
    SlotQueue& queue = queues[slot];
    {
        std::lock_guard<std::mutex> guard(queue.mutex);
        if (slots[slot].handle == NO_HANDLE)
            return false;
        if (count == 0)
            return true;
        if (queue.pending.size() - queue.sentBytes + count > OUTBOX_LIMIT) {
            // The client stopped reading: drop it rather than let it hold the room up.
            dropSlot(slot);
            return false;
        }
        const bool wasIdle = queue.pending.size() == queue.sentBytes;
        queue.pending.append(bytes, count);
        // Hold the readers at once rather than at the writer's next pass, which may come only
        // after every reader has added another block; the writer then decides when to let go.
        const bool holdNow = !wasIdle && !holding && holdsReaders(slot);
        if (holdNow)
            holding = true;
        if (!wasIdle && !holdNow)
            return true; // the writer already knows about this slot
    }
    dirtySlots.fetch_or(uint64_t{1} << slot);
    wakeWriter();
    return true;
}

void ChatServer::wakeWriter() {
    writerWake->wake();
}

void ChatServer::dropSlot(uint32_t slot) {
    queues[slot].pending.clear();
    queues[slot].sentBytes = 0;
    slots[slot].wake(); // the reader sees the end of the connection and releases the slot
}

bool ChatServer::flushSlot(uint32_t slot) {
    SlotQueue& queue = queues[slot];
    TcpSocket& socket = slots[slot];
    while (socket.handle != NO_HANDLE && queue.sentBytes < queue.pending.size()) {
        const size_t left = queue.pending.size() - queue.sentBytes;
        const int32_t chunk = static_cast<int32_t>(std::min<size_t>(left, 1 << 30));
        const int32_t sent = socket.trySend(queue.pending.data() + queue.sentBytes, chunk);
        if (sent == TcpSocket::WOULD_BLOCK)
            return true;
        if (sent < 0) {
            dropSlot(slot); // the connection broke; its reader will notice and release it
            return false;
        }
        queue.sentBytes += static_cast<size_t>(sent);
        queue.tookAt = std::chrono::steady_clock::now();
    }
    queue.pending.clear();
    queue.sentBytes = 0;
    queue.behindSince = {};
    return false;
}

bool ChatServer::holdsReaders(uint32_t slot) {
    SlotQueue& queue = queues[slot];
    if (queue.pending.size() - queue.sentBytes <= HOLD_BYTES) {
        queue.behindSince = {};
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (queue.behindSince == std::chrono::steady_clock::time_point{})
        queue.behindSince = now;
    return now - queue.tookAt < std::chrono::milliseconds(STALLED_MS) &&
           now - queue.behindSince < std::chrono::milliseconds(HOLD_MS);
}

void ChatServer::waitWhileHeld() {
    if (!holding)
        return;
    // Not under ChatLock or any slot's lock; bounded, so that nothing can hold a reader for long.
    std::unique_lock<std::mutex> wait(waitMutex);
    released.wait_for(wait, std::chrono::milliseconds(HOLD_MS),
                      [this] { return !holding || stopping; });
}

void ChatServer::writeQueues() {
    const uint32_t count = listener->maxConnections;
    std::vector<PollEntry> watched;
    watched.reserve(count + 1);
    uint64_t blocked = 0; // slots waiting for their connection to take more
    while (writerRunning) {
        const uint64_t work = dirtySlots.exchange(0) | blocked;
        blocked = 0;
        bool hold = false;
        watched.clear();
        watched.push_back({writerWake->pollHandle(), POLL_READABLE, 0});
        for (uint32_t i = 0; i < count; ++i) {
            if (!(work & (uint64_t{1} << i)))
                continue;
            std::lock_guard<std::mutex> guard(queues[i].mutex);
            if (flushSlot(i)) {
                blocked |= uint64_t{1} << i;
                watched.push_back({slots[i].handle, POLL_WRITABLE, 0});
                hold = holdsReaders(i) || hold;
            }
        }
        if (holding != hold) {
            holding = hold;
            if (!hold) {
                std::lock_guard<std::mutex> wait(waitMutex);
                released.notify_all();
            }
        }
        if (blocked == 0) {
            std::lock_guard<std::mutex> wait(waitMutex);
            drained.notify_all();
        }
        // A descriptor polled here may be released and reused meanwhile; that only causes an
        // extra pass, since every send happens under the slot's lock after checking its handle.
        // While the readers are held, look again soon: the hold ends by time as well.
        if (PollSockets(watched.data(), watched.size(), hold ? 10 : -1) > 0 &&
            (watched[0].ready & POLL_READABLE))
            writerWake->drain();
    }
}

bool ChatServer::queuesEmpty() {
    for (uint32_t i = 0; i < listener->maxConnections; ++i) {
        std::lock_guard<std::mutex> guard(queues[i].mutex);
        if (queues[i].sentBytes < queues[i].pending.size())
            return false;
    }
    return true;
}

void ChatServer::drainQueues() {
    std::unique_lock<std::mutex> wait(waitMutex);
    drained.wait_for(wait, std::chrono::milliseconds(DRAIN_TIMEOUT_MS),
                     [this] { return queuesEmpty(); });
}

void ChatServer::endReaders() {
    for (uint32_t i = 0; i < listener->maxConnections; ++i) {
        {
            std::lock_guard<std::mutex> guard(queues[i].mutex);
            if (!slots[i].open && slots[i].handle == NO_HANDLE)
                continue;
            if (slots[i].handle != NO_HANDLE)
                slots[i].wake();
        }
        readers[i].stop(false);
        releaseSlot(i); // when the reader never ran or left the slot behind
    }
}

void ChatServer::stop() {
    if (!listener)
        return;
    stopping = true;
    {
        std::lock_guard<std::mutex> wait(waitMutex);
        released.notify_all();
    }
    if (writerRunning)
        drainQueues();

    // The accept loop ends first: a reader that ends frees its slot, and an accept loop still
    // running would take the slot and restart that reader while this thread waits for it.
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
    Thread::stop(false);
    endReaders(); // the clients' connections, and the wake-up connection if it got a slot

    if (writerRunning) {
        writerRunning = false;
        wakeWriter();
        writer.stop(false);
    }
    writerWake.reset();
    dirtySlots = 0;
    holding = false;
    readers.reset();
    slots.reset();
    queues.reset();
    listener.reset();
    stopping = false;
}
