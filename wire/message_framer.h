// MessageFramer: the receive buffer of a connection, which keeps the bytes of a message cut by a
// read boundary in front of the next read, so that every message reaches its handler whole.
#pragma once

#include "wire/block_parser.h"

#include <cstdint>
#include <cstring>

// The carry rule. Inside one read the block rules hold as they stand; only the end of a read is
// looked at, and only a message that a read boundary may have cut is kept for the next read:
// - a keyword whose fields have not all arrived is kept, unless its bytes end in two newlines:
//   the sender wrote an empty field, the message has no effect and the next read starts afresh;
// - a lone token in keyword position is kept only while it can still become a keyword;
// - a whole message whose last field has no newline after it: the host keeps it until its
//   newline comes, however slowly its bytes trickle in (every message a client sends ends with a
//   newline). A client keeps it only when more bytes are already waiting, or arrive within
//   GRACE_MS: bytes already waiting continue it (a cut of one send); bytes that arrive later and
//   open with a keyword line are a message of their own (a host that ends relayed lines without
//   a newline), so the kept message goes on alone.
// A line that fills the whole buffer cannot grow. The host keeps the buffer's worth of it (more
// than any reply or relay carries), skips the rest of the line and hands the kept part over when
// the newline comes; a client hands it over at once, in pieces, since the host's relayed lines
// end without a newline.
// At the end of the connection the host drops what it keeps (a message cut by the end is never
// relayed, not even in part); a client hands it over as it stands.
class MessageFramer {
public:
    static constexpr uint32_t BUFFER_SIZE = 1024; // the last byte is always zero
    // How long an unterminated last field may wait for more, on a client.
    static constexpr int GRACE_MS = 50;

    explicit MessageFramer(Receiver side) : receiver(side) {}

    // Where the next read goes and how much it may take (at least 1 byte).
    char* space() { return carry == Carry::RestOfLine ? tail : buffer + carried; }
    uint32_t spaceSize() const {
        return carry == Carry::RestOfLine ? BUFFER_SIZE - 1 : BUFFER_SIZE - 1 - carried;
    }

    // After a read of n > 0 bytes into space(): hands every complete message to
    // deliver(char* bytes, int32_t count) (the bytes are followed by a zero byte) and keeps what
    // the carry rule keeps. moreSoon(ms) says whether more bytes are readable within ms (0: now);
    // the host never asks.
    template <class Deliver, class MoreSoon>
    void received(uint32_t n, Deliver&& deliver, MoreSoon&& moreSoon);

    // At the end of the connection: a client hands over what is still carried, as it stands; the
    // host drops it.
    template <class Deliver> void flush(Deliver&& deliver);

    // Forgets any carried bytes (a new connection in the same slot).
    void reset() {
        carried = 0;
        carry = Carry::None;
        std::memset(buffer, 0, sizeof buffer);
    }

private:
    // What the carried bytes are, which decides how the next read's first bytes are taken.
    enum class Carry {
        None,
        Continued,          // the rest of a cut send: the next bytes continue it
        OpenField,          // a whole message whose last field may or may not go on
        FieldsAfterNewline, // a keyword whose fields are missing, ending in a newline
        RestOfLine,         // the host's: a line that filled the buffer, whose rest is skipped;
                            // reads go to `tail` until its newline comes
    };

    // Hands over buffer[0, front) alone and moves the rest of the total bytes to the front;
    // returns how many bytes are left there, none of them carried.
    template <class Deliver>
    uint32_t deliverFront(uint32_t front, uint32_t total, Deliver&& deliver);

    char buffer[BUFFER_SIZE] = {};
    char tail[BUFFER_SIZE] = {}; // scratch for moving bytes, and the skipped rest of a long line
    uint32_t carried = 0;
    uint32_t openEnd = 0; // with Carry::OpenField: where the kept message's bytes end
    Carry carry = Carry::None;
    Receiver receiver;
};

