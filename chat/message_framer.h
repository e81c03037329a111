// MessageFramer: the receive buffer of a connection, which keeps the bytes of an incomplete message
// at the end of one read in front of the next, so that every message reaches its handler whole.
#pragma once

#include "chat/block_parser.h"

#include <cstdint>
#include <cstring>

class MessageFramer {
public:
    static constexpr uint32_t BUFFER_SIZE = 1024; // the last byte is always zero
    static constexpr int GRACE_MS = 50; // how long an unterminated last field may wait for more

    explicit MessageFramer(Receiver side) : receiver(side) {}

    // Where the next read goes and how much it may take (at least 1 byte).
    char* space() { return buffer + carried; }
    uint32_t spaceSize() const { return BUFFER_SIZE - 1 - carried; }

    // After a read of n > 0 bytes into space(): hands every complete message to
    // deliver(char* bytes, int32_t count) (the bytes are followed by a zero byte) and keeps an
    // incomplete tail. An unterminated last field is kept only if moreSoon(GRACE_MS) says more
    // bytes are waiting or arrive within the grace; otherwise it is handed over as it stands.
    // A tail that fills the whole buffer cannot grow and is handed over in pieces.
    template <class Deliver, class MoreSoon>
    void received(uint32_t n, Deliver&& deliver, MoreSoon&& moreSoon);

    // At the end of the connection: hands over what is still carried, as it stands.
    template <class Deliver> void flush(Deliver&& deliver);

    // Forgets any carried bytes (a new connection in the same slot).
    void reset() {
        carried = 0;
        std::memset(buffer, 0, sizeof buffer);
    }

    uint32_t carriedBytes() const { return carried; }

private:
    char buffer[BUFFER_SIZE] = {};
    char tail[BUFFER_SIZE] = {};
    uint32_t carried = 0;
    Receiver receiver;
};

template <class Deliver, class MoreSoon>
void MessageFramer::received(uint32_t n, Deliver&& deliver, MoreSoon&& moreSoon) {
    const uint32_t total = carried + n;
    buffer[total] = '\0';
    const BlockTail found = FindBlockTail(buffer, total, receiver);
    // A tail that fills the whole buffer cannot grow: it can only be handled in pieces, so there
    // is no point waiting for more of it.
    const bool full = found.start == 0 && total == BUFFER_SIZE - 1;
    bool keep = !full && (found.kind == TailKind::MissingFields ||
                          found.kind == TailKind::UnterminatedToken);
    if (!full && found.kind == TailKind::UnterminatedField)
        keep = moreSoon(GRACE_MS);
    if (!keep) {
        carried = 0;
        deliver(buffer, static_cast<int32_t>(total));
        std::memset(buffer, 0, total + 1);
        return;
    }
    const uint32_t tailLength = total - static_cast<uint32_t>(found.start);
    std::memcpy(tail, buffer + found.start, tailLength);
    if (found.start > 0) {
        buffer[found.start] = '\0';
        deliver(buffer, static_cast<int32_t>(found.start));
    }
    std::memset(buffer, 0, total + 1);
    std::memcpy(buffer, tail, tailLength);
    carried = tailLength;
}

template <class Deliver> void MessageFramer::flush(Deliver&& deliver) {
    if (carried == 0)
        return;
    const uint32_t total = carried;
    carried = 0;
    buffer[total] = '\0';
    deliver(buffer, static_cast<int32_t>(total));
    std::memset(buffer, 0, total + 1);
}
