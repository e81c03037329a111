// The host end to end: the real ChatServer and OnServerData on loopback, with raw clients.
#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "chat/server_relay.h"
#include "chat/window_ops.h"
#include "tests/support/loopback.h"
#include "tests/support/rooms.h"
#include "tests/support/wait.h"
#include "wire/protocol.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Names = std::vector<std::string>;

using ServerRelay = HostedRoom;

TEST_F(ServerRelay, SampleConversationByteForByte) {
    RawPeer bob = join();
    bob.send("login\nBob\n");
    ASSERT_TRUE(bob.readAtLeast(std::string("login\n-1\nAnn\nlogin\n0\nBob\n").size()));
    EXPECT_EQ(bob.take(), "login\n-1\nAnn\nlogin\n0\nBob\n");
    bob.send("msg\nhi\n");
    ASSERT_TRUE(bob.readUntil("msg\n0\nhi\n"));
    EXPECT_EQ(bob.take(), "msg\n0\nhi\n");
    SettleHandlers(); // the relay is queued for every slot before Cid connects

    RawPeer cid = join();
    cid.send("login\nCid\n");
    const std::string cidReply = "login\n-1\nAnn\nlogin\n0\nBob\nlogin\n1\nCid\n";
    ASSERT_TRUE(cid.readAtLeast(cidReply.size()));
    EXPECT_EQ(cid.take(), cidReply);
    ASSERT_TRUE(bob.readUntil("login\n1\nCid\n"));
    EXPECT_EQ(bob.take(), "login\n1\nCid\n");

    bob.send("logoff\n");
    ASSERT_TRUE(cid.readUntil("logoff\n0\n"));
    ASSERT_TRUE(bob.readUntil("logoff\n0\n"));
    EXPECT_EQ(cid.take(), "logoff\n0\n");
    EXPECT_EQ(LogText(), "<Bob>: hi\n");
    EXPECT_EQ(ChatView.users(), (Names{"Ann", "Cid"}));
}

TEST_F(ServerRelay, FirstClientHearsOnlyItsOwnReplyAndOthersHearNothing) {
    RawPeer idle = join(); // connected but never logged in: no roster news for it
    RawPeer bob = joinAs("Bob", "login\n1\nBob\n");
    EXPECT_EQ(bob.take(), "login\n-1\nAnn\nlogin\n1\nBob\n");
    // Lines are relayed to every connection, logged in or not, in order: Bob's next line reaches
    // idle after anything his login would have sent it.
    bob.send("msg\nmark\n");
    ASSERT_TRUE(idle.readUntil("msg\n1\nmark\n"));
    EXPECT_EQ(idle.take(), "msg\n1\nmark\n");
    idle.send("msg\nnameless\n");
    ASSERT_TRUE(bob.readUntil("msg\n0\nnameless\n"));
    EXPECT_NE(LogText().find("<>: nameless\n"), std::string::npos);
}

TEST_F(ServerRelay, SecondLoginFromASlotReplacesItsName) {
    RawPeer bob = joinAs("Bob", "login\n0\nBob\n");
    RawPeer cid = joinAs("Cid", "login\n1\nCid\n");
    ASSERT_TRUE(bob.readUntil("login\n1\nCid\n"));
    bob.take();
    cid.take();
    bob.send("login\nRob\n");
    const std::string reply = "login\n-1\nAnn\nlogin\n0\nRob\nlogin\n1\nCid\n";
    ASSERT_TRUE(bob.readAtLeast(reply.size()));
    EXPECT_EQ(bob.take(), reply);
    ASSERT_TRUE(cid.readUntil("login\n0\nRob\n"));
    EXPECT_EQ(ChatView.users(), (Names{"Ann", "Rob", "Cid"}));
    bob.send("logoff\n");
    ASSERT_TRUE(cid.readUntil("logoff\n0\n"));
    EXPECT_EQ(ChatView.users(), (Names{"Ann", "Cid"}));
}

TEST_F(ServerRelay, RenameStormKeepsOneEntryPerParticipant) {
    RawPeer cid = joinAs("Cid", "login\n0\nCid\n");
    RawPeer storm = joinAs("S", "login\n1\nS\n");
    // 5,000 logins of 300-byte names, which the host keeps to 99 bytes. Both clients read all the
    // while, so that neither is dropped for falling behind.
    const std::string lastName = "4999" + std::string(95, 'n');
    bool cidSawTheLast = false;
    std::thread watcher(
        [&] { cidSawTheLast = cid.readUntil("login\n1\n" + lastName + "\n", 30000); });
    std::atomic<bool> storming{true};
    std::thread reader([&] {
        while (storming)
            storm.drain(20);
    });
    std::string batch;
    for (int i = 0; i < 5000; ++i) {
        batch += "login\n" + std::to_string(i) + std::string(300, 'n') + "\n";
        if (i % 50 == 49) {
            EXPECT_TRUE(storm.send(batch));
            batch.clear();
        }
    }
    watcher.join();
    storming = false;
    reader.join();
    EXPECT_TRUE(cidSawTheLast);
    SettleHandlers();
    EXPECT_EQ(ChatView.users(), (Names{"Ann", "Cid", lastName}));
}

