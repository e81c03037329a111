// ServerCore: what the slots of one ChatServer share: the handlers their readers call, the writer
// that sends what connections did not take at once, flow control, and the accept loop's wake-up.
#pragma once

#include "chat/flow_control.h"
#include "chat/slot_writer.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// Receives every whole message block of a slot (bytes followed by a zero byte).
using ServerDataHandler = void (*)(int32_t slot, char* bytes, int32_t count);
// Told, on the slot's reader thread, that a slot's connection ended from the client's side (or
// was dropped for not reading, or closed for silence), not by the server's own stop.
using ServerLostHandler = void (*)(int32_t slot);

class ServerCore {
public:
    ServerCore(ServerDataHandler data, ServerLostHandler lost) : handler(data), lostHandler(lost) {}

    const ServerDataHandler handler;
    const ServerLostHandler lostHandler;
    std::atomic<bool> stopping{false}; // set while the server stops: no departures announced
    FlowControl flow;
    SlotWriter writer{flow};
    // Readers sending a batch for the room right now (see Slot::Batch).
    std::atomic<int> senders{0};

    // A slot became free, or a reader finished with its connection: wakes the accept loop and a
    // stop that waits for the readers.
    void slotFreed() {
        std::lock_guard<std::mutex> guard(waitMutex);
        freed.notify_all();
    }

    // Guards nothing but the waits on `freed`; taken before a slot's lock (the waits check the
    // slots), never after.
    std::mutex waitMutex;
    std::condition_variable freed;
};
