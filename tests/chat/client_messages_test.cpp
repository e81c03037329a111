// The client end to end: a fake host on loopback drives the real ChatClient and OnClientData.
#include "chat/chat_client.h"
#include "chat/client_messages.h"
#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "model/ui_tasks.h"
#include "tests/support/loopback.h"
#include "tests/support/rooms.h"
#include "tests/support/wait.h"
#include "wire/protocol.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using Names = std::vector<std::string>;

using ClientMessages = ClientRoom;

TEST_F(ClientMessages, WholeLoginReplyInOneReadFillsTheListInOrder) {
    RawPeer peer = connectClient();
    ASSERT_TRUE(peer.valid());
    peer.send("login\n-1\nAnn\nlogin\n0\nBob\nlogin\n1\nCid\nlogin\n5\nDee\n");
    ASSERT_TRUE(WaitFor([] { return ChatView.users().size() == 4; }));
    EXPECT_EQ(ChatView.users(), (Names{"Ann", "Bob", "Cid", "Dee"}));
    std::lock_guard<CheckedMutex> guard(ChatLock);
    EXPECT_EQ(HostName, "Ann");
    EXPECT_EQ(UserTable[0], "Bob");
    EXPECT_EQ(UserTable[5], "Dee");
    EXPECT_EQ(LogText(), ""); // greetings and roster entries write nothing to the log
}

TEST_F(ClientMessages, ConversationFromTheClientsSide) {
    RawPeer peer = connectClient();
    // Bob's view of the sample conversation; the relay without its final newline is the old
    // form, shown once the grace runs out.
    peer.send("login\n-1\nAnn\nlogin\n0\nBob\n");
    peer.send("msg\n0\nhi");
    ASSERT_TRUE(WaitFor([] { return LogText() == "<Bob>: hi\n"; }));
    peer.send("login\n1\nCid\n");
    peer.send("msg\n-1\n100% %s %n\nmsg\n1\nyo\n");
    ASSERT_TRUE(WaitFor([] { return ChatView.users().size() == 3 && LogText().size() > 30; }));
    peer.send("logoff\n0\n");
    ASSERT_TRUE(WaitFor([] { return ChatView.users() == Names{"Ann", "Cid"}; }));
    EXPECT_EQ(LogText(), "<Bob>: hi\n<Ann>: 100% %s %n\n<Cid>: yo\n");
    // The client's own line goes out as typed and shows only when relayed.
    std::lock_guard<CheckedMutex> guard(ChatLock);
    EXPECT_EQ(UserTable[0], "");
}

TEST_F(ClientMessages, DeparturesRemoveTheDepartedsOwnEntry) {
    RawPeer peer = connectClient();
    // The host is named like two participants; only the one who leaves goes from the list.
    peer.send("login\n-1\nbob\nlogin\n0\nBob\nlogin\n1\nBOB\nlogin\n2\nZed\n");
    ASSERT_TRUE(WaitFor([] { return ChatView.users().size() == 4; }));
    peer.send("logoff\n1\n");
    ASSERT_TRUE(WaitFor([] { return ChatView.users().size() == 3; }));
    EXPECT_EQ(ChatView.users(), (Names{"bob", "Bob", "Zed"}));
    peer.send("logoff\n7\nlogoff\n2\n"); // an id without a name removes nothing
    ASSERT_TRUE(WaitFor([] { return ChatView.users().size() == 2; }));
    EXPECT_EQ(ChatView.users(), (Names{"bob", "Bob"}));
    peer.send("logoff\n0\nlogoff\n0\nlogin\n2\nlast\n"); // the second finds nothing
    ASSERT_TRUE(WaitFor([] { return ChatView.users() == Names{"bob", "last"}; }));
}