TEST_F(ServerRelay, NamesTakenInAnyCaseAreNumbered) {
    RawPeer bob = joinAs("Bob", "login\n0\nBob\n");
    RawPeer twin = joinAs("BOB", "login\n1\nBOB (2)\n");
    EXPECT_EQ(twin.take(), "login\n-1\nAnn\nlogin\n0\nBob\nlogin\n1\nBOB (2)\n");
    ASSERT_TRUE(bob.readUntil("login\n1\nBOB (2)\n"));
    RawPeer third = joinAs("bob", "login\n2\nbob (3)\n");
    ASSERT_TRUE(bob.readUntil("login\n2\nbob (3)\n"));
    bob.take();
    bob.send("login\nBob\n"); // its own name is no clash
    const std::string reply =
        "login\n-1\nAnn\nlogin\n0\nBob\nlogin\n1\nBOB (2)\nlogin\n2\nbob (3)\n";
    ASSERT_TRUE(bob.readAtLeast(reply.size()));
    EXPECT_EQ(bob.take(), reply);
    twin.send("msg\nhi\n");
    ASSERT_TRUE(bob.readUntil("msg\n1\nhi\n"));
    EXPECT_EQ(LogText(), "<BOB (2)>: hi\n");
    EXPECT_EQ(ChatView.users(), (Names{"Ann", "Bob", "BOB (2)", "bob (3)"}));
    // A name of the Name field's 99 bytes keeps its number within them.
    const std::string longName(99, 'L');
    RawPeer first = joinAs(longName, "login\n3\n" + longName + "\n");
    joinAs(longName, "login\n4\n" + std::string(95, 'L') + " (2)\n");
}

TEST_F(ServerRelay, ForgingCharactersAreRelayedAsSentAndShownAsMarks) {
    RawPeer bob = joinAs("Bob", "login\n0\nBob\n");
    // A name with a right-to-left override, a text with a carriage return and a line separator.
    RawPeer mal = joinAs("Mal\xE2\x80\xAE", "login\n1\nMal\xE2\x80\xAE\n");
    const std::string text = "hi\r<Ann>: FORGED\xE2\x80\xA8<Bob>: me too";
    mal.send("msg\n" + text + "\n");
    ASSERT_TRUE(bob.readUntil("msg\n1\n" + text + "\n"));
    EXPECT_EQ(LogText(), "<Mal\xEF\xBF\xBD>: hi\xC2\xB6<Ann>: FORGED\xC2\xB6<Bob>: me too\n");
    EXPECT_EQ(ChatView.users(), (Names{"Ann", "Bob", "Mal\xEF\xBF\xBD"}));
}

TEST_F(ServerRelay, HostileBytesNeverCorruptTheRoom) {
    RawPeer bob = joinAs("Bob", "login\n0\nBob\n");
    RawPeer evil = join();
    evil.send(std::string("login\n") + std::string(5000, 'N') + "\n");
    evil.send("msg\n%s%n%x\nLOGIN\nmsg\n" + std::string(2000, 'T') + "\n");
    evil.send(std::string("\0\0garbage\n", 10));
    ASSERT_TRUE(WaitFor([] { return LogText().find("%s%n%x\n") != std::string::npos; }));
    bob.send("msg\nstill here\n");
    ASSERT_TRUE(bob.readUntil("msg\n0\nstill here\n"));
    // Every message bob got fits the 1023-byte buffer and ends with its newline.
    for (size_t start = 0, end; (end = bob.received.find("\nlogin\n", start)) != std::string::npos;
         start = end + 1)
        EXPECT_LE(end - start, 1023u);
}

TEST_F(ServerRelay, VanishedClientIsAnnouncedAsDeparted) {
    RawPeer bob = joinAs("Bob", "login\n0\nBob\n");
    RawPeer cid = joinAs("Cid", "login\n1\nCid\n");
    ASSERT_TRUE(WaitFor(SomeThreadAccepts)); // for slot 2
    bob.reset();
    ASSERT_TRUE(cid.readUntil("logoff\n0\n"));
    SettleHandlers();
    EXPECT_EQ(ChatView.users(), (Names{"Ann", "Cid"}));
    // The accept already waiting was for slot 2; Bob is announced to nobody any more.
    RawPeer dee = joinAs("Dee", "login\n2\nDee\n");
    EXPECT_EQ(dee.take(), "login\n-1\nAnn\nlogin\n1\nCid\nlogin\n2\nDee\n");
}

