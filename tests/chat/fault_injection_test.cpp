// Faults on the wire and in the process: resets mid-message, lines cut by the connection's end at
// every length, half-closed connections, a host that never answers, a busy port and running out of
// descriptors, against the real client and host.
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

#include <dlfcn.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Accepts that failed for want of descriptors, counted by the accept below.
std::atomic<int> AcceptsRefused{0};

} // namespace

// Every accept in this program comes here before the C library's (a program's own definition
// goes first), so that the tests can count how often the host tries while descriptors are out.
extern "C" int accept(int fd, sockaddr* __restrict address, socklen_t* __restrict length) {
    using Accept = int (*)(int, sockaddr*, socklen_t*);
    static const auto next = reinterpret_cast<Accept>(::dlsym(RTLD_NEXT, "accept"));
    const int result = next(fd, address, length);
    if (result < 0 && (errno == EMFILE || errno == ENFILE))
        ++AcceptsRefused;
    return result;
}

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

// The number of this process's threads blocked in a receive: a slot's reader waits there for its
// connection's next bytes, and calls the handler only between two receives.
size_t ThreadsReceiving() {
    size_t count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream call(task.path() / "syscall");
        long number = -1;
        if (call >> number && number == SYS_recvfrom)
            ++count;
    }
    return count;
}

// Bytes the kernel holds for the host's end of peer's connection, unread; -1 when there is no such
// connection. From /proc/net/tcp, whose lines give each socket's addresses as hex "IP:PORT" and its
// queues as hex "tx:rx".
long HostUnread(const RawPeer& peer, uint16_t hostPort) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    ::getsockname(peer.handle(), reinterpret_cast<sockaddr*>(&local), &size);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string number, ours, theirs, state, queues;
        fields >> number >> ours >> theirs >> state >> queues;
        const auto port = [](const std::string& address) {
            return std::stoul(address.substr(address.find(':') + 1), nullptr, 16);
        };
        if (port(ours) == hostPort && port(theirs) == ntohs(local.sin_port))
            return std::stol(queues.substr(queues.find(':') + 1), nullptr, 16);
    }
    return -1;
}

// Whether the host has handled every byte peer sent: none is left in peer's send queue or unread
// at the host, and the readers of all `connections` are back in their receives.
bool HostHandledAll(const RawPeer& peer, uint16_t hostPort, size_t connections) {
    int unsent = -1;
    return ::ioctl(peer.handle(), SIOCOUTQ, &unsent) == 0 && unsent == 0 &&
           HostUnread(peer, hostPort) == 0 && ThreadsReceiving() == connections;
}

// A line whose newline has not come is never relayed, however long it is: the host keeps what one
// block holds of it, relays that, cut to the line limit, once the newline comes, and drops it when
// the connection ends first, with an orderly close or a reset.
TEST_F(HostFaults, UnfinishedLineIsNeverRelayedInPart) {
    RawPeer bob = joinAs("Bob", "login\n0\nBob\n");
    enum class Ending { Close, Reset, Newline };
    const size_t lengths[] = {1014, 1015, 1016, 1017, 1018, 1019, 1020, 4000, 65536};
    for (const Ending ending : {Ending::Close, Ending::Reset, Ending::Newline}) {
        for (const size_t length : lengths) {
            SCOPED_TRACE(std::to_string(length) + " bytes, ended by " +
                         (ending == Ending::Close   ? "a close"
                          : ending == Ending::Reset ? "a reset"
                                                    : "a newline"));
            std::string text(length, ' ');
            for (size_t i = 0; i < length; ++i)
                text[i] = static_cast<char>('a' + i % 26);
            RawPeer mal = join();
            ASSERT_TRUE(mal.send("msg\n" + text));
            ASSERT_TRUE(WaitFor([&] { return HostHandledAll(mal, tcpPort, 2); }));
            // Bob's next line reaches him after anything the host sent him before it.
            bob.take();
            bob.send("msg\nmark\n");
            ASSERT_TRUE(bob.readUntil("msg\n0\nmark\n"));
            EXPECT_EQ(bob.take(), "msg\n0\nmark\n");

            if (ending == Ending::Newline) {
                mal.send("\nmsg\nafter\n");
                ASSERT_TRUE(bob.readUntil("\nafter\n"));
                // Which slot Mal has depends on how soon the last one's reader was done.
                const std::string relayed = bob.take();
                const std::string slot = relayed.substr(4, relayed.find('\n', 4) - 4);
                EXPECT_EQ(relayed, "msg\n" + slot + "\n" + text.substr(0, MAX_LINE_TEXT) +
                                       "\nmsg\n" + slot + "\nafter\n");
                mal.reset();
            } else if (ending == Ending::Close) {
                ::shutdown(mal.handle(), SHUT_WR);
                ASSERT_TRUE(mal.readEnd()); // the host closed its end: the reader has finished
            } else {
                mal.reset();
            }
            ASSERT_TRUE(WaitFor([&] { return server().occupiedSlots() == 1; }));
            bob.send("msg\nmark\n");
            ASSERT_TRUE(bob.readUntil("msg\n0\nmark\n"));
            EXPECT_EQ(bob.take(), "msg\n0\nmark\n");
        }
    }
    // The host's log shows the lines that were relayed, and only those.
    size_t shown = 0;
    const std::string log = LogText();
    for (size_t at = 0; (at = log.find("<>: abcdefghijklmnopqrstuvwxyz", at)) != log.npos; ++at)
        ++shown;
    EXPECT_EQ(shown, std::size(lengths));
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

        // The host tries again and again while descriptors are out, but waits between its tries:
        // by the time it has been refused three times, at least 10 ms went by for each try.
        const int refusedBefore = AcceptsRefused;
        const auto famineStart = Clock::now();
        ASSERT_TRUE(WaitFor([&] { return AcceptsRefused - refusedBefore >= 3; }));
        const int tries = AcceptsRefused - refusedBefore;
        const auto lasted = Clock::now() - famineStart;
        EXPECT_LE(tries, 1 + lasted / std::chrono::milliseconds(10))
            << "the accept loop spins while descriptors are out";
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
