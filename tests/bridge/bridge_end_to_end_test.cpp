// parlox-bridge end to end: real ngircd servers on loopback, parlox-room, and raw peers on both
// sides. What crosses, once; the pace under a burst; both sides restarting; a taken nick; TLS.
#include "tests/support/console_programs.h"
#include "tests/support/irc_server.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <csignal>
#include <string>

namespace {

constexpr int JOIN_WAIT_MS = 20000;

std::string IrcAddress(uint16_t tcpPort, const std::string& host = "127.0.0.1") {
    return host + ":" + std::to_string(tcpPort);
}

// A channel line as the peers on IRC read it, from whichever nick.
std::string ChannelText(const std::string& channel, const std::string& text) {
    return " PRIVMSG " + channel + " :" + text + "\r\n";
}

class BridgeTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.start()) << server.why;
        ASSERT_TRUE(room.open());
    }
    // A bridge ends cleanly on SIGTERM whatever it went through (and, in the sanitizer builds,
    // without a fault or a leak).
    void TearDown() override {
        if (bridge.process.started()) {
            EXPECT_EQ(bridge.endWith(SIGTERM), 0) << bridge.err();
        }
    }
    // Starts the bridge between the room and #office with the extra options, and waits until it
    // has joined.
    void startBridge(std::vector<std::string> extra = {}) {
        std::vector<std::string> options = {"--room",    room.address(),
                                            "--irc",     IrcAddress(server.port.tcpPort),
                                            "--channel", "#office"};
        options.insert(options.end(), extra.begin(), extra.end());
        bridge.run(options);
        ASSERT_TRUE(bridge.waitOut("joined #office", JOIN_WAIT_MS)) << bridge.out() << bridge.err();
    }

    TestIrcServer server{"irc1.test"};
    RoomProgram room;
    BridgeProgram bridge;
};

TEST_F(BridgeTest, LinesCrossBothWaysOnceEachWithTheirAuthors) {
    startBridge({"--notices"});
    RoomPeer ann;
    ASSERT_TRUE(ann.join(room.port.tcpPort, "Ann"));
    IrcPeer xa;
    ASSERT_TRUE(xa.join(server.port.tcpPort, "xa", "#office"));
    EXPECT_TRUE(ann.waitLines("* xa joined #office"));

    ann.say("hello from the room");
    xa.say("\x02"
           "bold\x02 and \x03"
           "04,01red\x03 words");
    xa.send("PRIVMSG #office :\x01"
            "ACTION waves\x01");
    xa.send("PRIVMSG #office :\x01"
            "VERSION\x01");
    // A line longer than IRC carries: two-byte letters, no spaces.
    std::string longLine;
    for (int i = 0; i < 500; ++i)
        longLine += "\xC3\xA9";
    ann.say(longLine);
    RoomPeer cid;
    ASSERT_TRUE(cid.join(room.port.tcpPort, "Cid"));

    // Markers said after everything else: once they are across, so is all that came before.
    ann.say("marker from the room");
    xa.say("marker from irc");
    ASSERT_TRUE(xa.waitFor(ChannelText("#office", "<Ann> marker from the room"))) << xa.all;
    ASSERT_TRUE(ann.waitLines("<xa> marker from irc"));

    EXPECT_EQ(xa.count(ChannelText("#office", "<Ann> hello from the room")), 1u);
    EXPECT_EQ(xa.count(ChannelText("#office", "* Cid joined the room")), 1u);
    EXPECT_EQ(xa.count(":bridge!"), xa.count(" PRIVMSG #office :"));
    EXPECT_EQ(ann.lines("<xa> bold and red words"), 1u);
    EXPECT_EQ(ann.lines("* xa waves"), 1u);
    EXPECT_EQ(Occurrences(ann.all, "VERSION"), 0u);
    // The room's own lines never come back through the bridge.
    EXPECT_EQ(Occurrences(ann.all, "<Ann>"), 0u);

    // The long line came in pieces within IRC's 512 bytes, each naming its author, the letters
    // whole and in order.
    std::string pieces;
    size_t count = 0;
    const std::string head = ChannelText("#office", "<Ann> ");
    for (size_t at = xa.all.find(head.substr(0, head.size() - 2)); at != std::string::npos;
         at = xa.all.find(head.substr(0, head.size() - 2), at + 1)) {
        const size_t lineStart = xa.all.rfind("\r\n", at) + 2;
        const size_t lineEnd = xa.all.find("\r\n", at);
        EXPECT_LE(lineEnd + 2 - lineStart, 512u);
        const std::string text =
            xa.all.substr(at + head.size() - 2, lineEnd - at - head.size() + 2);
        if (text.rfind("\xC3\xA9", 0) == 0) {
            pieces += text;
            ++count;
        }
    }
    EXPECT_GE(count, 2u);
    EXPECT_EQ(pieces, longLine);

    xa.send("PART #office");
    EXPECT_TRUE(ann.waitLines("* xa left #office"));
}