TEST_F(ServerRelay, ClientThatStopsReadingIsDroppedAndTheRoomGoesOn) {
    RawPeer stuck = joinAs("Stuck", "login\n0\nStuck\n");
    RawPeer bob = joinAs("Bob", "login\n1\nBob\n");
    int shrink = 4096;
    ::setsockopt(stuck.handle(), SOL_SOCKET, SO_RCVBUF, &shrink, sizeof shrink);
    const std::string line = "msg\n" + std::string(900, 'x') + "\n";
    bool departed = false;
    for (int i = 0; i < 20000 && !departed; ++i) {
        bob.send(line);
        ASSERT_TRUE(bob.readUntil("msg\n1\n" + std::string(900, 'x') + "\n"));
        departed = bob.received.find("logoff\n0\n") != std::string::npos;
        bob.take();
    }
    EXPECT_TRUE(departed);
    EXPECT_EQ(ChatView.users(), (Names{"Ann", "Bob"}));
    bob.send("msg\nafter\n");
    EXPECT_TRUE(bob.readUntil("msg\n1\nafter\n"));
}

TEST_F(ServerRelay, ThirtyThirdClientWaitsForAFreeSlot) {
    std::vector<RawPeer> peers;
    for (int i = 0; i < MAX_CLIENTS; ++i)
        peers.push_back(join());
    RawPeer late = RawPeer::connectTo(tcpPort); // completes in the listen queue
    ASSERT_TRUE(late.valid());
    late.send("login\nLate\n");
    EXPECT_EQ(server().occupiedSlots(), 32u);
    peers[7].hangUp();
    // It took slot 7 and its login was read then; the whole stream shows that nothing reached it
    // before (no reply from a 33rd slot, no login read early).
    ASSERT_TRUE(late.readUntil("login\n7\nLate\n"));
    EXPECT_EQ(late.take(), "login\n-1\nAnn\nlogin\n7\nLate\n");
}

// Connections that never send a byte cannot lock the room: while every slot is taken and someone
// waits, the slot silent longest is closed; while nobody waits, none is; one that sent a login is
// never closed for its silence after it.
TEST_F(ServerRelay, SilentSlotMakesRoomOnlyForAWaitingConnection) {
    constexpr int SILENT_MS = 300;
    server().setSilentLimit(SILENT_MS);
    std::vector<RawPeer> peers;
    peers.push_back(joinAs("Talk", "login\n0\nTalk\n")); // the oldest, but it spoke
    for (int i = 1; i < MAX_CLIENTS; ++i)
        peers.push_back(join());
    // Well past the silence, nobody waits: every connection stays.
    EXPECT_FALSE(WaitFor([&] { return server().occupiedSlots() < 32; }, 4 * SILENT_MS));
    RawPeer late = RawPeer::connectTo(tcpPort);
    ASSERT_TRUE(late.valid());
    late.send("login\nLate\n");
    // The silent connection taken first (slot 1) went; the newcomer has its slot.
    ASSERT_TRUE(late.readUntil("login\n1\nLate\n"));
    EXPECT_TRUE(peers[1].readEnd());
    EXPECT_EQ(server().occupiedSlots(), 32u);
    peers[0].send("msg\nstill here\n");
    EXPECT_TRUE(peers[0].readUntil("msg\n0\nstill here\n"));
}

TEST_F(ServerRelay, PendingAcceptsSlotIsFilledBeforeALowerFreedOne) {
    RawPeer a = join();
    RawPeer b = join();
    RawPeer c = join();
    // The accept loop must be waiting for the next connection (for slot 3) before slot 1 frees.
    ASSERT_TRUE(WaitFor(SomeThreadAccepts));
    b.hangUp();
    ASSERT_TRUE(WaitFor([&] { return server().occupiedSlots() == 2; }));
    RawPeer d = joinAs("D", "login\n3\nD\n"); // the accept already waiting was for slot 3
    RawPeer e = joinAs("E", "login\n1\nE\n");
}

TEST_F(ServerRelay, SendToRejectsSlotsWithoutAConnection) {
    RawPeer bob = join();
    EXPECT_EQ(server().sendTo(32, "x"), -1);
    EXPECT_EQ(server().sendTo(-1, "x"), -1);
    EXPECT_EQ(server().sendTo(5, "x"), -1);
    EXPECT_EQ(server().sendTo(0, "xy"), 2);
    EXPECT_TRUE(bob.readUntil("xy"));
}

std::atomic<int> HandlerCalls{0};

size_t ThreadCount() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                             std::filesystem::directory_iterator()));
}

