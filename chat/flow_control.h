// FlowControl: which senders a host stops reading for a while, so that one careless reader or one
// heavy sender costs the others nothing. A connection that falls behind on one sender's lines
// (more than BEHIND_BYTES of them queued for it) holds that sender: the sender's reader reads it
// only a piece every HELD_PIECE_MS until every connection that holds it has taken its lines, so
// TCP pushes back on that sender alone and nothing it sent is lost, while everybody else's lines
// flow on. Nobody's queue
// ever holds more than about BEHIND_BYTES of one sender's lines, so an honest line never waits
// behind a flood. A connection that took nothing for STALLED_MS has stopped reading: it holds
// nobody, and is dropped once FULL_BYTES wait for it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

class FlowControl {
public:
    // A connection with more of one sender's bytes queued than this holds that sender...
    static constexpr size_t BEHIND_BYTES = 16 * 1024;
    // ...until no more than this is left of them.
    static constexpr size_t CAUGHT_UP_BYTES = 4 * 1024;
    // A held sender still gets a piece of what it sent (at most a framer's 1023 bytes) through this
    // often, about 20 KB/s: a line now and then while the room finds out whether the connection
    // that holds it has stopped reading.
    static constexpr int HELD_PIECE_MS = 50;
    // A connection that stopped reading is dropped rather than queued past this.
    static constexpr size_t FULL_BYTES = 256 * 1024;
    // Never queued for anybody: a connection that needs more is dropped, reading or not.
    static constexpr size_t MAX_BYTES = 1024 * 1024;
    // A connection that took nothing for this long while bytes waited for it has stopped
    // reading. A reader that pauses for up to two seconds at a time is waited for.
    static constexpr int STALLED_MS = 4000;
    // Senders are the room's slots, one bit each in the masks below.
    static constexpr uint32_t SENDERS = 64;

    static uint64_t bit(uint32_t sender) { return uint64_t{1} << sender; }

    // A connection holds the sender / stops holding it. release() is true when nobody holds the
    // sender any more: its reader is then to be woken.
    void hold(uint32_t sender) { holders[sender].fetch_add(1); }
    bool release(uint32_t sender) { return holders[sender].fetch_sub(1) == 1; }
    // Whether the sender's reader waits before reading more.
    bool held(uint32_t sender) const { return holders[sender].load() > 0; }

private:
    std::atomic<int> holders[SENDERS] = {};
};
