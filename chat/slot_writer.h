// SlotWriter: the thread that sends what a slot's connection did not take at once, as soon as it
// can take more, so that a client that reads slowly or not at all never blocks anybody else. It
// also finds, on each pass, how far behind the room's slowest readers are (flow control).
#pragma once

#include "chat/flow_control.h"
#include "net/thread.h"
#include "net/waker.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class Slot;

class SlotWriter final : public Thread {
public:
    // One bit per slot in the writer's work sets.
    static constexpr uint32_t MAX_SLOTS = 64;
    // While more keeps gathering, the writer passes over the slots this often: each send then
    // carries what every reader gathered for its connection meanwhile, instead of every line
    // costing every connection a send of its own. Only a busy room waits for it.
    static constexpr int PASS_MS = 2;

    explicit SlotWriter(FlowControl& flowControl) : flow(flowControl) {}
    ~SlotWriter() override;

    // Starts the thread for count slots (1 to MAX_SLOTS) that outlive it; false with the reason
    // in `error`.
    [[nodiscard]] bool start(Slot* slots, uint32_t count, std::string& error);
    // Gives the connections up to timeoutMs to take what is queued.
    void drain(int timeoutMs);
    // Ends the thread. Readers must have ended first.
    void stop();

    // A slot's bit in handOver's set.
    static uint64_t bit(uint32_t slot) { return uint64_t{1} << slot; }
    // From any thread: the writer sends what these slots hold, on its next pass (at once when the
    // connection takes it, else when it can take more).
    void handOver(uint64_t slotBits);
    // Whether the writer is on a pass rather than waiting for work.
    bool busy() const { return !asleep.load(std::memory_order_relaxed); }

    void run() override;

private:
    bool empty();

    FlowControl& flow;
    Slot* slots = nullptr;
    uint32_t count = 0;
    std::unique_ptr<Waker> waker;   // the writer polls it besides the slots
    std::atomic<uint64_t> dirty{0}; // slots newly handed over, one bit each
    // The writer waits (or is about to) for a wake-up: handOver wakes it only then, so that while
    // it passes over the slots, handing it more costs no system call.
    std::atomic<bool> asleep{true};
    std::atomic<bool> running{false}; // the thread's run condition

    // Guards nothing but the wait below; taken before a slot's lock (drain's check of the
    // queues), never after.
    std::mutex waitMutex;
    std::condition_variable drained; // drain() waits here for the queues to empty
};
