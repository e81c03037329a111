// The bridge's two conversations without sockets: IRC lines in and out of IrcSession, the host's
// messages into RoomSession.
#include "bridge/irc_session.h"
#include "bridge/room_session.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const Clock::time_point T0 = Clock::time_point{} + 1000s;

class IrcSessionTest : public testing::Test {
protected:
    // Feeds one server line; returns what the bridge answers at once.
    std::vector<std::string> feed(const std::string& line, Clock::time_point now = T0) {
        std::vector<std::string> replies;
        session.receive(line, now, replies, events);
        return replies;
    }
    void registerAndJoin() {
        session.start();
        feed(":srv 001 bridge :Welcome");
        feed(":bridge!~parlox@127.0.0.1 JOIN #office");
        events.clear();
    }

    IrcSession session{"bridge", "#office"};
    std::vector<IrcEvent> events;
};

TEST_F(IrcSessionTest, RegistersTakesAnotherNickWhenRefusedAndJoins) {
    EXPECT_EQ(session.start(),
              (std::vector<std::string>{"NICK bridge", "USER parlox 0 * :Parlox bridge"}));
    EXPECT_EQ(feed(":srv 433 * bridge :Nickname already in use"),
              std::vector<std::string>{"NICK bridge_"});
    EXPECT_EQ(feed(":srv 433 * bridge_ :Nickname already in use"),
              std::vector<std::string>{"NICK bridge__"});
    EXPECT_EQ(feed(":srv 001 bridge__ :Welcome"), std::vector<std::string>{"JOIN #office"});
    EXPECT_FALSE(session.joined());
    feed(":bridge__!~parlox@10.0.0.9 JOIN :#Office");
    EXPECT_TRUE(session.joined());
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, IrcEvent::Kind::Joined);
    // The server relays ":bridge__!~parlox@10.0.0.9 PRIVMSG #office :" and CR LF around the text.
    EXPECT_EQ(session.textRoom(), 512u - 46u);

    // The wanted nick is asked for again later, and taken once the server agrees.
    std::vector<std::string> due;
    session.tick(T0 + IrcSession::REGAIN_WAIT - 1s, due);
    EXPECT_TRUE(due.empty());
    session.tick(T0 + IrcSession::REGAIN_WAIT, due);
    EXPECT_EQ(due, std::vector<std::string>{"NICK bridge"});
    feed(":bridge__!~parlox@10.0.0.9 NICK :bridge");
    EXPECT_EQ(session.nick(), "bridge");
    EXPECT_EQ(session.nextTick(), Clock::time_point::max());
}

TEST_F(IrcSessionTest, ChannelLinesBecomeEventsAndTheBridgesOwnAreIgnored) {
    registerAndJoin();
    EXPECT_EQ(feed("PING :irc.test"), std::vector<std::string>{"PONG :irc.test"});
    feed(":xa!u@h PRIVMSG #office :\x02hello\x02 \x03"
         "4there");
    feed(":xa!u@h PRIVMSG #OFFICE :\x01"
         "ACTION waves\x01");
    feed(":xa!u@h PRIVMSG #office :\x01"
         "VERSION\x01");
    feed(":xa!u@h PRIVMSG #elsewhere :not here");
    feed(":xa!u@h PRIVMSG bridge :private");
    feed(":Bridge!~parlox@h PRIVMSG #office :an echo of our own");
    feed(":xa!u@h NOTICE #office :a notice");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, IrcEvent::Kind::Line);
    EXPECT_EQ(events[0].nick, "xa");
    EXPECT_EQ(events[0].text, "hello there");
    EXPECT_EQ(events[1].kind, IrcEvent::Kind::Action);
    EXPECT_EQ(events[1].text, "waves");
}

TEST_F(IrcSessionTest, ComingsAndGoingsAndAKickWithItsRejoin) {
    registerAndJoin();
    feed(":yb!u@h JOIN #office");
    feed(":yb!u@h NICK :zc");
    feed(":zc!u@h PART #office :bye");
    feed(":wd!u@h QUIT :gone");
    feed(":op!u@h KICK #office vv :out");
    std::vector<IrcEvent::Kind> kinds;
    for (const IrcEvent& event : events)
        kinds.push_back(event.kind);
    EXPECT_EQ(kinds, (std::vector<IrcEvent::Kind>{IrcEvent::Kind::Entry, IrcEvent::Kind::Renamed,
                                                  IrcEvent::Kind::Exit, IrcEvent::Kind::Exit,
                                                  IrcEvent::Kind::Exit}));
    EXPECT_EQ(events[1].text, "zc");
    EXPECT_EQ(events[4].nick, "vv");

    feed(":op!u@h KICK #office bridge :out you go");
    EXPECT_FALSE(session.joined());
    EXPECT_EQ(events.back().kind, IrcEvent::Kind::Problem);
    std::vector<std::string> due;
    session.tick(T0 + IrcSession::REJOIN_WAIT - 1s, due);
    EXPECT_TRUE(due.empty());
    session.tick(T0 + IrcSession::REJOIN_WAIT, due);
    EXPECT_EQ(due, std::vector<std::string>{"JOIN #office"});
    // Refused (banned, say): tried again a while later, not at once.
    due.clear();
    feed(":srv 474 bridge #office :Cannot join channel (+b)", T0 + 20s);
    session.tick(T0 + 21s, due);
    EXPECT_TRUE(due.empty());
    session.tick(T0 + 20s + IrcSession::REJOIN_WAIT, due);
    EXPECT_EQ(due, std::vector<std::string>{"JOIN #office"});
}

