// The host's flow control (readers held while a connection that is still taking bytes is far
// behind) must never keep a client that stopped reading from being dropped during a flood.
#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "chat/server_relay.h"
#include "tests/support/loopback.h"
#include "tests/support/rooms.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Reads until text has arrived, keeping only the end of what came (readUntil keeps everything and
// searches it all for each piece, too slow for megabytes); notes a departure of slot 0 on the way.
bool ReadThrough(RawPeer& peer, const std::string& text, bool& departed) {
    const std::string departure = "logoff\n0\n";
    while (peer.received.find(text) == std::string::npos) {
        departed = departed || peer.received.find(departure) != std::string::npos;
        const size_t keep = std::min(peer.received.size(), text.size());
        peer.received.erase(0, peer.received.size() - keep);
        if (!peer.readAtLeast(peer.received.size() + 1, 20000))
            return false;
    }
    departed = departed || peer.received.find(departure) != std::string::npos;
    peer.received.clear();
    return true;
}

using FlowControl = HostedRoom;

TEST_F(FlowControl, ClientThatStopsReadingIsStillDroppedDuringAFlood) {
    RawPeer stuck = joinAs("Stuck", "login\n0\nStuck\n");
    RawPeer bob = joinAs("Bob", "login\n1\nBob\n");
    int small = 4096;
    ::setsockopt(stuck.handle(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    // Bob floods in bursts of about 115 KB, past the point where the readers are held for a
    // connection that is behind, and reads each burst back before the next, so that Bob himself
    // never falls far enough behind to be dropped however slow the machine is. In all it is more
    // than the kernel's buffers toward Stuck can absorb (a few MB) plus Stuck's queue.
    std::string burst;
    for (int i = 0; i < 128; ++i)
        burst += "msg\n" + std::string(900, 'y') + "\n";
    bool departed = false;
    for (int round = 0; round < 80 && !departed; ++round) {
        const std::string last = "end of burst " + std::to_string(round);
        ASSERT_TRUE(bob.send(burst + "msg\n" + last + "\n"));
        ASSERT_TRUE(ReadThrough(bob, "msg\n1\n" + last + "\n", departed));
    }
    EXPECT_TRUE(departed);
    bob.send("msg\nafter\n");
    EXPECT_TRUE(bob.readUntil("msg\n1\nafter\n", 20000));
}

} // namespace
