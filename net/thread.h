// Thread: the worker base on which every blocking loop of the program runs.
#pragma once

#include <atomic>
#include <thread>

class Thread {
public:
    Thread() = default;
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // The thread's body; the base's does nothing.
    virtual void run() {}

    // Replaces any recorded (ended or ending) thread by a new one running run().
    bool start();
    // Waits for the recorded thread to return from run() and releases the record. Called on the
    // thread itself it returns at once and keeps the record. Nothing ever ends a thread from
    // outside, so there is no forced stop: callers first make the loop leave its blocking call.
    void stop();

protected:
    // Called by run() of a thread that serves others in bulk (a room's readers and writer): when
    // the program's threads compete for the processor, this one gives way, so that a flood never
    // keeps the window from answering. It still runs whenever there is room. Per platform
    // (net/posix/, net/winsock/).
    static void lowerPriority() { lowerPriorityBy(ROOM_STEPS); }
    // The same, steps below the program's own priority where the platform counts such steps
    // (Linux's nice values, down to the lowest): a room's threads go ROOM_STEPS down, a file's
    // bytes LOWEST_STEPS, so that they give way to the room's lines as well.
    static constexpr int ROOM_STEPS = 10;
    static constexpr int LOWEST_STEPS = 19;
    static void lowerPriorityBy(int steps);
    // True when called on this object's own running thread.
    bool onOwnThread() const { return std::this_thread::get_id() == id.load(); }

private:
    void release();

    std::thread handle;
    // Written by the new thread itself on entry and by start(); read by stop() on any thread.
    std::atomic<std::thread::id> id{};
};
