// Announcing and finding rooms through a real Avahi daemon, checked from outside with the Avahi
// tools: avahi-browse sees the hosted room, avahi-publish's room reaches the list, and both
// survive the daemon's restart. The daemon, its bus and its network namespace are the test's own;
// without root or the tools the tests say why and are skipped, unless PARLOX_REQUIRE_NETNS is set
// (as CI does), which makes that a failure.
#include "commands/commands.h"
#include "commands/room_discovery.h"
#include "discovery/avahi/avahi_discovery.h"
#include "discovery/discovery.h"
#include "tests/support/chat_state.h"
#include "tests/support/loopback.h"
#include "tests/support/private_avahi.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int WAIT_MS = 20000;

// The hosted room as avahi-browse reports it, if it does.
std::optional<std::vector<std::string>> Browsed(const std::string& name) {
    for (std::vector<std::string>& service : PrivateAvahi::browse("_parlox._tcp"))
        if (service.size() == 10 && service[3] == name)
            return service;
    return std::nullopt;
}

// Everything avahi-browse sees, for failure messages.
std::string Seen() {
    std::string seen;
    for (const std::vector<std::string>& service : PrivateAvahi::browse("_parlox._tcp")) {
        for (const std::string& field : service)
            seen += field + ";";
        seen += "\n";
    }
    return seen.empty() ? "nothing" : seen;
}

bool Announces(const std::string& name, const std::string& port, const std::string& txt) {
    const auto service = Browsed(name);
    return service && (*service)[8] == port && (*service)[9] == txt;
}

std::optional<FoundRoom> Listed(const std::string& name, const RoomList& list = FoundRooms) {
    for (const FoundRoom& room : list.snapshot().rooms)
        if (room.name == name)
            return room;
    return std::nullopt;
}

class AvahiEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { avahi = std::make_unique<PrivateAvahi>(); }
    static void TearDownTestSuite() { avahi.reset(); }

    void SetUp() override {
        if (!avahi->ready()) {
            if (std::getenv("PARLOX_REQUIRE_NETNS") != nullptr)
                FAIL() << "PARLOX_REQUIRE_NETNS is set, but " << avahi->why;
            GTEST_SKIP() << avahi->why;
        }
        ResetChatState();
        StartRoomDiscovery();
    }
    void TearDown() override {
        CloseCommand();
        StopRoomDiscovery();
        ResetChatState();
    }

    // The TXT strings as avahi-browse prints them: the last one on the wire first.
    std::string txt(int people) const {
        return "\"v=1\" \"users=" + std::to_string(people) +
               "\" \"port=" + std::to_string(port.programPort()) + "\"";
    }
    void host(const std::string& name) {
        HostCommand({name, "", std::to_string(port.programPort())});
    }

    static std::unique_ptr<PrivateAvahi> avahi;
    const ReservedPort port;
    const std::string tcpPort = std::to_string(port.tcpPort);
};

std::unique_ptr<PrivateAvahi> AvahiEndToEnd::avahi;

TEST_F(AvahiEndToEnd, HostedRoomIsAnnouncedFollowsItsPeopleAndIsWithdrawn) {
    // Another program on the machine finds the room, and sees its head count change.
    RoomList elsewhere;
    const std::unique_ptr<Discovery> other = CreateDiscovery(elsewhere);
    const auto people = [&](int count) {
        const auto room = Listed("Ann", elsewhere);
        return room && room->address == PrivateAvahi::ADDRESS && room->port == port.programPort() &&
               room->people == count;
    };
    host("Ann");
    ASSERT_TRUE(WaitFor([&] { return Announces("Ann", tcpPort, txt(1)); }, WAIT_MS)) << Seen();
    EXPECT_TRUE(WaitFor([&] { return people(1); }, WAIT_MS));
    {
        RawPeer bob = RawPeer::connectTo(port.tcpPort);
        bob.send("login\nBob\n");
        EXPECT_TRUE(WaitFor([&] { return Announces("Ann", tcpPort, txt(2)); }, WAIT_MS)) << Seen();
        EXPECT_TRUE(WaitFor([&] { return people(2); }, WAIT_MS));
    }
    EXPECT_TRUE(WaitFor([&] { return Announces("Ann", tcpPort, txt(1)); }, WAIT_MS));
    // The window's own room is not among the rooms it found.
    EXPECT_FALSE(Listed("Ann").has_value());

    // Hosting again replaces the announcement; the empty name stands for the machine.
    host("<name>");
    EXPECT_TRUE(WaitFor([&] { return !Browsed("Ann"); }, WAIT_MS));
    const std::string machine = LookupSocket.localHostName();
    EXPECT_TRUE(WaitFor(
        [&] { return Browsed("Parlox\\032room\\032on\\032" + machine).has_value(); }, WAIT_MS));
    CloseCommand();
    EXPECT_TRUE(WaitFor([&] { return PrivateAvahi::browse("_parlox._tcp").empty(); }, WAIT_MS));
    EXPECT_TRUE(WaitFor([&] { return elsewhere.snapshot().rooms.empty(); }, WAIT_MS));
}

TEST_F(AvahiEndToEnd, PublishedRoomIsListedUntilItsPublisherEnds) {
    ChildProcess publisher({"avahi-publish", "-s", "Other room", "_parlox._tcp", "34835",
                            "port=5000", "users=3", "v=1"});
    ASSERT_TRUE(WaitFor([] { return Listed("Other room").has_value(); }, WAIT_MS));
    const FoundRoom room = *Listed("Other room");
    EXPECT_EQ(room.address, PrivateAvahi::ADDRESS);
    EXPECT_EQ(room.port, 5000);
    EXPECT_EQ(room.people, 3);
    publisher.stop();
    EXPECT_TRUE(WaitFor([] { return !Listed("Other room").has_value(); }, WAIT_MS));
}

TEST_F(AvahiEndToEnd, DaemonRestartMidRunIsShownAndBothSidesResume) {
    host("Ann");
    ASSERT_TRUE(WaitFor([&] { return Announces("Ann", tcpPort, txt(1)); }, WAIT_MS)) << Seen();
    avahi->stopDaemon();
    EXPECT_TRUE(WaitFor(
        [] { return FoundRooms.snapshot().unavailable == AvahiDiscovery::UNAVAILABLE; }, WAIT_MS));
    // The room itself goes on meanwhile.
    RawPeer bob = RawPeer::connectTo(port.tcpPort);
    bob.send("login\nBob\n");
    EXPECT_TRUE(bob.readUntil("login\n-1\nAnn\n"));

    ASSERT_TRUE(avahi->startDaemon()) << avahi->why;
    EXPECT_TRUE(WaitFor([] { return FoundRooms.snapshot().unavailable.empty(); }, WAIT_MS));
    EXPECT_TRUE(WaitFor([&] { return Announces("Ann", tcpPort, txt(2)); }, WAIT_MS)) << Seen();
    ChildProcess publisher({"avahi-publish", "-s", "After", "_parlox._tcp", "34835"});
    const auto listed = [] {
        const auto room = Listed("After");
        return room && room->port == 5000 && room->people == 0;
    };
    EXPECT_TRUE(WaitFor(listed, WAIT_MS));
}

} // namespace