TEST_F(ClientMessages, RepeatedLoginsReplaceTheNameSoTheListStaysARoom) {
    RawPeer peer = connectClient();
    peer.send("login\n-1\nAnn\nlogin\n0\nBob\nlogin\n1\nCid\nlogin\n0\nRob\n");
    ASSERT_TRUE(WaitFor([] { return ChatView.users() == Names{"Ann", "Rob", "Cid"}; }));
    peer.send("login\n-1\nZed\nmsg\n-1\nhi\nmsg\n0\nyo\n"); // a second greeting too
    ASSERT_TRUE(WaitFor([] { return LogText() == "<Zed>: hi\n<Rob>: yo\n"; }));
    EXPECT_EQ(ChatView.users(), (Names{"Zed", "Rob", "Cid"}));
    // A hostile host's storm of logins for every id and the host: 33 entries at most.
    std::string storm;
    for (int i = 0; i < 20000; ++i)
        storm += "login\n" + std::to_string(i % 34 - 1) + "\nn" + std::to_string(i) + "\n";
    ASSERT_TRUE(peer.send(storm + "msg\n31\nend\n"));
    ASSERT_TRUE(WaitFor([] { return LogText().find("<n19990>: end") != std::string::npos; }));
    const Names users = ChatView.users();
    ASSERT_EQ(users.size(), 33u);
    EXPECT_EQ(users[0], "n19992"); // the host's entry, replaced in place
    std::lock_guard<CheckedMutex> guard(ChatLock);
    EXPECT_EQ(HostName, "n19992");
    EXPECT_EQ(UserTable[0], "n19993");
}

TEST_F(ClientMessages, HostDepartureEndsTheClientAndIgnoresWhatFollows) {
    RawPeer peer = connectClient();
    peer.send("login\n-1\nAnn\nlogin\n0\nBob\nmsg\n0\nbefore\n");
    ASSERT_TRUE(WaitFor([] { return LogText() == "<Bob>: before\n"; }));
    peer.send("logoff\n-1\nmsg\n0\nafter\nlogin\n3\nLate\n");
    ASSERT_TRUE(WaitFor([this] { return clientGone(); }));
    EXPECT_EQ(LogText(), "<Bob>: before\n" + DEPARTURE_LINES);
    EXPECT_TRUE(ChatView.users().empty());
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        EXPECT_EQ(UserTable[0], "");
        EXPECT_EQ(HostName, "Ann"); // kept until the next greeting
    }
    EXPECT_TRUE(peer.readEnd()); // the client closed its connection without a logoff
    EXPECT_EQ(peer.take(), "");
    RunUiTasks(); // destroys the retired client on this (the user-interface) thread
}

TEST_F(ClientMessages, LostConnectionShowsAsTheHostsDeparture) {
    RawPeer peer = connectClient();
    peer.send("login\n-1\nAnn\nlogin\n0\nBob\n");
    ASSERT_TRUE(WaitFor([] { return ChatView.users().size() == 2; }));
    peer.reset();
    ASSERT_TRUE(WaitFor([this] { return clientGone(); }));
    EXPECT_EQ(LogText(), DEPARTURE_LINES);
    EXPECT_TRUE(ChatView.users().empty());
    RunUiTasks();
}

TEST_F(ClientMessages, MessagesSplitAcrossReadsArriveWhole) {
    const std::string conversation =
        "login\n-1\nAnn\nlogin\n0\nBob\nmsg\n0\nhello there\nlogin\n12\nCid\nmsg\n12\nyo\n"
        "logoff\n0\nmsg\n-1\nbye\n";
    const std::string expected = "<Bob>: hello there\n<Cid>: yo\n<Ann>: bye\n";
    for (size_t cut = 1; cut < conversation.size(); ++cut) {
        ResetChatState();
        RawPeer peer = connectClient();
        ASSERT_TRUE(peer.valid());
        peer.send(conversation.substr(0, cut));
        peer.send(conversation.substr(cut));
        ASSERT_TRUE(WaitFor([&] { return LogText() == expected; }, 3000))
            << "cut at " << cut << ": " << LogText();
        EXPECT_EQ(ChatView.users(), (Names{"Ann", "Cid"})) << "cut at " << cut;
    }
}

