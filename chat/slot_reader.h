// SlotReader and SlotWriter: the worker threads of a ChatServer. Each slot has a reader; one
// writer drains the outgoing queues of every slot.
#pragma once

#include "net/thread.h"

#include <cstdint>

class ChatServer;

class SlotReader final : public Thread {
public:
    ChatServer* server = nullptr; // set by start(); not owned
    uint32_t slotIndex = 0;       // set by the accept loop before every start

    ~SlotReader() override;
    void run() override;
};

class SlotWriter final : public Thread {
public:
    ChatServer* server = nullptr;

    ~SlotWriter() override;
    void run() override;
};
