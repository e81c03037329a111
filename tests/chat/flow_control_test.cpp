// The host's flow control (readers held while a connection that is still taking bytes is far
// behind) must never keep a client that stopped reading from being dropped during a flood.
#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "chat/protocol.h"
#include "chat/server_relay.h"
#include "tests/support/loopback.h"
#include "tests/support/rooms.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

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

// A client that keeps reading, but at a pace far below what the room sends, is slowed down to
// rather than dropped: it gets every line, in order, and nobody hears of a departure.
TEST_F(FlowControl, ClientThatReadsSlowerThanTheFloodKeepsUpAndGetsEverything) {
    RawPeer slow = joinAs("Slow", "login\n0\nSlow\n");
    RawPeer bob = joinAs("Bob", "login\n1\nBob\n");
    // A window of its own keeps the kernel from absorbing the whole flood, and is large enough
    // that the connection never falls into zero-window probing (a client that slow is dropped).
    int window = 65536;
    ::setsockopt(slow.handle(), SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    constexpr int ROUNDS = 60;
    // Slow reads 16 KB at most every millisecond and checks that the bursts' end marks come in
    // order; it stops at the last one, or after 20 s without any byte.
    std::atomic<int> marksSeen{0};
    std::thread reader([&] {
        const std::string markPrefix = "msg\n1\nend of burst ";
        const size_t skip = markPrefix.size();
        std::string tail;
        char chunk[16384];
        while (marksSeen < ROUNDS) {
            pollfd watched{slow.handle(), POLLIN, 0};
            if (::poll(&watched, 1, 20000) <= 0)
                return;
            const ssize_t n = ::recv(slow.handle(), chunk, sizeof chunk, 0);
            if (n <= 0)
                return;
            tail.append(chunk, static_cast<size_t>(n));
            for (size_t at; (at = tail.find(markPrefix)) != std::string::npos &&
                            tail.find('\n', at + skip) != std::string::npos;) {
                const int mark = std::atoi(tail.c_str() + at + skip);
                if (mark != marksSeen)
                    return; // lost or out of order: the count stops short
                ++marksSeen;
                tail.erase(0, at + skip);
            }
            tail.erase(0, tail.size() > 64 ? tail.size() - 64 : 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // the slow pace itself
        }
    });
    std::string burst;
    for (int i = 0; i < 128; ++i)
        burst += "msg\n" + std::string(900, 'z') + "\n";
    bool departed = false;
    for (int round = 0; round < ROUNDS && !departed; ++round) {
        const std::string last = "end of burst " + std::to_string(round);
        ASSERT_TRUE(bob.send(burst + "msg\n" + last + "\n"));
        ASSERT_TRUE(ReadThrough(bob, "msg\n1\n" + last + "\n", departed));
    }
    reader.join();
    EXPECT_FALSE(departed);
    EXPECT_EQ(marksSeen, ROUNDS);
}

// A slot whose client goes away with bytes still queued for it starts empty for the next
// connection: the newcomer's first bytes are its own greeting, not the last client's backlog.
TEST_F(FlowControl, NextConnectionInASlotGetsNothingOfTheLastOnesBacklog) {
    RawPeer stuck = joinAs("Stuck", "login\n0\nStuck\n");
    RawPeer bob = joinAs("Bob", "login\n1\nBob\n");
    int small = 4096;
    ::setsockopt(stuck.handle(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    // Enough for the kernel's buffers toward Stuck to fill and a queue to form, not enough to
    // have Stuck dropped.
    std::string burst;
    for (int i = 0; i < 100; ++i)
        burst += "msg\n" + std::string(900, 'q') + "\n";
    bool departed = false;
    ASSERT_TRUE(bob.send(burst + "msg\nlast\n"));
    ASSERT_TRUE(ReadThrough(bob, "msg\n1\nlast\n", departed));
    stuck.reset();
    ASSERT_TRUE(WaitFor([&] { return server().occupiedSlots() == 1; }));
    RawPeer filler = join(); // the accept already waiting has slot 2; the next one gets slot 0
    RawPeer next = join();
    next.send("login\nNext\n");
    ASSERT_TRUE(next.readUntil("login\n0\nNext\n"));
    EXPECT_EQ(next.received.rfind("login\n-1\nAnn\n", 0), 0u) << next.received.substr(0, 40);
}

// Lines reach a client in the order they were sent whichever path sends them: the window's own
// lines straight from its thread, relays in a reader's batch, the rest by the writer when the
// client reads slowly.
TEST_F(FlowControl, LinesKeepTheirOrderAcrossEverySendingPath) {
    RawPeer slow = joinAs("Slow", "login\n0\nSlow\n");
    RawPeer bob = joinAs("Bob", "login\n1\nBob\n");
    int window = 65536;
    ::setsockopt(slow.handle(), SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    constexpr int LINES = 3000;
    std::thread host([this] {
        for (int i = 0; i < LINES; ++i) {
            std::lock_guard<std::mutex> guard(ChatLock);
            FormatInto(SendBuffer, HOST_MSG_FORMAT, ("h" + std::to_string(i)).c_str());
            server().broadcast(SendBuffer);
        }
    });
    std::string lines;
    for (int i = 0; i < LINES; ++i)
        lines += "msg\nb" + std::to_string(i) + "\n";
    ASSERT_TRUE(bob.send(lines));
    // Slow reads everything and checks each sender's numbers count up by one.
    int nextHost = 0;
    int nextBob = 0;
    std::string carry;
    while ((nextHost < LINES || nextBob < LINES) && slow.readAtLeast(1, 20000)) {
        carry += slow.take();
        // Every message here is three tokens.
        const auto messageEnd = [&carry] {
            size_t end = 0;
            for (int token = 0; token < 3 && end != std::string::npos; ++token)
                end = carry.find('\n', token == 0 ? 0 : end + 1);
            return end;
        };
        for (size_t end; (end = messageEnd()) != std::string::npos;) {
            const std::string message = carry.substr(0, end + 1);
            carry.erase(0, end + 1);
            if (message.rfind("msg\n-1\nh", 0) == 0) {
                ASSERT_EQ(message, "msg\n-1\nh" + std::to_string(nextHost++) + "\n");
            } else if (message.rfind("msg\n1\nb", 0) == 0) {
                ASSERT_EQ(message, "msg\n1\nb" + std::to_string(nextBob++) + "\n");
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200)); // reads slowly
    }
    host.join();
    EXPECT_EQ(nextHost, LINES);
    EXPECT_EQ(nextBob, LINES);
}

} // namespace