TEST_F(ClientMessages, HostileBytesNeverReachOutsideTheTables) {
    RawPeer peer = connectClient();
    peer.send("login\n99999\nOut\nlogin\n-5\nNeg\nmsg\n32\nx\nlogoff\n-2\nLOGIN\n1\nNo\n");
    peer.send("\nmsg\n3\n" + std::string(3000, 'A') + "\n"); // longer than one read
    peer.send("msg\n-1\n%s%s%s%n%n\n");
    peer.send("login\n4\nEnd\nmsg\n4\nx\r<Ann>: forged\xC2\x85y\n");
    ASSERT_TRUE(WaitFor([] { return ChatView.users().size() == 1; }));
    EXPECT_EQ(ChatView.users(), (Names{"End"}));
    EXPECT_NE(LogText().find("<>: %s%s%s%n%n\n"), std::string::npos);
    // Line breaks in a received text show as marks: no line starts inside it.
    ASSERT_TRUE(WaitFor([] {
        return LogText().find("\n<End>: x\xC2\xB6<Ann>: forged\xC2\xB6y\n") != std::string::npos;
    }));
    // A NUL ends what is read of the block.
    peer.send(std::string("login\n3\nNul") + '\0' + "login\n5\nignored\n");
    ASSERT_TRUE(WaitFor([] { return ChatView.users().size() == 2; }));
    EXPECT_EQ(ChatView.users(), (Names{"End", "Nul"}));
    std::lock_guard<CheckedMutex> guard(ChatLock);
    EXPECT_EQ(UserTable[3], "Nul");
    EXPECT_EQ(UserTable[5], "");
}

TEST_F(ClientMessages, ClosingWhileTheHostFloodsIsClean) {
    RawPeer peer = connectClient();
    peer.send("login\n-1\nAnn\nlogin\n0\nBob\n");
    std::atomic<bool> flooding{true}, sendFailed{false};
    std::thread flood([&] {
        const std::string line = "msg\n0\nflood line\n";
        while (flooding && peer.send(line)) {
        }
        sendFailed = flooding.load();
    });
    ASSERT_TRUE(WaitFor([] { return ChatView.logBytes() > 1000; }));
    std::unique_ptr<ChatClient> client;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        client = std::move(ActiveClient);
    }
    client->send(CLIENT_LOGOFF);
    client->close();
    const size_t shownAtClose = ChatView.logBytes();
    client.reset();
    // The closed connection makes the flood's send fail by itself.
    const bool floodFailed = WaitFor([&] { return sendFailed.load(); });
    flooding = false;
    flood.join();
    EXPECT_TRUE(floodFailed);
    EXPECT_TRUE(peer.readEnd());
    // The receive loop ended within close: nothing that was still on the way reached the log, and
    // a client the window let go of shows no departure of its host.
    RunUiTasks();
    EXPECT_EQ(ChatView.logBytes(), shownAtClose);
    EXPECT_EQ(LogText().find("Server disconnected"), std::string::npos);
}

TEST(ChatClient, RefusedConnectKeepsTheErrorAndSendsNothing) {
    ChatClient client;
    const ReservedPort nobody;
    EXPECT_FALSE(client.connect("127.0.0.1", nobody.programPort()));
    EXPECT_EQ(client.lastError(), "WSAECONNREFUSED\nConnection refused");
    EXPECT_EQ(client.send("msg\nx\n"), -1);
    client.close();
    client.close();
    EXPECT_EQ(client.lastError(), "");
}

TEST(ChatClient, HostThatStopsReadingEndsTheConnectionAfterTheSendTimeout) {
    RawListener host;
    std::atomic<int> lost{0};
    static std::atomic<int>* lostCount;
    lostCount = &lost;
    ChatClient client(nullptr, [](ChatClient*) { ++*lostCount; });
    ASSERT_TRUE(client.connect("127.0.0.1", host.programPort()));
    RawPeer peer = host.accept(); // never reads
    const std::string big(16 * 1024 * 1024, 'x');
    EXPECT_EQ(client.send(big.c_str()), -1);
    EXPECT_TRUE(WaitFor([&] { return lost == 1; }));
    EXPECT_EQ(client.send("msg\nx\n"), -1);
}

} // namespace