TEST_F(BridgeTest, AThousandLineBurstIsPacedAndWhatItCouldNotCarryIsCounted) {
    startBridge({"--queue", "10"});
    IrcPeer xa;
    ASSERT_TRUE(xa.join(server.port.tcpPort, "xa", "#office"));
    RoomPeer ann;
    ASSERT_TRUE(ann.join(room.port.tcpPort, "Ann"));
    std::string burst;
    for (int i = 0; i < 1000; ++i)
        burst += "msg\nburst " + std::to_string(i) + "\n";
    ASSERT_TRUE(ann.peer.send(burst));

    // The bridge says in the room how many it could not carry.
    const std::string notice = " not carried to #office: more than 10 were waiting";
    ASSERT_TRUE(WaitFor(
        [&] {
            ann.lines("");
            return ann.all.find(notice) != std::string::npos;
        },
        20000));
    const std::string& got = ann.all;
    const size_t noticeAt = got.find(notice);
    const size_t numberAt = got.rfind("\n* ", noticeAt) + 3;
    const size_t dropped = std::stoul(got.substr(numberAt, noticeAt - numberAt));
    ASSERT_LT(dropped, 1000u);
    const size_t carried = 1000 - dropped;

    // The rest reach the channel, in order, each once, at the server's pace: the bridge is not
    // cut off for flooding on the way.
    const int paced = static_cast<int>(carried) * 1000 + 15000;
    ASSERT_TRUE(
        xa.waitFor(ChannelText("#office", "<Ann> burst " + std::to_string(carried - 1)), paced))
        << "dropped " << dropped << "\n"
        << bridge.err();
    size_t previous = 0;
    for (size_t i = 0; i < carried; ++i) {
        const std::string line = ChannelText("#office", "<Ann> burst " + std::to_string(i));
        EXPECT_EQ(xa.count(line), 1u) << i;
        const size_t at = xa.all.find(line);
        EXPECT_GE(at, previous) << i;
        previous = at;
    }
    EXPECT_EQ(xa.count(ChannelText("#office", "<Ann> burst " + std::to_string(carried))), 0u);
    xa.say("still here?");
    EXPECT_TRUE(ann.waitLines("<xa> still here?"));
    EXPECT_EQ(xa.count(" QUIT "), 0u);
    EXPECT_EQ(bridge.err().find("lost"), std::string::npos) << bridge.err();
}

