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
    // Called by run() of a thread that moves a file's bytes: it runs at the lowest priority the
    // platform gives below the program's own (Linux's nice 19), so that file bytes give way to the
    // room's lines and the window and still use every processor cycle nobody else wants. Per
    // platform (net/posix/, net/winsock/).
    static void giveWayToEveryone();
    // True when called on this object's own running thread.
    bool onOwnThread() const { return std::this_thread::get_id() == id.load(); }

private:
    void release();

    std::thread handle;
    // Written by the new thread itself on entry and by start(); read by stop() on any thread.
    std::atomic<std::thread::id> id{};
};
