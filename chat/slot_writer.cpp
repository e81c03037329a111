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
    std::vector<uint32_t> watchedSlot; // the slot of each watched connection (after the waker)
    watched.reserve(count + 1);
    watchedSlot.reserve(count);
    // What the last pass found for each slot still behind.
    FlowControl::Pressure pressures[MAX_SLOTS] = {};
    SocketHandle handles[MAX_SLOTS];
    uint64_t blocked = 0; // slots waiting for their connection to take more
    uint64_t again = 0;   // slots whose connection took all it was given, with more gathered
    auto checked = FlowControl::Clock::now();
    while (running) {
        // Blocked connections are tried when the poll found them ready, and all of them every
        // PRESSURE_CHECK_MS: a connection that stops taking bytes stops counting after a while,
        // and nothing else would notice.
        uint64_t ready = 0;
        for (size_t i = 1; i < watched.size(); ++i)
            if (watched[i].ready != 0)
                ready |= bit(watchedSlot[i - 1]);
        const auto now = FlowControl::Clock::now();
        if (now - checked >= std::chrono::milliseconds(PRESSURE_CHECK_MS)) {
            ready = blocked;
            checked = now;
        }
        const uint64_t work = dirty.exchange(0) | again | (blocked & ready);
        blocked &= ~work;
        again = 0;
        watched.clear();
        watchedSlot.clear();
        watched.push_back({waker->pollHandle(), POLL_READABLE, 0});
        FlowControl::Pressure worst = FlowControl::Pressure::None;
        for (uint32_t i = 0; i < count; ++i) {
            if (work & bit(i)) {
                pressures[i] = FlowControl::Pressure::None;
                const Slot::Left rest = slots[i].writeQueued(handles[i], pressures[i]);
                if (rest == Slot::Left::More)
                    again |= bit(i);
                else if (rest == Slot::Left::Blocked)
                    blocked |= bit(i);
                if (rest == Slot::Left::Nothing)
                    continue;
            } else if (!(blocked & bit(i))) {
                continue;
            }
            worst = std::max(worst, pressures[i]);
            if (blocked & bit(i)) {
                watched.push_back({handles[i], POLL_WRITABLE, 0});
                watchedSlot.push_back(i);
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
