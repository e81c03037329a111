// FlowControl: how a host keeps its slow readers without letting one sender flood the room. While
// a connection that is still taking bytes has a long queue, the readers of the heavy senders wait
// before their next read, so that TCP pushes back on those senders and nothing they sent is lost;
// light senders (a few lines a second) go on being read.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

class FlowControl {
public:
    using Clock = std::chrono::steady_clock;

    // A queue this long makes heavy senders wait.
    static constexpr size_t BEHIND_BYTES = 64 * 1024;
    // A queue this long makes every sender wait; a connection that stopped reading is dropped
    // rather than queued past it.
    static constexpr size_t FULL_BYTES = 256 * 1024;
    // Never queued for anybody: the bound that holds even if waiting readers lag behind.
    static constexpr size_t MAX_BYTES = 1024 * 1024;
    // A connection that took nothing for this long has stopped reading: nobody waits for it. A
    // reader that pauses for up to two seconds at a time is waited for.
    static constexpr int STALLED_MS = 4000;
    // What a sender may go on sending while a queue is long: this many bytes a second, after a
    // burst of as many.
    static constexpr double LIGHT_RATE = 16 * 1024;
    static constexpr double LIGHT_BURST = 16 * 1024;

    // How far behind the room's worst waited-for connection is.
    enum class Pressure { None, Behind, Full };

    // The pressure one connection puts on the room: its queue's length, unless it stopped reading.
    static Pressure of(size_t queued, Clock::time_point tookAt, Clock::time_point now);

    // What one reader has sent lately: a bucket of LIGHT_BURST bytes refilled at LIGHT_RATE. Used
    // only on its reader's thread.
    class Budget {
    public:
        void spend(size_t bytes);
        // Refills for the time passed; true while the bucket is not empty.
        bool left(Clock::time_point now);
        // How long until the bucket holds something again.
        Clock::duration untilRefilled() const;

    private:
        double tokens = LIGHT_BURST;
        Clock::time_point at{};
    };

    // The writer, after each pass: the pressure it found. Readers waiting for less go on.
    void set(Pressure found);
    // A sender whose queue just passed a mark: raises the pressure at once, before the writer's
    // next pass. True when it rose: the writer must then look again, since only its passes
    // lower it.
    bool raise(Pressure found);
    // A reader before each receive: waits while the room is full, or while it is behind and this
    // reader's budget is spent. Not under ChatLock or any slot's lock. Returns at once after
    // release(), or when gone() turns true (checked every WAIT_STEP_MS).
    template <class Gone> void waitTurn(Budget& budget, Gone&& gone);
    // Nobody waits again (the server is stopping).
    void release();

private:
    static constexpr int WAIT_STEP_MS = 100;
    bool mayRead(Budget& budget);
    void waitStep(const Budget& budget);

    std::atomic<Pressure> pressure{Pressure::None};
    std::atomic<bool> released{false};
    // Guards nothing but the wait; a leaf lock.
    std::mutex mutex;
    std::condition_variable eased; // notified when the pressure falls or release() is called
};

template <class Gone> void FlowControl::waitTurn(Budget& budget, Gone&& gone) {
    while (!mayRead(budget) && !gone())
        waitStep(budget);
}
