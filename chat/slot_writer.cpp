// SlotWriter: the poll loop over the connections that are behind.
#include "chat/slot_writer.h"

#include "chat/slot.h"
#include "net/socket_errors.h"
#include "net/socket_poll.h"

#include <vector>

namespace {

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

void SlotWriter::handOver(uint64_t slotBits) {
    dirty.fetch_or(slotBits);
    // Pairs with run()'s store of `asleep` before its last look at `dirty`: either the writer
    // sees these bits then, or this sees it asleep and wakes it.
    if (asleep.exchange(false))
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
    lowerPriority(); // as the readers' (SlotReader::run)
    std::vector<PollEntry> watched;
    watched.reserve(count + 1);
    uint64_t blocked = 0; // slots waiting for their connection to take more
    uint64_t again = 0;   // slots whose connection took all it was given, with more gathered
    while (running) {
        const uint64_t work = dirty.exchange(0) | again | blocked;
        blocked = 0;
        again = 0;
        FlowControl::Pressure worst = FlowControl::Pressure::None;
        watched.clear();
        watched.push_back({waker->pollHandle(), POLL_READABLE, 0});
        for (uint32_t i = 0; i < count; ++i) {
            if (!(work & bit(i)))
                continue;
            SocketHandle connection = NO_HANDLE;
            FlowControl::Pressure pressure = FlowControl::Pressure::None;
            const Slot::Left rest = slots[i].writeQueued(connection, pressure);
            if (rest == Slot::Left::Nothing)
                continue;
            worst = std::max(worst, pressure);
            if (rest == Slot::Left::More) {
                again |= bit(i);
            } else {
                blocked |= bit(i);
                watched.push_back({connection, POLL_WRITABLE, 0});
            }
        }
        flow.set(worst);
        if (blocked == 0 && again == 0) {
            std::lock_guard<std::mutex> wait(waitMutex);
            drained.notify_all();
        }
        // A handle polled here may be released and reused meanwhile; that only costs an extra
        // pass, since a send checks the slot's handle under its lock and a release waits for
        // the send in progress.
        int timeoutMs = worst != FlowControl::Pressure::None ? PRESSURE_CHECK_MS : -1;
        if (again != 0) {
            timeoutMs = PASS_MS;
        } else {
            asleep = true;
            if (dirty.load() != 0 && asleep.exchange(false))
                timeoutMs = 0;
        }
        PollSockets(watched.data(), watched.size(), timeoutMs);
        asleep = false;
        if (watched[0].ready & POLL_READABLE)
            waker->drain();
    }
}