TEST_F(BridgeTest, EitherSideRestartsAndNothingIsSaidTwice) {
    startBridge();
    RoomPeer ann;
    ASSERT_TRUE(ann.join(room.port.tcpPort, "Ann"));
    {
        IrcPeer xa;
        ASSERT_TRUE(xa.join(server.port.tcpPort, "xa", "#office"));
        ann.say("before");
        ASSERT_TRUE(xa.waitFor(ChannelText("#office", "<Ann> before")));
    }

    // The IRC server goes. A line said meanwhile waits. The server comes back once the bridge
    // has failed twice to reach it and waits 4 s for its next try, so that the new peer is in the
    // channel before the bridge returns.
    server.stop();
    ASSERT_TRUE(bridge.waitErr("lost 127.0.0.1:"));
    ann.say("while the server was away");
    ASSERT_TRUE(WaitFor([&] { return Occurrences(bridge.err(), "cannot reach 127.0.0.1:") >= 2; },
                        JOIN_WAIT_MS));
    ASSERT_TRUE(server.start()) << server.why;
    IrcPeer xb;
    ASSERT_TRUE(xb.join(server.port.tcpPort, "xb", "#office"));
    ASSERT_TRUE(xb.waitFor(ChannelText("#office", "<Ann> while the server was away"), JOIN_WAIT_MS))
        << bridge.err();
    ann.say("after the server came back");
    ASSERT_TRUE(xb.waitFor(ChannelText("#office", "<Ann> after the server came back")));
    EXPECT_EQ(xb.count(ChannelText("#office", "<Ann> while the server was away")), 1u);
    EXPECT_EQ(xb.count(ChannelText("#office", "<Ann> before")), 0u);

    // The room goes, the same way.
    EXPECT_EQ(room.endWith(SIGTERM), 0);
    EXPECT_TRUE(ann.waitEnd());
    ASSERT_TRUE(bridge.waitErr("lost the room"));
    xb.say("while the room was away");
    ASSERT_TRUE(WaitFor([&] { return Occurrences(bridge.err(), "cannot reach the room") >= 2; },
                        JOIN_WAIT_MS));
    ASSERT_TRUE(room.open());
    RoomPeer bob;
    ASSERT_TRUE(bob.join(room.port.tcpPort, "Bob"));
    ASSERT_TRUE(bob.waitLines("<xb> while the room was away", 1, JOIN_WAIT_MS)) << bridge.err();
    xb.say("after the room came back");
    ASSERT_TRUE(bob.waitLines("<xb> after the room came back"));
    EXPECT_EQ(bob.lines("<xb> while the room was away"), 1u);
    bob.say("to the channel once");
    ASSERT_TRUE(xb.waitFor(ChannelText("#office", "<Bob> to the channel once")));
    xb.say("marker");
    ASSERT_TRUE(bob.waitLines("<xb> marker"));
    EXPECT_EQ(xb.count(ChannelText("#office", "<Bob> to the channel once")), 1u);
    EXPECT_EQ(xb.count(ChannelText("#office", "<Ann> after the server came back")), 1u);
}

TEST_F(BridgeTest, ASideThatDoesNotAnswerHoldsUpNothingElse) {
    // A listener whose queue is full: a connect to it waits for an answer that never comes,
    // until the bridge's attempt gives up after 5 s.
    RawListener silent;
    ASSERT_EQ(::listen(silent.fd, 0), 0);
    std::vector<RawPeer> queued;
    for (int i = 0; i < 4; ++i) {
        const RawHandle handle = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(silent.tcpPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address);
        queued.emplace_back(handle);
    }
    bridge.run({"--room", "127.0.0.1:" + std::to_string(silent.programPort()), "--irc",
                IrcAddress(server.port.tcpPort), "--channel", "#office"});
    // The channel is joined while the room's attempt still waits, and SIGTERM is heard then too.
    ASSERT_TRUE(bridge.waitOut("joined #office", JOIN_WAIT_MS)) << bridge.err();
    EXPECT_EQ(bridge.err().find("cannot reach the room"), std::string::npos) << bridge.err();
    EXPECT_TRUE(bridge.waitErr("cannot reach the room at 127.0.0.1 port " +
                               std::to_string(silent.programPort()) + ": WSAETIMEDOUT"))
        << bridge.err();
}

