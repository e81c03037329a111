// The window's commands without a window: Connect, Host, Enter and close against loopback peers.
#include "tests/commands/commands_fixture.h"

#include <string>

namespace {

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
    EnterCommand("after");
    // An empty line puts nothing on the wire, where it would swallow the next line.
    ASSERT_TRUE(peer.readUntil("msg\nafter\n"));
    EXPECT_EQ(peer.take(), "login\nBob\nmsg\nhello %s\nmsg\nafter\n");
    // Nothing is echoed locally: the line shows when the host relays it.
    peer.send("login\n-1\nAnn\nlogin\n0\nBob\nmsg\n0\nhello %s\n");
    ASSERT_TRUE(WaitFor([] { return LogText().find("<Bob>: hello %s\n") != std::string::npos; }));
    EXPECT_EQ(ChatView.users(), (Names{"Ann", "Bob"}));
}

TEST_F(Commands, EmptyNameAndEmptyLinesPutNoEmptyFieldOnTheWire) {
    RawPeer cid = hostWithGuest("Cid");

    // The host's empty line shows in its own log only.
    EnterCommand("");
    EnterCommand("next");
    ASSERT_TRUE(cid.readUntil("msg\n-1\nnext\n"));
    EXPECT_EQ(cid.take(), "msg\n-1\nnext\n");
    EXPECT_NE(LogText().find("<Ann>: \n<Ann>: next\n"), std::string::npos);

    // A client without a name joins the room nameless and its first line is not lost.
    RawListener host;
    ConnectCommand(fields("", "127.0.0.1", host.programPort()));
    RawPeer peer = host.accept();
    EnterCommand("");
    EnterCommand("first");
    ASSERT_TRUE(peer.readUntil("msg\nfirst\n"));
    EXPECT_EQ(peer.take(), "msg\nfirst\n");
}

TEST_F(Commands, HostsOwnLineGoesOutAsTypedAndShowsOnOneLine) {
    RawPeer cid = hostWithGuest("Cid");
    EnterCommand("a\rb\xE2\x80\xAE"
                 "c");
    ASSERT_TRUE(cid.readUntil("msg\n-1\na\rb\xE2\x80\xAE"
                              "c\n"));
    EXPECT_NE(LogText().find("<Ann>: a\xC2\xB6"
                             "b\xEF\xBF\xBD"
                             "c\n"),
              std::string::npos);
}

TEST_F(Commands, OverlongLinesAreCutOnceAndShownAlikeEverywhere) {
    RawPeer bob = hostWithGuest("Bob");

    // 1023 bytes typed: the longest text that every chat message carries is 1015 bytes, cut
    // between characters (the last two-byte character would straddle the cut).
    const std::string typed = std::string(1014, 'x') + "\xC3\xA9" + std::string(7, 'y');
    const std::string kept(1014, 'x');
    EnterCommand(typed);
    ASSERT_TRUE(bob.readUntil("msg\n-1\n" + kept + "\n"));
    EXPECT_NE(LogText().find("<Ann>: " + kept + "\n"), std::string::npos);

    // A client's line of 1018 bytes, the most its message holds: the host's log and the relay
    // show the same cut text.
    bob.take();
    bob.send("msg\n" + std::string(1018, 'z') + "\n");
    const std::string relayed(1015, 'z');
    ASSERT_TRUE(bob.readUntil("msg\n0\n" + relayed + "\n"));
    EXPECT_EQ(bob.take(), "msg\n0\n" + relayed + "\n");
    EXPECT_NE(LogText().find("<Bob>: " + relayed + "\n"), std::string::npos);
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
    RawPeer guest = hostWithGuest("Guest");
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