TEST(ChatServer, StopEndsEveryThreadAndTheWakeConnectionNeverReachesTheHandler) {
    HandlerCalls = 0;
    // A first thread makes the sanitizer runtimes start their own helper threads, if any.
    std::thread([] {}).join();
    const size_t threadsBefore = ThreadCount();
    const ReservedPort port;
    const uint16_t tcpPort = port.tcpPort;
    ChatServer server([](int32_t, char*, int32_t) { ++HandlerCalls; });
    ASSERT_TRUE(server.start(4, ProgramPort(tcpPort)));
    std::vector<RawPeer> peers;
    for (int i = 0; i < 3; ++i) {
        peers.push_back(RawPeer::connectTo(tcpPort));
        ASSERT_TRUE(
            WaitFor([&] { return server.occupiedSlots() == static_cast<uint32_t>(i + 1); }));
    }
    peers[0].send("hello\n");
    ASSERT_TRUE(WaitFor([] { return HandlerCalls == 1; }));
    server.broadcast(HOST_DEPARTURE);
    server.stop();
    for (auto& peer : peers) {
        EXPECT_TRUE(peer.readEnd());
        EXPECT_EQ(peer.take(), HOST_DEPARTURE); // queued bytes went out before the close
    }
    EXPECT_EQ(HandlerCalls, 1);
    EXPECT_EQ(server.occupiedSlots(), 0u);
    EXPECT_EQ(ThreadCount(), threadsBefore); // accept loop, readers and writer all ended
    server.stop();                           // a second stop does nothing
    // The port is free again at once.
    EXPECT_TRUE(server.start(4, ProgramPort(tcpPort)));
}

// The kernel's nice value of each of this process's threads.
std::vector<int> ThreadNiceValues() {
    std::vector<int> values;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // Fields after the command's closing parenthesis: state is the first, nice the 17th.
        std::istringstream fields(stat.substr(stat.rfind(')') + 1));
        std::string field;
        for (int i = 0; i < 17 && fields >> field; ++i) {
        }
        values.push_back(std::stoi(field));
    }
    return values;
}

// The room's threads run at the program's own priority: a reader below it loses the processor
// to every program that its sends wake (each line then costs its reader a few switches), and a
// writer below it can be starved by any busy program while lines wait for it.
TEST(ChatServer, RoomThreadsRunAtTheProgramsPriority) {
    std::thread([] {}).join(); // the sanitizer runtimes' own threads, if any, start now
    const auto before = ThreadNiceValues();
    const int own = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    const ReservedPort port;
    ChatServer server;
    ASSERT_TRUE(server.start(4, ProgramPort(port.tcpPort)));
    // Four readers, the writer and the accept loop.
    ASSERT_TRUE(WaitFor([&] { return ThreadNiceValues().size() == before.size() + 6; }));
    for (const int nice : ThreadNiceValues())
        EXPECT_EQ(nice, own);
}

TEST(ChatServer, StopWithEverySlotTakenReturnsPromptly) {
    const ReservedPort port;
    const uint16_t tcpPort = port.tcpPort;
    ChatServer server;
    ASSERT_TRUE(server.start(2, ProgramPort(tcpPort)));
    std::vector<RawPeer> peers;
    for (int i = 0; i < 4; ++i)
        peers.push_back(RawPeer::connectTo(tcpPort));
    ASSERT_TRUE(WaitFor([&] { return server.occupiedSlots() == 2; }));
    server.stop();
    EXPECT_EQ(server.occupiedSlots(), 0u);
}

TEST(ChatServer, BusyPortFailsWithTheAddressInUseText) {
    RawListener other;
    ChatServer server;
    EXPECT_FALSE(server.start(MAX_CLIENTS, other.programPort()));
    EXPECT_EQ(server.lastError(), "WSAEADDRINUSE\nAddress already in use");
    server.broadcast("nobody");
    server.stop();
    server.stop();
}

TEST(ChatServer, ChurnOfConnectsAndResetsLeavesNoSlotTaken) {
    const ReservedPort port;
    const uint16_t tcpPort = port.tcpPort;
    ChatServer server([](int32_t, char*, int32_t) {});
    ASSERT_TRUE(server.start(8, ProgramPort(tcpPort)));
    std::vector<std::thread> churners;
    // Faster churn than this overflows the listen queue, and the platform then retries the
    // dropped connects only after a second.
    for (int t = 0; t < 3; ++t)
        churners.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                RawPeer peer = RawPeer::connectTo(tcpPort);
                peer.send("msg\nchurn\n");
                server.broadcast("tick\n");
                if ((i + t) % 2)
                    peer.reset();
            }
        });
    for (auto& churner : churners)
        churner.join();
    EXPECT_TRUE(WaitFor([&] { return server.occupiedSlots() == 0; }));
    server.stop();
}

} // namespace
