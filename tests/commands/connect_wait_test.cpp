// Connect waiting on a host that never answers, while the same window hosts a room. POSIX only:
// the stall is a full listen queue, whose handshakes Linux leaves unanswered where Windows refuses
// them.
#include "tests/commands/commands_fixture.h"

#include <atomic>
#include <string>
#include <thread>

namespace {

TEST_F(Commands, HostedRoomKeepsRelayingWhileConnectWaitsOnTheNetwork) {
    RawPeer bob = hostWithGuest("Bob");

    // A host whose listen queue is full: the connect's handshake is never answered.
    RawListener stalled;
    ASSERT_EQ(::listen(stalled.fd, 0), 0);
    RawPeer filler = RawPeer::connectTo(stalled.tcpPort);
    ASSERT_TRUE(filler.valid());
    std::atomic<bool> connectDone{false};
    std::thread window([&] {
        ConnectCommand(fields("Bob2", "127.0.0.1", stalled.programPort()));
        connectDone = true;
    });
    ASSERT_TRUE(WaitFor([] { return LogText().empty(); })); // Connect has cleared the view
    bob.send("msg\nstill here\n");
    EXPECT_TRUE(bob.readUntil("msg\n0\nstill here\n", 4000));
    EXPECT_FALSE(connectDone);
    window.join();
    // Connect emptied the host's names too, so Bob's line shows without his name.
    EXPECT_EQ(LogText().rfind("<>: still here\n<<Error: WSAETIMEDOUT\n", 0), 0u) << LogText();
}

} // namespace