TEST_F(BridgeTest, TakesAnotherNickWhenItsOwnIsInUse) {
    IrcPeer squatter;
    ASSERT_TRUE(squatter.join(server.port.tcpPort, "bridge", "#office"));
    startBridge();
    EXPECT_NE(bridge.out().find("#office on " + IrcAddress(server.port.tcpPort) + " as bridge_"),
              std::string::npos)
        << bridge.out();
    RoomPeer ann;
    ASSERT_TRUE(ann.join(room.port.tcpPort, "Ann"));
    ann.say("hi");
    EXPECT_TRUE(
        squatter.waitFor(":bridge_!~parlox@127.0.0.1" + ChannelText("#office", "<Ann> hi")));
    squatter.say("and back");
    EXPECT_TRUE(ann.waitLines("<bridge> and back"));
}

class TwoSitesTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sites.start()) << sites.why; }
    void TearDown() override {
        EXPECT_EQ(sites.bridgeOne.endWith(SIGTERM), 0) << sites.bridgeOne.err();
        EXPECT_EQ(sites.bridgeTwo.endWith(SIGTERM), 0) << sites.bridgeTwo.err();
    }

    TwoSites sites;
    TestIrcServer& two = sites.two;
    RoomProgram& roomOne = sites.roomOne;
    RoomProgram& roomTwo = sites.roomTwo;
};

TEST_F(TwoSitesTest, EachRoomSeesTheOthersLinesExactlyOnce) {
    RoomPeer ann;
    RoomPeer bob;
    IrcPeer xa;
    ASSERT_TRUE(ann.join(roomOne.port.tcpPort, "Ann"));
    ASSERT_TRUE(bob.join(roomTwo.port.tcpPort, "Bob"));
    ASSERT_TRUE(xa.join(two.port.tcpPort, "xa", "#office"));
    // Both bridges are in the one channel, across the link.
    ASSERT_TRUE(WaitFor([&] {
        xa.send("NAMES #office");
        return xa.waitFor("siteone", 200) && xa.count("sitetwo") > 0;
    }));

    ann.say("from site one");
    bob.say("from site two");
    xa.say("from irc");
    ann.say("last from site one");
    bob.say("last from site two");
    xa.say("last from irc");
    ASSERT_TRUE(bob.waitLines("<siteone> <Ann> last from site one", 1, JOIN_WAIT_MS));
    ASSERT_TRUE(ann.waitLines("<sitetwo> <Bob> last from site two", 1, JOIN_WAIT_MS));
    ASSERT_TRUE(ann.waitLines("<xa> last from irc", 1, JOIN_WAIT_MS));
    ASSERT_TRUE(bob.waitLines("<xa> last from irc", 1, JOIN_WAIT_MS));
    ASSERT_TRUE(xa.waitFor(ChannelText("#office", "<Bob> last from site two")));
    ASSERT_TRUE(xa.waitFor(ChannelText("#office", "<Ann> last from site one")));

    EXPECT_EQ(bob.lines("<siteone> <Ann> from site one"), 1u);
    EXPECT_EQ(ann.lines("<sitetwo> <Bob> from site two"), 1u);
    EXPECT_EQ(ann.lines("<xa> from irc"), 1u);
    EXPECT_EQ(bob.lines("<xa> from irc"), 1u);
    EXPECT_EQ(xa.count(ChannelText("#office", "<Ann> from site one")), 1u);
    EXPECT_EQ(xa.count(ChannelText("#office", "<Bob> from site two")), 1u);
    // Nothing comes home: no room sees its own people through the other site.
    EXPECT_EQ(Occurrences(ann.all, "<Ann>"), 0u);
    EXPECT_EQ(Occurrences(bob.all, "<Bob>"), 0u);
    EXPECT_EQ(Occurrences(xa.all, "<siteone>"), 0u);
    EXPECT_EQ(Occurrences(xa.all, "<sitetwo>"), 0u);
}

class TlsTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.start()) << server.why;
        ASSERT_TRUE(room.open());
    }
    void runBridge(const std::string& host, std::vector<std::string> tls) {
        std::vector<std::string> options = {
            "--room",    room.address(), "--irc", IrcAddress(server.tlsPort.tcpPort, host),
            "--channel", "#office",      "--tls"};
        options.insert(options.end(), tls.begin(), tls.end());
        bridge.run(options);
    }
    std::string fingerprint() {
        // "sha256 Fingerprint=AB:CD:..." as openssl prints it.
        const std::string printed = RunForOutput(
            {"openssl", "x509", "-in", server.certificate, "-noout", "-fingerprint", "-sha256"});
        return printed.substr(printed.find('=') + 1, 95);
    }

    TestIrcServer server{"irc1.test", true};
    RoomProgram room;
    BridgeProgram bridge;
};

TEST_F(TlsTest, TheServersCertificateIsCheckedAgainstTheGivenAuthority) {
    runBridge("127.0.0.1", {"--ca", server.certificate});
    ASSERT_TRUE(bridge.waitOut("joined #office", JOIN_WAIT_MS)) << bridge.err();
    EXPECT_NE(bridge.out().find("over TLS"), std::string::npos);
    IrcPeer xa;
    ASSERT_TRUE(xa.join(server.port.tcpPort, "xa", "#office"));
    RoomPeer ann;
    ASSERT_TRUE(ann.join(room.port.tcpPort, "Ann"));
    ann.say("over tls");
    EXPECT_TRUE(xa.waitFor(ChannelText("#office", "<Ann> over tls")));
    xa.say("back over tls");
    EXPECT_TRUE(ann.waitLines("<xa> back over tls"));
}

TEST_F(TlsTest, ACertificateTheSystemDoesNotTrustIsRefused) {
    runBridge("localhost", {});
    EXPECT_TRUE(bridge.waitErr("the server's certificate is not trusted: self-signed certificate"))
        << bridge.err();
    EXPECT_EQ(bridge.out().find("joined"), std::string::npos);
}

TEST_F(TlsTest, APinnedCertificateIsTakenAndNoOther) {
    runBridge("localhost", {"--fingerprint", fingerprint()});
    ASSERT_TRUE(bridge.waitOut("joined #office", JOIN_WAIT_MS)) << bridge.err();
    EXPECT_EQ(bridge.endWith(SIGTERM), 0);

    std::string wrong = fingerprint();
    wrong[0] = wrong[0] == '0' ? '1' : '0';
    BridgeProgram other;
    other.run({"--room", room.address(), "--irc", IrcAddress(server.tlsPort.tcpPort), "--channel",
               "#office", "--tls", "--fingerprint", wrong});
    EXPECT_TRUE(other.waitErr("is not the one pinned")) << other.err();
    EXPECT_EQ(other.out().find("joined"), std::string::npos);
}

TEST(BridgeCommandLine, MistakesAreSaidAndNothingStarts) {
    for (const std::vector<std::string>& options : std::vector<std::vector<std::string>>{
             {"--room", "127.0.0.1:5000", "--irc", "irc.example.org:6667"},
             {"--room", "127.0.0.1", "--irc", "irc.example.org:6667", "--channel", "#a"},
             {"--room", "127.0.0.1:5000", "--irc", "irc:70000", "--channel", "#a"},
             {"--room", "127.0.0.1:5000", "--irc", "irc:6667", "--channel", "office"},
             {"--room", "127.0.0.1:5000", "--irc", "irc:6667", "--channel", "#a", "--nick", "9x"},
             {"--room", "127.0.0.1:5000", "--irc", "irc:6667", "--channel", "#a", "--ca", "x"},
             {"--room", "127.0.0.1:5000", "--irc", "irc:6667", "--channel", "#a", "--tls",
              "--fingerprint", "abcd"},
         }) {
        BridgeProgram bridge;
        bridge.run(options);
        EXPECT_EQ(bridge.waitExit(), 2) << options.back();
        EXPECT_NE(bridge.err().find("usage: parlox-bridge"), std::string::npos);
    }
}

} // namespace