TEST_F(IrcSessionTest, ANewConnectionStartsAfresh) {
    registerAndJoin();
    feed(":srv 005 bridge NICKLEN=30 :are supported");
    session.start();
    EXPECT_FALSE(session.joined());
    EXPECT_EQ(feed(":srv 432 * bridge :Erroneous nickname"),
              std::vector<std::string>{"NICK bridge_"});
}

class RoomSessionTest : public testing::Test {
protected:
    void feed(MessageKind kind, int64_t id, std::string field, Clock::time_point now = T0) {
        fields.push_back(std::move(field));
        session.receive(Message{kind, id, fields.back()}, now, events);
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> all;
        for (const RoomEvent& event : events)
            all.push_back(event.name + "|" + event.text);
        return all;
    }

    RoomSession session{"bridge"};
    std::vector<RoomEvent> events;
    std::deque<std::string> fields; // the messages' fields live as long as the test
};

TEST_F(RoomSessionTest, TheAnswerToTheLoginIsNoEntryAndTheBridgesOwnLinesStayHome) {
    EXPECT_EQ(session.start(T0), "login\nbridge\n");
    feed(MessageKind::Login, HOST_ID, "Host");
    feed(MessageKind::Login, 0, "Ann");
    feed(MessageKind::Login, 3, "bridge");
    feed(MessageKind::Login, 5, "Bob");
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(session.ownId(), 3);

    feed(MessageKind::Login, 1, "Cid", T0 + 2s); // somebody comes in
    EXPECT_EQ(session.say("<xa> hello"), "msg\n<xa> hello\n");
    feed(MessageKind::Msg, 3, "<xa> hello", T0 + 2s);
    feed(MessageKind::Msg, 0, "hi all", T0 + 2s);
    feed(MessageKind::Msg, HOST_ID, "welcome", T0 + 2s);
    feed(MessageKind::Logoff, 5, "", T0 + 3s);
    feed(MessageKind::Logoff, 7, "", T0 + 3s); // nobody: nothing
    feed(MessageKind::Logoff, HOST_ID, "", T0 + 4s);
    EXPECT_EQ(texts(),
              (std::vector<std::string>{"Cid|", "Ann|hi all", "Host|welcome", "Bob|", "Host|"}));
    EXPECT_EQ(events[0].kind, RoomEvent::Kind::Entry);
    EXPECT_EQ(events[3].kind, RoomEvent::Kind::Exit);
    EXPECT_EQ(events[4].kind, RoomEvent::Kind::Ended);
}

TEST_F(RoomSessionTest, TwoNamesThatMayBeTheBridgesAreToldApartByItsFirstLine) {
    session.start(T0);
    feed(MessageKind::Login, HOST_ID, "Host");
    feed(MessageKind::Login, 1, "bridge");     // another bridge, already there
    feed(MessageKind::Login, 4, "bridge (2)"); // this one
    EXPECT_EQ(session.ownId(), INT64_MIN);
    session.say("<xa> one");
    // The other bridge says the same words first: not taken for an echo of ours.
    feed(MessageKind::Msg, 0, "<xa> one", T0 + 1s);
    feed(MessageKind::Msg, 4, "<xa> one", T0 + 1s);
    EXPECT_EQ(session.ownId(), 4);
    feed(MessageKind::Msg, 1, "<yb> two", T0 + 1s);
    EXPECT_EQ(texts(), (std::vector<std::string>{"|<xa> one", "bridge|<yb> two"}));
}

TEST_F(RoomSessionTest, LinesAreCutToWhatEveryClientShowsWhole) {
    session.start(T0);
    const std::string said = session.say(std::string(MAX_LINE_TEXT - 1, 'a') + "\xC3\xA9");
    EXPECT_EQ(said, "msg\n" + std::string(MAX_LINE_TEXT - 1, 'a') + "\n");
    EXPECT_EQ(session.say(""), "");
}

} // namespace
