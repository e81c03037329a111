// SlotReader: waits for a connection, serves it (the loop lives in ChatServer, next to the slot
// state it shares), and waits again.
#include "chat/slot_reader.h"

#include "chat/chat_server.h"

SlotReader::~SlotReader() {
    quit();
}

void SlotReader::assign() {
    std::lock_guard<std::mutex> guard(mutex);
    busy = true;
    assigned = true;
    changed.notify_all();
}

void SlotReader::waitIdle() {
    std::unique_lock<std::mutex> guard(mutex);
    changed.wait(guard, [this] { return !busy; });
}

void SlotReader::quit() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        quitting = true;
        changed.notify_all();
    }
    stop();
}

void SlotReader::run() {
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(mutex);
            changed.wait(guard, [this] { return assigned || quitting; });
            if (quitting)
                return;
            assigned = false;
        }
        server->serveSlot(slotIndex);
        {
            std::lock_guard<std::mutex> guard(mutex);
            busy = false;
            changed.notify_all();
        }
        server->readerIdle();
    }
}
