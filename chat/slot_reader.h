// SlotReader: the worker thread that reads one slot of a ChatServer. It runs from the server's
// start to its stop and serves each connection the accept loop gives its slot, so that taking a
// connection costs a wake-up rather than a thread's start and end.
#pragma once

#include "net/thread.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class Slot;

class SlotReader final : public Thread {
public:
    // How much one read of a slot may take; the handler still gets blocks of at most 1023 bytes.
    static constexpr uint32_t READ_BYTES = 16 * 1024;

    explicit SlotReader(Slot& served) : slot(served) {}
    ~SlotReader() override;
    void run() override;

    // The accept loop: the slot holds a new connection; serve it.
    void assign();
    // Whether the reader waits for a connection (it has finished with the last one, departure
    // included).
    bool idle() const { return !busy; }
    // Waits until idle(): a slot is free once its connection is closed, while its reader may still
    // announce the departure; the next connection waits for that, as it would for a join.
    void waitIdle();
    // Ends the thread once it is idle, and waits for it.
    void quit();

private:
    void serve();

    Slot& slot; // the slot that owns this reader

    // Guards `assigned`, `quitting` and changes of `busy`; a leaf lock, held only to change them.
    std::mutex mutex;
    std::condition_variable changed;
    bool assigned = false;
    bool quitting = false;
    std::atomic<bool> busy{false};
};
