// SendBatch: the sends of one handler call: whose messages they are (a slot's, or the host's), and
// the connections they were queued for, which ChatServer::send sends in one go once the call is
// over, so that a block of many messages costs each connection one send.
#pragma once

#include "chat/out_queue.h"

#include <cstdint>

class SendBatch {
public:
    // A slot number, or a negative id for the host.
    explicit SendBatch(int32_t from)
        : sender(from >= 0 && static_cast<uint32_t>(from) < FlowControl::SENDERS
                     ? static_cast<uint32_t>(from)
                     : OutQueue::HOST) {}

    const uint32_t sender;
    uint64_t touched = 0; // one bit per slot that bytes were queued for
};
