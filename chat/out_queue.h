// OutQueue: the bytes waiting for one connection, in the order they were queued, with how many
// of them came from each sender, so that a sender's backlog at this connection is known.
#pragma once

#include "chat/flow_control.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class OutQueue {
public:
    // The host's own lines count under this sender; the room's slots under their numbers.
    static constexpr uint32_t HOST = FlowControl::SENDERS;

    size_t size() const { return flight.size() - flightSent + pending.size(); }
    size_t from(uint32_t sender) const { return bySender[sender]; }

    void append(uint32_t sender, const char* bytes, size_t count);
    // The bytes to send next: what is left of the last send, then everything queued since. The
    // view stays valid until sent() or clear(), whatever is appended meanwhile, so a send can
    // run outside the lock that guards the queue.
    std::string_view next();
    // The connection took count bytes of next(). Calls caughtUp(sender) for every sender of
    // whose bytes no more than FlowControl::CAUGHT_UP_BYTES are left. True when that emptied the
    // queue and it gave back the buffers a flood made it grow.
    template <class CaughtUp> bool sent(size_t count, CaughtUp&& caughtUp);
    void clear();

private:
    // Gives back what a flood made the buffers grow to; true when there was any.
    bool emptied();

    struct Run {
        uint32_t sender;
        uint32_t bytes;
    };

    std::string flight; // what next() gave out, from flightSent on
    size_t flightSent = 0;
    std::string pending;   // appended since
    std::vector<Run> runs; // whose bytes are waiting, in order, from runs[firstRun] on
    size_t firstRun = 0;
    size_t bySender[HOST + 1] = {};
};

template <class CaughtUp> bool OutQueue::sent(size_t count, CaughtUp&& caughtUp) {
    flightSent += count;
    while (count > 0) {
        Run& run = runs[firstRun];
        const size_t taken = std::min<size_t>(count, run.bytes);
        run.bytes -= static_cast<uint32_t>(taken);
        count -= taken;
        size_t& left = bySender[run.sender];
        const bool wasBehind = left > FlowControl::CAUGHT_UP_BYTES;
        left -= taken;
        if (wasBehind && left <= FlowControl::CAUGHT_UP_BYTES)
            caughtUp(run.sender);
        if (run.bytes == 0)
            ++firstRun;
    }
    if (firstRun == runs.size()) {
        runs.clear();
        firstRun = 0;
    }
    return size() == 0 && emptied();
}
