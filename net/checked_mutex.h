// CheckedMutex: a mutex that knows which thread holds it, so that code which must run with it held
// says so in a check rather than a comment.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

class CheckedMutex {
public:
    CheckedMutex() = default;
    CheckedMutex(const CheckedMutex&) = delete;
    CheckedMutex& operator=(const CheckedMutex&) = delete;

    void lock() {
        mutex.lock();
        holder.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    bool try_lock() {
        if (!mutex.try_lock())
            return false;
        holder.store(std::this_thread::get_id(), std::memory_order_relaxed);
        return true;
    }
    void unlock() {
        holder.store(std::thread::id(), std::memory_order_relaxed);
        mutex.unlock();
    }

    // Whether the calling thread holds the mutex. Only the holder itself writes its own id, so
    // for the calling thread the answer is exact.
    bool heldHere() const {
        return holder.load(std::memory_order_relaxed) == std::this_thread::get_id();
    }

    // In builds with lock checks (every build but Release), ends the program with a message naming
    // `what` when the calling thread does not hold the mutex; otherwise does nothing.
    void assertHeld(const char* what) const {
#ifdef PARLOX_CHECK_LOCKS
        if (!heldHere())
            failHeld(what);
#else
        (void)what;
#endif
    }

private:
    [[noreturn]] static void failHeld(const char* what);

    std::mutex mutex;
    std::atomic<std::thread::id> holder{};
};
