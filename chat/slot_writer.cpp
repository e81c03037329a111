// SlotWriter: the poll loop over the connections that are behind.
#include "chat/slot_writer.h"

#include "chat/slot.h"
#include "net/socket_errors.h"
#include "net/socket_poll.h"

#include <vector>

namespace {

uint64_t Bit(uint32_t slot) {
    return uint64_t{1} << slot;
}

// While a queue is long, the writer looks again this often: a connection that stops taking bytes
// stops counting after a while, and nothing else would notice.
constexpr int PRESSURE_CHECK_MS = 50;

} // namespace

SlotWriter::~SlotWriter() {
    stop();
}

bool SlotWriter::start(Slot* slotArray, uint32_t slotCount, std::string& error) {
    slots = slotArray;
    count = slotCount;
    dirty = 0;
    waker = std::make_unique<Waker>();
    if (!waker->ready()) {
        error = waker->lastError;
        return false;
    }
    running = true;
    if (!Thread::start()) {
        running = false;
        error = SocketErrorText(WSA_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

void SlotWriter::stop() {
    if (!running.exchange(false))
        return;
    waker->wake();
    Thread::stop();
}

void SlotWriter::handOver(uint32_t slot) {
    dirty.fetch_or(Bit(slot));
    waker->wake();
}

bool SlotWriter::empty() {
    for (uint32_t i = 0; i < count; ++i) {
        if (slots[i].queuedBytes() > 0)
            return false;
    }
    return true;
}

void SlotWriter::drain(int timeoutMs) {
    if (!running)
        return;
    std::unique_lock<std::mutex> wait(waitMutex);
    drained.wait_for(wait, std::chrono::milliseconds(timeoutMs), [this] { return empty(); });
}

void SlotWriter::run() {
    std::vector<PollEntry> watched;
    watched.reserve(count + 1);
    uint64_t blocked = 0; // slots waiting for their connection to take more
    while (running) {
        const uint64_t work = dirty.exchange(0) | blocked;
        blocked = 0;
        FlowControl::Pressure worst = FlowControl::Pressure::None;
        watched.clear();
        watched.push_back({waker->pollHandle(), POLL_READABLE, 0});
        for (uint32_t i = 0; i < count; ++i) {
            if (!(work & Bit(i)))
                continue;
            SocketHandle connection = NO_HANDLE;
            FlowControl::Pressure pressure = FlowControl::Pressure::None;
            if (slots[i].writeQueued(connection, pressure)) {
                blocked |= Bit(i);
                watched.push_back({connection, POLL_WRITABLE, 0});
                worst = std::max(worst, pressure);
            }
        }
        flow.set(worst);
        if (blocked == 0) {
            std::lock_guard<std::mutex> wait(waitMutex);
            drained.notify_all();
        }
        // A handle polled here may be released and reused meanwhile; that only costs an extra
        // pass, since a send checks the slot's handle under its lock and a release waits for
        // the send in progress.
        const bool pressed = worst != FlowControl::Pressure::None;
        PollSockets(watched.data(), watched.size(), pressed ? PRESSURE_CHECK_MS : -1);
        if (watched[0].ready & POLL_READABLE)
            waker->drain();
    }
}
