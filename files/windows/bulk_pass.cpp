// BulkPass on Windows: the piece passes through a buffer of its own.
#include "files/bulk_pass.h"

#include <cstring>
#include <vector>

struct BulkPass::State {
    std::vector<char> buffer;
    size_t held = 0;
};

BulkPass::BulkPass(size_t capacity) : state(std::make_unique<State>()) {
    state->buffer.resize(capacity);
}

BulkPass::~BulkPass() = default;

bool BulkPass::ready() const {
    return !state->buffer.empty();
}

int64_t BulkPass::take(TcpSocket& from, size_t max) {
    const size_t room = std::min(max, state->buffer.size() - state->held);
    const int32_t got =
        from.receive(state->buffer.data() + state->held, static_cast<uint32_t>(room));
    if (got > 0)
        state->held += static_cast<size_t>(got);
    return got;
}

bool BulkPass::put(const char* bytes, size_t count) {
    if (count > state->buffer.size() - state->held)
        return false;
    std::memcpy(state->buffer.data() + state->held, bytes, count);
    state->held += count;
    return true;
}

bool BulkPass::give(TcpSocket& to, int timeoutMs) {
    const auto count = static_cast<int32_t>(state->held);
    state->held = 0;
    return to.sendAll(state->buffer.data(), count, timeoutMs) == count;
}
