// Faults on the wire and in the process: resets mid-message, half-closed connections, a host that
// never answers, a busy port and running out of descriptors, against the real client and host.
#include "chat/chat_client.h"
#include "chat/chat_server.h"
#include "chat/client_messages.h"
#include "chat/program_state.h"
#include "chat/server_relay.h"
#include "chat/window_ops.h"
#include "model/ui_tasks.h"
#include "tests/support/loopback.h"
#include "tests/support/rooms.h"
#include "tests/support/wait.h"
#include "wire/protocol.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

using HostFaults = HostedRoom;

TEST_F(HostFaults, ClientResetMidMessageIsAnnouncedAndTheSlotFrees) {
    RawPeer bob = joinAs("Bob", "login\n0\nBob\n");
    RawPeer cid = joinAs("Cid", "login\n1\nCid\n");
    cid.send("msg\nwhole\nmsg\nhal"); // the second line never ends
    ASSERT_TRUE(bob.readUntil("msg\n1\nwhole\n"));
    ASSERT_TRUE(WaitFor(SomeThreadAccepts)); // for slot 2
    cid.reset();
    ASSERT_TRUE(bob.readUntil("logoff\n1\n"));
    ASSERT_TRUE(WaitFor([&] { return server().occupiedSlots() == 1; }));
    // Whatever became of the cut line, it did not swallow the departure or later lines.
    bob.send("msg\nafter\n");
    ASSERT_TRUE(bob.readUntil("msg\n0\nafter\n"));
    // The host still takes newcomers (the accept already waiting was for slot 2).
    RawPeer dee = joinAs("Dee", "login\n2\nDee\n");
}

TEST_F(HostFaults, ClientGoneInTheMiddleOfItsLoginLeavesNoName) {
    RawPeer bob = joinAs("Bob", "login\n0\nBob\n");
    RawPeer evil = RawPeer::connectTo(tcpPort);
    ASSERT_TRUE(WaitFor([&] { return server().occupiedSlots() == 2; }));
    evil.send("login\nEv");
    evil.hangUp(); // a login cut by the connection's end is never taken: nobody hears of "Ev"
    ASSERT_TRUE(WaitFor([&] { return server().occupiedSlots() == 1; }));
    bob.send("msg\nstill here\n");
    ASSERT_TRUE(bob.readUntil("msg\n0\nstill here\n"));
    EXPECT_EQ(bob.take(), "login\n-1\nAnn\nlogin\n0\nBob\nmsg\n0\nstill here\n");
    std::lock_guard<CheckedMutex> guard(ChatLock);
    EXPECT_EQ(UserTable[1], "");
    EXPECT_EQ(ChatView.users(), (std::vector<std::string>{"Ann", "Bob"}));
}

TEST_F(HostFaults, ClientThatShutsItsWriteSideIsSeenToLeave) {
    RawPeer bob = joinAs("Bob", "login\n0\nBob\n");
    RawPeer cid = joinAs("Cid", "login\n1\nCid\n");
    ASSERT_TRUE(bob.readUntil("login\n1\nCid\n"));
    ::shutdown(cid.handle(), SHUT_WR);
    ASSERT_TRUE(bob.readUntil("logoff\n1\n"));
    EXPECT_TRUE(cid.readEnd()); // the host closed its end too
    EXPECT_TRUE(WaitFor([&] { return server().occupiedSlots() == 1; }));
}

TEST_F(HostFaults, SecondHostOnABusyPortFailsAndTheFirstKeepsServing) {
    RawPeer bob = joinAs("Bob", "login\n0\nBob\n");
    ChatServer second;
    EXPECT_FALSE(second.start(MAX_CLIENTS, ProgramPort(tcpPort)));
    EXPECT_EQ(second.lastError(), "WSAEADDRINUSE\nAddress already in use");
    bob.send("msg\nstill\n");
    EXPECT_TRUE(bob.readUntil("msg\n0\nstill\n"));
}

// Lowers the soft descriptor limit to what is open now plus `spare`, then takes descriptors
// until none is left; the destructor gives them back and restores the limit.
class DescriptorFamine {
public:
    explicit DescriptorFamine(int spare) {
        ::getrlimit(RLIMIT_NOFILE, &saved);
        int highest = ::dup(0);
        ::close(highest);
        rlimit lowered = saved;
        lowered.rlim_cur = rlim_t(highest + spare);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd; (fd = ::dup(0)) >= 0;)
            taken.push_back(fd);
    }
    ~DescriptorFamine() { release(); }
    void release() {
        for (int fd : taken)
            ::close(fd);
        taken.clear();
        ::setrlimit(RLIMIT_NOFILE, &saved);
    }

private:
    rlimit saved{};
    std::vector<int> taken;
};

double ProcessCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

TEST_F(HostFaults, OutOfDescriptorsTheHostWaitsWithoutSpinningAndRecovers) {
    RawPeer bob = joinAs("Bob", "login\n0\nBob\n");
    // The clients' sockets are made first: connecting needs no further descriptor, and the
    // kernel completes a connection in the listen queue while accept has none to give. The
    // accept already blocked took its descriptor before the famine, so the first of the two
    // still gets in; the second finds none.
    RawPeer early(::socket(AF_INET, SOCK_STREAM, 0));
    RawPeer late(::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_TRUE(early.valid() && late.valid());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(tcpPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* target = reinterpret_cast<const sockaddr*>(&address);
    ASSERT_TRUE(WaitFor(SomeThreadAccepts));
    {
        DescriptorFamine famine(0);
        ASSERT_EQ(::dup(0), -1);
        ASSERT_EQ(errno, EMFILE);
        ASSERT_EQ(::connect(early.handle(), target, sizeof address), 0);
        ASSERT_TRUE(WaitFor([&] { return server().occupiedSlots() == 2; }));
        ASSERT_EQ(::connect(late.handle(), target, sizeof address), 0);
        late.send("login\nLate\n");

        // A window of time in which a spinning accept loop would burn CPU. It waits for nothing:
        // that the host took nothing meanwhile shows in the reply checked at the end.
        const double cpuBefore = ProcessCpuSeconds();
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        const double cpuUsed = ProcessCpuSeconds() - cpuBefore;
        EXPECT_LT(cpuUsed, 0.3) << "the accept loop spins while descriptors are out";
        EXPECT_EQ(server().occupiedSlots(), 2u);
        // The room goes on meanwhile.
        bob.send("msg\nhungry\n");
        EXPECT_TRUE(bob.readUntil("msg\n0\nhungry\n"));
    }
    // With descriptors back, the waiting connection gets a slot and its whole reply, and nothing
    // before it. Each failed accept moved the pass on to the next free slot, so which one depends
    // on how long the famine lasted.
    ASSERT_TRUE(late.readUntil("\nLate\n"));
    const std::string reply = late.take();
    EXPECT_EQ(reply.rfind("login\n-1\nAnn\nlogin\n0\nBob\nlogin\n", 0), 0u) << reply;
    EXPECT_EQ(server().occupiedSlots(), 3u);
}

using ClientFaults = ClientRoom;

TEST_F(ClientFaults, HostResetMidMessageShowsTheDeparture) {
    RawPeer peer = connectClient();
    peer.send("login\n-1\nAnn\nlogin\n0\nBob\nmsg\n-1\nwhole\nmsg\n-1\nhal");
    ASSERT_TRUE(WaitFor([] { return LogText().find("<Ann>: whole\n") != std::string::npos; }));
    peer.reset();
    ASSERT_TRUE(WaitFor([&] { return clientGone(); }));
    const std::string log = LogText();
    EXPECT_EQ(log.substr(log.size() - DEPARTURE_LINES.size()), DEPARTURE_LINES);
    EXPECT_TRUE(ChatView.users().empty());
}

TEST_F(ClientFaults, HostThatHalfClosesIsSeenToLeaveAndTheClientClosesToo) {
    RawPeer peer = connectClient();
    peer.send("login\n-1\nAnn\nlogin\n0\nBob\n");
    ASSERT_TRUE(WaitFor([] { return ChatView.users().size() == 2; }));
    ::shutdown(peer.handle(), SHUT_WR);
    ASSERT_TRUE(WaitFor([&] { return clientGone(); }));
    EXPECT_EQ(LogText(), DEPARTURE_LINES);
    EXPECT_TRUE(peer.readEnd()); // the client released its end rather than lingering half open
}

TEST_F(ClientFaults, HostThatNeverAnswersLetsTheClientCloseAtOnce) {
    // One host accepts and stays silent; the other never even accepts (the connection completes
    // in its listen queue). Either way the login goes out and close does not wait on the host.
    for (const bool accepts : {true, false}) {
        SCOPED_TRACE(accepts ? "accepts" : "never accepts");
        RawListener silent;
        ChatClient client(OnClientData, OnClientLost);
        ASSERT_TRUE(client.connect("127.0.0.1", silent.programPort()));
        EXPECT_EQ(client.send("login\nBob\n"), 10);
        RawPeer peer;
        if (accepts) {
            peer = silent.accept();
            ASSERT_TRUE(peer.readUntil("login\nBob\n"));
        }
        const auto started = Clock::now();
        client.close();
        EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(500));
        EXPECT_EQ(LogText(), ""); // the client's own close is no departure
        if (accepts) {
            EXPECT_TRUE(peer.readEnd());
        }
    }
}

} // namespace