template <class Deliver>
uint32_t MessageFramer::deliverFront(uint32_t front, uint32_t total, Deliver&& deliver) {
    // The handler may write into what it is given, so the front goes out from a copy.
    std::memcpy(tail, buffer, front);
    tail[front] = '\0';
    deliver(tail, static_cast<int32_t>(front));
    std::memset(tail, 0, front + 1);
    const uint32_t rest = total - front;
    std::memmove(buffer, buffer + front, rest);
    std::memset(buffer + rest, 0, front);
    carried = 0;
    carry = Carry::None;
    return rest;
}

template <class Deliver, class MoreSoon>
void MessageFramer::received(uint32_t n, Deliver&& deliver, MoreSoon&& moreSoon) {
    if (carry == Carry::RestOfLine) {
        // The read went to `tail`. Until the line's newline, it is skipped; then the kept part
        // goes over, and the bytes from the newline on are read as ever.
        const auto* newline = static_cast<const char*>(std::memchr(tail, '\n', n));
        if (newline == nullptr) {
            std::memset(tail, 0, n);
            return;
        }
        deliver(buffer, static_cast<int32_t>(carried));
        std::memset(buffer, 0, carried + 1);
        const auto rest = static_cast<uint32_t>(tail + n - newline);
        std::memcpy(buffer, newline, rest);
        std::memset(tail, 0, n);
        carried = 0;
        carry = Carry::None;
        n = rest;
    } else if (carry == Carry::OpenField) {
        // Bytes that open with a keyword line make the kept message whole; bytes that may still
        // become one are kept with it until that is decided, or taken for one when the buffer
        // has no room left to decide.
        const KeywordLine start = OpensWithKeywordLine(buffer + openEnd, carried + n - openEnd);
        if (start == KeywordLine::Undecided && carried + n < BUFFER_SIZE - 1) {
            carried += n;
            return;
        }
        if (start != KeywordLine::No)
            n = deliverFront(openEnd, carried + n, deliver);
    } else if (carry == Carry::FieldsAfterNewline && buffer[carried] == '\n') {
        // A field followed by an empty one: the message has no effect, the new bytes start afresh.
        n = deliverFront(carried, carried + n, deliver);
    }
    const uint32_t total = carried + n;
    buffer[total] = '\0';
    const BlockTail found = FindBlockTail(buffer, total, receiver);
    const bool full = found.start == 0 && total == BUFFER_SIZE - 1;
    Carry next = Carry::None;
    if (full) {
        const bool openLine =
            found.kind == TailKind::UnterminatedField || found.kind == TailKind::UnterminatedToken;
        if (receiver == Receiver::Host && openLine)
            next = Carry::RestOfLine;
    } else {
        switch (found.kind) {
        case TailKind::None:
            break;
        case TailKind::MissingFields:
            if (total < 2 || buffer[total - 1] != '\n' || buffer[total - 2] != '\n')
                next = buffer[total - 1] == '\n' ? Carry::FieldsAfterNewline : Carry::Continued;
            break;
        case TailKind::UnterminatedToken:
            if (MayBecomeKeyword(buffer + found.start, total - static_cast<uint32_t>(found.start)))
                next = Carry::Continued;
            break;
        case TailKind::UnterminatedField:
            if (receiver == Receiver::Host || moreSoon(0))
                next = Carry::Continued;
            else if (moreSoon(GRACE_MS))
                next = Carry::OpenField;
            break;
        }
    }
    if (next == Carry::None) {
        carried = 0;
        carry = Carry::None;
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
    std::memset(tail, 0, tailLength);
    carried = tailLength;
    carry = next;
    openEnd = tailLength;
}

template <class Deliver> void MessageFramer::flush(Deliver&& deliver) {
    if (carried == 0)
        return;
    const uint32_t total = carried;
    carried = 0;
    carry = Carry::None;
    buffer[total] = '\0';
    if (receiver == Receiver::Client)
        deliver(buffer, static_cast<int32_t>(total));
    std::memset(buffer, 0, total + 1);
}
