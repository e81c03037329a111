// SlotReader: the worker thread that reads one slot of a ChatServer.
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
