// The window's commands without a window: Connect, Host, Enter and close against loopback peers.
#include "app/commands.h"
#include "chat/program_state.h"
#include "chat/protocol.h"
#include "chat/window_ops.h"
#include "tests/support/chat_state.h"
#include "tests/support/loopback.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

class Commands : public ::testing::Test {
protected:
    void SetUp() override { ResetChatState(); }
    void TearDown() override {
        CloseCommand();
        ResetChatState();
    }
    static FieldTexts fields(const std::string& name, const std::string& address, uint16_t port) {
        return {name, address, std::to_string(port)};
    }
    static bool hasClient() {
        std::lock_guard<std::mutex> guard(ChatLock);
        return ActiveClient != nullptr;
    }
};

TEST_F(Commands, ConnectResolvesLogsInAndSendsLines) {
    RawListener host;
    ConnectCommand(fields("Bob", "localhost", host.programPort()));
    RawPeer peer = host.accept();
    ASSERT_TRUE(peer.readUntil("login\nBob\n"));
    EXPECT_EQ(LogText(),
              "<<Connected to: 127.0.0.1 on port " + std::to_string(host.programPort()) + ">>\n");
    EXPECT_EQ(TargetAddress, "127.0.0.1");
    EnterCommand("hello %s");
    EnterCommand("");
    ASSERT_TRUE(peer.readUntil("msg\nhello %s\nmsg\n\n"));
    // Nothing is echoed locally: the line shows when the host relays it.
    peer.send("login\n-1\nAnn\nlogin\n0\nBob\nmsg\n0\nhello %s\n");
    ASSERT_TRUE(WaitFor([] { return LogText().find("<Bob>: hello %s\n") != std::string::npos; }));
    EXPECT_EQ(ChatView.users(), (Names{"Ann", "Bob"}));
}

TEST_F(Commands, ConnectAgainLogsOffTheOldConnectionFirst) {
    RawListener host;
    ConnectCommand(fields("Bob", "127.0.0.1", host.programPort()));
    RawPeer first = host.accept();
    ASSERT_TRUE(first.readUntil("login\nBob\n"));
    first.take();
    first.send("login\n-1\nAnn\n");
    ASSERT_TRUE(WaitFor([] { return ChatView.users().size() == 1; }));
    ConnectCommand(fields("Rob", "127.0.0.1", host.programPort()));
    EXPECT_TRUE(first.readEnd());
    EXPECT_EQ(first.take(), "logoff\n");
    RawPeer second = host.accept();
    ASSERT_TRUE(second.readUntil("login\nRob\n"));
    EXPECT_TRUE(ChatView.users().empty());
}

TEST_F(Commands, RefusedConnectShowsTheTwoLineErrorAndSwallowsLines) {
    const ReservedPort nobody;
    ConnectCommand(fields("Bob", "127.0.0.1", nobody.programPort()));
    EXPECT_EQ(LogText(), "<<Error: WSAECONNREFUSED\nConnection refused>>\n");
    EXPECT_TRUE(hasClient()); // the failed client stays until the next Connect
    EnterCommand("into the void");
    EXPECT_EQ(LogText(), "<<Error: WSAECONNREFUSED\nConnection refused>>\n");
}

TEST_F(Commands, ClosingLogsTheClientOff) {
    RawListener host;
    ConnectCommand(fields("Bob", "127.0.0.1", host.programPort()));
    RawPeer peer = host.accept();
    ASSERT_TRUE(peer.readUntil("login\nBob\n"));
    CloseCommand();
    EXPECT_TRUE(peer.readEnd());
    EXPECT_EQ(peer.take(), "login\nBob\nlogoff\n");
    EXPECT_FALSE(hasClient());
}

TEST_F(Commands, HostWritesTheBannerAndRelaysTheHostsLines) {
    const ReservedPort port;
    const uint16_t tcpPort = port.tcpPort;
    HostCommand(fields("Ann", "ignored", ProgramPort(tcpPort)));
    const std::string log = LogText();
    EXPECT_EQ(log.rfind("----- Hosting on port: " + std::to_string(ProgramPort(tcpPort)) +
                            " -----\nIP List:\n     1) ",
                        0),
              0u)
        << log;
    EXPECT_EQ(log.substr(log.size() - 41), std::string(40, '-') + "\n");
    EXPECT_EQ(ChatView.users(), (Names{"Ann"}));

    RawPeer bob = RawPeer::connectTo(tcpPort);
    bob.send("login\nBob\n");
    ASSERT_TRUE(bob.readUntil("login\n0\nBob\n"));
    EnterCommand("50% off");
    EXPECT_TRUE(bob.readUntil("msg\n-1\n50% off\n"));
    EXPECT_NE(LogText().find("<Ann>: 50% off\n"), std::string::npos);
    EXPECT_EQ(ChatView.users(), (Names{"Ann", "Bob"}));

    // Host again: the old room's clients hear the host leave, and a new banner is written.
    HostCommand(fields("Ann", "", ProgramPort(tcpPort)));
    EXPECT_TRUE(bob.readEnd());
    EXPECT_NE(bob.take().find("logoff\n-1\n"), std::string::npos);
    EXPECT_EQ(LogText().rfind("----- Hosting on port: ", 0), 0u);
    EXPECT_EQ(ChatView.users(), (Names{"Ann"}));
}

TEST_F(Commands, HostOnABusyPortShowsTheError) {
    RawListener other;
    HostCommand(fields("Ann", "", other.programPort()));
    EXPECT_EQ(LogText(), "<<Error: WSAEADDRINUSE\nAddress already in use>>\n");
    EXPECT_TRUE(ChatView.users().empty());
    EnterCommand("alone"); // shown in the host's own log; the broadcast reaches nobody
    EXPECT_NE(LogText().find("<Ann>: alone\n"), std::string::npos);
}

TEST_F(Commands, ClosingWhileHostingAndConnectedEndsBothRoles) {
    const ReservedPort port;
    const uint16_t tcpPort = port.tcpPort;
    HostCommand(fields("Ann", "", ProgramPort(tcpPort)));
    RawPeer guest = RawPeer::connectTo(tcpPort);
    guest.send("login\nGuest\n");
    ASSERT_TRUE(guest.readUntil("login\n0\nGuest\n"));
    // The same window joins its own room as a client too.
    ConnectCommand(fields("Self", "127.0.0.1", ProgramPort(tcpPort)));
    ASSERT_TRUE(WaitFor([] { return ChatView.users().size() >= 2; }));
    EnterCommand("from the client");
    ASSERT_TRUE(guest.readUntil("msg\n1\nfrom the client\n"));
    CloseCommand();
    EXPECT_TRUE(guest.readEnd());
    // The client role ended first; the room's guest still hears the host leave.
    EXPECT_NE(guest.take().find("logoff\n-1\n"), std::string::npos);
    EXPECT_FALSE(hasClient());
}

} // namespace
