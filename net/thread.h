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
    // True when called on this object's own running thread.
    bool onOwnThread() const { return std::this_thread::get_id() == id.load(); }

private:
    void release();

    std::thread handle;
    // Written by the new thread itself on entry and by start(); read by stop() on any thread.
    std::atomic<std::thread::id> id{};
};
