// The host's flow control: while a connection that is still taking bytes is far behind, the heavy
// senders wait and nobody is dropped; a client that stopped reading is dropped all the same.
#include "chat/chat_server.h"
#include "chat/flow_control.h"
#include "chat/program_state.h"
#include "chat/server_relay.h"
#include "tests/support/loopback.h"
#include "tests/support/rooms.h"
#include "tests/support/wait.h"
#include "wire/protocol.h"

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

// A client that stops reading holds back only the sender whose lines pile up for it: the flooder
// waits, while a light sender's line reaches everybody at once, long before the room gives up on
// the stopped reader (its departure comes after that line at every other client).
TEST_F(FlowControl, StoppedReaderHoldsTheFlooderButNotALightSender) {
    RawPeer stuck = joinAs("Stuck", "login\n0\nStuck\n");
    RawPeer bob = joinAs("Bob", "login\n1\nBob\n");
    RawPeer cid = joinAs("Cid", "login\n2\nCid\n");
    int small = 4096;
    ::setsockopt(stuck.handle(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    std::thread flooder([&] {
        std::string chunk;
        for (int i = 0; i < 64; ++i)
            chunk += "msg\n" + std::string(900, 'f') + "\n";
        while (bob.send(chunk)) {
        }
    });
    ASSERT_TRUE(
        WaitFor([&] { return server().queuedBytes(0) > ::FlowControl::BEHIND_BYTES; }, 20000));
    cid.send("msg\nstill here\n");
    bool departed = false;
    EXPECT_TRUE(ReadThrough(cid, "msg\n2\nstill here\n", departed));
    EXPECT_FALSE(departed);
    ::shutdown(bob.handle(), SHUT_RDWR); // ends the flooder's blocked send
    flooder.join();
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
    // Slow reads 16 KB at a time, each time only once the host holds a queue for it (or after
    // 100 ms), so that it stays behind the flood; it checks that the bursts' end marks come in
    // order and stops at the last one, or after 20 s without any byte.
    std::atomic<int> marksSeen{0};
    std::thread reader([&] {
        const std::string markPrefix = "msg\n1\nend of burst ";
        const size_t skip = markPrefix.size();
        std::string tail;
        char chunk[16384];
        while (marksSeen < ROUNDS) {
            WaitFor([&] { return server().queuedBytes(0) > 0; }, 10); // the slow pace itself
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

// Lines reach a client in the order each sender sent them whichever path sends them: the window's
// own lines straight from its thread, two readers' relays (each sending what the other appended
// while its send was in progress, or handing its lines to the writer's next pass while the other
// sends), the rest by the writer when the client reads slowly.
TEST_F(FlowControl, LinesKeepTheirOrderAcrossEverySendingPath) {
    RawPeer slow = joinAs("Slow", "login\n0\nSlow\n");
    RawPeer bob = joinAs("Bob", "login\n1\nBob\n");
    RawPeer cid = joinAs("Cid", "login\n2\nCid\n");
    int window = 65536;
    ::setsockopt(slow.handle(), SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    constexpr int LINES = 3000;
    std::thread host([this] {
        for (int i = 0; i < LINES; ++i) {
            std::lock_guard<CheckedMutex> guard(ChatLock);
            FormatInto(SendBuffer, HOST_MSG_FORMAT, ("h" + std::to_string(i)).c_str());
            server().broadcast(SendBuffer);
        }
    });
    // One line per send, as people type.
    const auto talk = [](RawPeer& peer, char name) {
        for (int i = 0; i < LINES; ++i)
            peer.send("msg\n" + std::string(1, name) + std::to_string(i) + "\n");
    };
    std::thread bobTalks(talk, std::ref(bob), 'b');
    std::thread cidTalks(talk, std::ref(cid), 'c');
    // Slow reads everything, each read once the host holds a queue for it (or after 20 ms), and
    // checks that each sender's numbers count up by one.
    int nextHost = 0;
    int nextBob = 0;
    int nextCid = 0;
    std::string carry;
    const auto expect = [&](const std::string& message, const char* prefix, int& next) {
        if (message.rfind(prefix, 0) != 0)
            return;
        EXPECT_EQ(message, prefix + std::to_string(next) + "\n");
        ++next;
    };
    while (nextHost < LINES || nextBob < LINES || nextCid < LINES) {
        WaitFor([&] { return server().queuedBytes(0) > 0; }, 20); // reads slowly
        if (!slow.readAtLeast(1, 20000))
            break;
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
            expect(message, "msg\n-1\nh", nextHost);
            expect(message, "msg\n1\nb", nextBob);
            expect(message, "msg\n2\nc", nextCid);
        }
    }
    host.join();
    bobTalks.join();
    cidTalks.join();
    EXPECT_EQ(nextHost, LINES);
    EXPECT_EQ(nextBob, LINES);
    EXPECT_EQ(nextCid, LINES);
}

// Slots taken and dropped again while two readers relay into them: a connection that resets while
// others send to it ends cleanly, and the talkers' lines reach each other whole and in order.
TEST_F(FlowControl, SlotsDroppedWhileOtherReadersSendToThem) {
    RawPeer bob = joinAs("Bob", "login\n0\nBob\n");
    RawPeer cid = joinAs("Cid", "login\n1\nCid\n");
    constexpr int LINES = 2000;
    const auto talk = [](RawPeer& peer, char name) {
        for (int i = 0; i < LINES; ++i)
            peer.send("msg\n" + std::string(1, name) + std::to_string(i) + "\n");
    };
    std::thread bobTalks(talk, std::ref(bob), 'b');
    std::thread cidTalks(talk, std::ref(cid), 'c');
    for (int round = 0; round < 20; ++round) {
        RawPeer passer = join();
        passer.reset();
        ASSERT_TRUE(WaitFor([&] { return server().occupiedSlots() == 2; }));
    }
    bobTalks.join();
    cidTalks.join();
    // Each reads the other's last line; everything before it came in order.
    for (auto [peer, other] : {std::pair{&bob, 'c'}, std::pair{&cid, 'b'}}) {
        const std::string prefix = std::string("msg\n") + (other == 'b' ? "0" : "1") + "\n" + other;
        ASSERT_TRUE(peer->readUntil(prefix + std::to_string(LINES - 1) + "\n", 20000));
        size_t at = 0;
        for (int i = 0; i < LINES; ++i) {
            at = peer->received.find(prefix + std::to_string(i) + "\n", at);
            ASSERT_NE(at, std::string::npos) << "line " << i;
        }
    }
}

// What one honest client heard during a flood.
struct Heard {
    int flood = 0;         // the flooder's lines, counted while they come in order
    bool inOrder = true;   // false once a flood line came out of turn (lost or reordered)
    int lines[2] = {0, 0}; // Bob's and Cid's own lines
    bool hostLine = false;
    bool departure = false; // some honest client was announced as gone
    bool ended = false;     // the host closed this connection
};

// Splits a stream into messages: a keyword, an id, and a text except after "logoff".
class MessageSplitter {
public:
    template <class Take> void add(const char* bytes, size_t count, Take&& take) {
        pending.append(bytes, count);
        for (size_t end; (end = pending.find('\n', from)) != std::string::npos;) {
            tokens[used++] = pending.substr(from, end - from);
            from = end + 1;
            if (used == 3 || (used == 2 && tokens[0] == "logoff")) {
                take(tokens[0], tokens[1], used == 3 ? tokens[2] : std::string());
                used = 0;
                pending.erase(0, from);
                from = 0;
            }
        }
    }

private:
    std::string pending;
    size_t from = 0;
    std::string tokens[3];
    int used = 0;
};

// One client floods the room as fast as the host takes its bytes while three honest clients chat,
// one of them pausing for up to 2 s at a time with a small receive window: the flooder is the one
// slowed. Nobody honest is dropped, nothing anybody sent is lost, and the host's own line gets
// through.
TEST_F(FlowControl, FlooderIsSlowedAndHonestReadersKeepEverything) {
    RawPeer bob = joinAs("Bob", "login\n0\nBob\n");
    RawPeer cid = joinAs("Cid", "login\n1\nCid\n");
    RawPeer dee = joinAs("Dee", "login\n2\nDee\n");
    RawPeer mal = joinAs("Mal", "login\n3\nMal\n");
    int window = 65536;
    ::setsockopt(dee.handle(), SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    constexpr int FLOOD = 8000; // about 7 MB: more than the kernel's buffers toward Dee hold
    constexpr int LINES = 3;    // each of Bob and Cid, one at each quarter of the flood
    constexpr int DEADLINE_MS = 30000;

    std::atomic<bool> done{false};
    std::thread flooder([&] {
        const std::string pad(900, 'f');
        std::string chunk;
        for (int i = 0; i < FLOOD; ++i) {
            chunk += "msg\nf" + std::to_string(i) + " " + pad + "\n";
            if (chunk.size() > 60000 || i + 1 == FLOOD) {
                if (!mal.send(chunk))
                    return;
                chunk.clear();
            }
        }
    });
    // Mal takes whatever comes back, so that it never is the one behind.
    std::thread flooderReads([&] {
        char chunk[65536];
        while (!done) {
            pollfd watched{mal.handle(), POLLIN, 0};
            if (::poll(&watched, 1, 100) > 0 && ::recv(mal.handle(), chunk, sizeof chunk, 0) <= 0)
                return;
        }
    });

    std::atomic<int> bobFlood{0};
    const auto listen = [&](RawPeer& peer, int talker, bool pauses, Heard& heard) {
        const std::string names[2] = {"b", "c"};
        MessageSplitter splitter;
        int pausesLeft = pauses ? 4 : 0;
        int spoken = 0;
        char chunk[16384];
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(DEADLINE_MS);
        while (heard.flood < FLOOD || heard.lines[0] < LINES || heard.lines[1] < LINES ||
               !heard.hostLine) {
            if (talker >= 0 && spoken < LINES && heard.flood >= (spoken + 1) * FLOOD / 4)
                peer.send("msg\n" + names[talker] + std::to_string(spoken++) + "\n");
            if (pausesLeft > 0 && heard.flood >= (5 - pausesLeft) * FLOOD / 5) {
                // A pause of up to 2 s, ending early once the host holds a long queue for Dee.
                --pausesLeft;
                WaitFor([&] { return server().queuedBytes(2) > ::FlowControl::BEHIND_BYTES; },
                        2000);
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd watched{peer.handle(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&watched, 1, static_cast<int>(left.count())) <= 0)
                return;
            const ssize_t n = ::recv(peer.handle(), chunk, sizeof chunk, 0);
            if (n <= 0) {
                heard.ended = true;
                return;
            }
            splitter.add(
                chunk, static_cast<size_t>(n),
                [&](const std::string& keyword, const std::string& id, const std::string& text) {
                    if (keyword == "logoff" && id != "3")
                        heard.departure = true;
                    if (keyword != "msg")
                        return;
                    if (id == "3") {
                        heard.inOrder = heard.inOrder &&
                                        text.rfind("f" + std::to_string(heard.flood) + " ", 0) == 0;
                        ++heard.flood;
                    } else if (id == "-1") {
                        heard.hostLine = heard.hostLine || text == "host line";
                    } else if (id == "0" || id == "1") {
                        const int who = id == "0" ? 0 : 1;
                        if (text == names[who] + std::to_string(heard.lines[who]))
                            ++heard.lines[who];
                    }
                });
            if (talker == 0)
                bobFlood = heard.flood;
        }
    };
    Heard heard[3];
    std::thread bobListens(listen, std::ref(bob), 0, false, std::ref(heard[0]));
    std::thread cidListens(listen, std::ref(cid), 1, false, std::ref(heard[1]));
    std::thread deeListens(listen, std::ref(dee), -1, true, std::ref(heard[2]));
    // The host types a line in the middle of the flood.
    EXPECT_TRUE(WaitFor([&] { return bobFlood >= FLOOD / 2; }, DEADLINE_MS));
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        FormatInto(SendBuffer, HOST_MSG_FORMAT, "host line");
        server().broadcast(SendBuffer);
    }
    bobListens.join();
    cidListens.join();
    deeListens.join();
    done = true;
    flooder.join();
    flooderReads.join();
    const char* who[3] = {"Bob", "Cid", "Dee"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(who[i]);
        EXPECT_EQ(heard[i].flood, FLOOD);
        EXPECT_TRUE(heard[i].inOrder);
        EXPECT_EQ(heard[i].lines[0], LINES);
        EXPECT_EQ(heard[i].lines[1], LINES);
        EXPECT_TRUE(heard[i].hostLine);
        EXPECT_FALSE(heard[i].departure);
        EXPECT_FALSE(heard[i].ended);
    }
}

} // namespace
