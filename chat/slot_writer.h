// SlotWriter: the thread that sends what connections did not take at once, as soon as they can
// take more, and the lines of readers that fall behind, so that a client that reads slowly or not
// at all never blocks anybody, and a busy room's lines go out many to a send. It runs below the
// program's priority: readers and the window come first, and while they are busy what it sends
// gathers. It also finds when a connection that holds a sender has stopped reading.
#pragma once

#include "chat/connection.h"
#include "chat/flow_control.h"
#include "net/thread.h"
#include "net/waker.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>

class SlotWriter final : public Thread {
public:
    // connections and the flow control outlive the writer; freed is woken when a send closed a
    // connection that its reader had finished with (the slot is then free).
    SlotWriter(std::span<Connection> served, FlowControl& flowControl, Waker& slotFreed)
        : connections(served), flow(flowControl), freed(slotFreed) {}
    ~SlotWriter() override { finish(0); }

    // Starts the thread; false with the reason in `error`.
    [[nodiscard]] bool start(std::string& error);
    // Ends the thread once every connection has taken what is queued for it, or after timeoutMs.
    void finish(int timeoutMs);

    // While more keeps gathering, the writer sends every PASS_MS: each send then carries what
    // every reader gathered for its connection meanwhile, instead of every line costing every
    // connection a send of its own. Only a busy room waits for it.
    static constexpr int PASS_MS = 2;

    // From any thread: the writer sends what these connections hold (one bit per slot).
    void handOver(uint64_t slotBits);
    // From any thread: a queue gave back what a flood made it grow to; the writer hands the
    // memory back to the system once the room is quiet.
    void giveBackMemory();
    // Whether the writer is on its passes rather than waiting for work.
    bool busy() const { return !asleep.load(std::memory_order_relaxed); }

    void run() override;

private:
    bool allSent();

    const std::span<Connection> connections;
    FlowControl& flow;
    Waker& freed;
    Waker waker;                         // the writer polls it besides the connections
    std::atomic<uint64_t> dirty{0};      // connections newly handed over
    std::atomic<int> batches{0};         // hand-overs since the last pass
    std::atomic<bool> trimWanted{false}; // memory to give back once the room is quiet
    // The writer waits (or is about to) for a wake-up: handOver wakes it only then, so that while
    // it is sending, handing it more costs no system call.
    std::atomic<bool> asleep{true};
    std::atomic<bool> running{false};
    std::atomic<std::chrono::steady_clock::time_point> finishBy{};
};
