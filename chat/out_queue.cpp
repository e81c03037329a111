// OutQueue: appending, handing out and forgetting the bytes for one connection.
#include "chat/out_queue.h"

namespace {

// Buffers a flood made larger than this are given back once they are empty, so that a room that
// has quietened down holds little for each connection.
constexpr size_t KEPT_CAPACITY = 16 * 1024;

} // namespace

void OutQueue::append(uint32_t sender, const char* bytes, size_t count) {
    if (count == 0)
        return;
    pending.append(bytes, count);
    bySender[sender] += count;
    // Runs are bounded by the queue's own bound (FlowControl::MAX_BYTES), far below 4 GiB.
    if (runs.size() > firstRun && runs.back().sender == sender)
        runs.back().bytes += static_cast<uint32_t>(count);
    else
        runs.push_back({sender, static_cast<uint32_t>(count)});
}

std::string_view OutQueue::next() {
    if (flightSent == flight.size()) {
        flight.clear();
        flightSent = 0;
        flight.swap(pending);
    } else if (!pending.empty()) {
        flight.append(pending);
        pending.clear();
    }
    return std::string_view(flight).substr(flightSent);
}

bool OutQueue::emptied() {
    flight.clear();
    flightSent = 0;
    if (flight.capacity() + pending.capacity() <= 2 * KEPT_CAPACITY)
        return false;
    clear();
    return true;
}

void OutQueue::clear() {
    // Swapped with empty ones: assigning an empty string keeps the buffer it had.
    std::string().swap(flight);
    flightSent = 0;
    std::string().swap(pending);
    std::vector<Run>().swap(runs);
    firstRun = 0;
    for (size_t& bytes : bySender)
        bytes = 0;
}
