// SlotReader: the worker thread that reads one slot's connections. It runs from the server's start
// to its stop and serves every connection the slot takes, so that taking a connection costs a
// wake-up rather than a thread's start and end. What it runs is given by the slot's owner.
#pragma once

#include "net/thread.h"

#include <functional>
#include <utility>

class SlotReader final : public Thread {
public:
    SlotReader() = default;
    ~SlotReader() override { stop(); }

    // Starts the thread running loop(); false when the platform could not start it.
    bool start(std::function<void()> loop) {
        body = std::move(loop);
        return Thread::start();
    }
    void run() override { body(); }

private:
    std::function<void()> body;
};
