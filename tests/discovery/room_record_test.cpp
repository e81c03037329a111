// Untrusted announcements becoming rooms, and rooms becoming the Rooms menu's items, kept current.
#include "commands/room_discovery.h"
#include "commands/room_menu_items.h"
#include "commands/rooms_menu_feed.h"
#include "discovery/room_list.h"
#include "discovery/room_record.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

const std::array<uint8_t, 4> LAN = {192, 168, 1, 20};

struct RecordCase {
    const char* name;
    RoomRecord record;
    std::optional<FoundRoom> expected;
};

void PrintTo(const RecordCase& row, std::ostream* out) {
    *out << row.name;
}

RoomRecord Record(std::string name, std::vector<std::string> txt, uint16_t srvPort = 34835) {
    return {std::move(name), LAN, srvPort, std::move(txt)};
}

FoundRoom Expect(std::string name, uint16_t port = 5000, int people = 2) {
    return {std::move(name), "192.168.1.20", port, people};
}

const std::string LONG_VALUE(64 * 1024, 'x');

const RecordCase RECORDS[] = {
    {"WellFormed", Record("Ann's room", {"port=5000", "users=2", "v=1"}), Expect("Ann's room")},
    {"KeysIgnoreCaseAndFirstCounts", Record("A", {"PORT=5000", "Users=2", "port=7", "users=9"}),
     Expect("A")},
    {"NoPortTakesTheSrvPortSwappedBack", Record("A", {"users=2"}, 34835), Expect("A")},
    {"PortNotANumber", Record("A", {"port=50a0", "users=2"}, 34835), Expect("A")},
    {"PortZero", Record("A", {"port=0", "users=2"}, 34835), Expect("A")},
    {"PortTooLarge", Record("A", {"port=65536", "users=2"}, 34835), Expect("A")},
    {"PortSigned", Record("A", {"port=+5000", "users=2"}, 34835), Expect("A")},
    {"PortBareKey", Record("A", {"port", "users=2"}, 34835), Expect("A")},
    {"PortHugeValue", Record("A", {"port=" + LONG_VALUE, "users=2"}, 34835), Expect("A")},
    {"NoUsablePortAtAll", Record("A", {"port=x"}, 0), std::nullopt},
    {"UsersMissing", Record("A", {"port=5000"}), Expect("A", 5000, 0)},
    {"UsersZero", Record("A", {"port=5000", "users=0"}), Expect("A", 5000, 0)},
    {"UsersAboveARoom", Record("A", {"port=5000", "users=34"}), Expect("A", 5000, 0)},
    {"UsersNegative", Record("A", {"port=5000", "users=-3"}), Expect("A", 5000, 0)},
    {"FullRoom", Record("A", {"port=5000", "users=33"}), Expect("A", 5000, 33)},
    {"NoAddress", {"A", std::nullopt, 34835, {"port=5000"}}, std::nullopt},
    {"EmptyName", Record("", {"port=5000", "users=2"}), std::nullopt},
    {"ControlCharactersReplaced", Record("a\nb\tc\x1b[31m\x7f", {"port=5000", "users=2"}),
     Expect("a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD"
            "c\xEF\xBF\xBD[31m\xEF\xBF\xBD")},
    {"InvalidUtf8Replaced", Record("\xC3(\xE2\x82 \xF8\xC0\xAF", {"port=5000", "users=2"}),
     Expect("\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD")},
    {"C1AndBidiOverrideReplaced",
     Record("a\xC2\x85\xE2\x80\xAE"
            "b",
            {"port=5000", "users=2"}),
     Expect("a\xEF\xBF\xBD\xEF\xBF\xBD"
            "b")},
    {"FrameMarkerObjectAndDirectionalMarkReplaced",
     Record("a\xEF\xB7\x90"
            "b\xEF\xBF\xBC"
            "c\xE2\x80\x8F",
            {"port=5000", "users=2"}),
     Expect("a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD"
            "c\xEF\xBF\xBD")},
    {"NulInsideReplaced", Record(std::string("a\0b", 3), {"port=5000", "users=2"}),
     Expect("a\xEF\xBF\xBD"
            "b")},
    {"LongNameCutTo64Characters", Record(std::string(100, 'n'), {"port=5000", "users=2"}),
     Expect(std::string(64, 'n'))},
    {"HugeMultibyteNameCutTo64Characters",
     Record(
         [] {
             std::string euros;
             for (int i = 0; i < 20000; ++i)
                 euros += "\xE2\x82\xAC";
             return euros;
         }(),
         {"port=5000", "users=2"}),
     Expect([] {
         std::string euros;
         for (int i = 0; i < 64; ++i)
             euros += "\xE2\x82\xAC";
         return euros;
     }())},
};

class RecordToRoom : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordToRoom, Maps) {
    const RecordCase& row = GetParam();
    const std::optional<FoundRoom> room = RoomFromRecord(row.record);
    ASSERT_EQ(room.has_value(), row.expected.has_value());
    if (!room)
        return;
    EXPECT_EQ(room->name, row.expected->name);
    EXPECT_EQ(room->address, row.expected->address);
    EXPECT_EQ(room->port, row.expected->port);
    EXPECT_EQ(room->people, row.expected->people);
}

INSTANTIATE_TEST_SUITE_P(Announcements, RecordToRoom, ::testing::ValuesIn(RECORDS),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(RoomList, KeepsAtMostItsLimitAndReplacesByKey) {
    RoomList list;
    int notices = 0;
    list.setObserver([&] { ++notices; });
    for (size_t i = 0; i < RoomList::ROOM_LIMIT + 500; ++i)
        list.put("room" + std::to_string(i), Expect("r"));
    EXPECT_EQ(list.snapshot().rooms.size(), RoomList::ROOM_LIMIT);
    list.put("room0", Expect("renamed"));
    list.remove("room1");
    list.put("one more", Expect("late")); // room1's place is free again
    const RoomList::Snapshot snapshot = list.snapshot();
    EXPECT_EQ(snapshot.rooms.size(), RoomList::ROOM_LIMIT);
    EXPECT_EQ(
        std::count_if(snapshot.rooms.begin(), snapshot.rooms.end(),
                      [](const FoundRoom& r) { return r.name == "renamed" || r.name == "late"; }),
        2);
    EXPECT_EQ(notices, static_cast<int>(RoomList::ROOM_LIMIT) + 3);

    list.setUnavailable("gone");
    EXPECT_EQ(list.snapshot().unavailable, "gone");
    EXPECT_TRUE(list.snapshot().rooms.empty());
    list.setAvailable();
    EXPECT_EQ(list.snapshot().unavailable, "");
}

std::vector<std::string> Texts(const std::vector<RoomMenuItem>& items) {
    std::vector<std::string> texts;
    for (const RoomMenuItem& item : items)
        texts.push_back(item.text + (item.enabled ? "" : " (disabled)"));
    return texts;
}

TEST(RoomMenuItems, SortedByNameWithAddressPortAndPeople) {
    RoomList::Snapshot snapshot{"",
                                {{"bob", "10.0.0.2", 6000, 1},
                                 {"Zed & co", "10.0.0.3", 7, 0},
                                 {"Ann", "10.0.0.9", 5000, 3},
                                 {"ann", "10.0.0.1", 5000, 33}}};
    const std::vector<RoomMenuItem> items = RoomMenuItems(snapshot);
    EXPECT_EQ(Texts(items), (std::vector<std::string>{
                                "Ann \u2014 10.0.0.9, port 5000, 3 people",
                                "ann \u2014 10.0.0.1, port 5000, 33 people",
                                "bob \u2014 10.0.0.2, port 6000, 1 person",
                                "Zed & co \u2014 10.0.0.3, port 7",
                            }));
    EXPECT_EQ(items[2].address, "10.0.0.2");
    EXPECT_EQ(items[2].port, 6000);
}

TEST(RoomMenuItems, EmptyUnavailableAndCutAtFifty) {
    EXPECT_EQ(Texts(RoomMenuItems({})),
              (std::vector<std::string>{"No rooms found on this network (disabled)"}));
    EXPECT_EQ(Texts(RoomMenuItems({"Finding rooms needs the Avahi service (avahi-daemon)",
                                   {{"a", "10.0.0.1", 1, 1}}})),
              (std::vector<std::string>{
                  "Finding rooms needs the Avahi service (avahi-daemon) (disabled)"}));

    RoomList::Snapshot many;
    for (int i = 999; i >= 0; --i) {
        char name[8];
        std::snprintf(name, sizeof name, "r%03d", i);
        many.rooms.push_back({name, "10.0.0.1", 5000, 1});
    }
    const std::vector<RoomMenuItem> items = RoomMenuItems(many);
    ASSERT_EQ(items.size(), ROOM_MENU_LIMIT + 1);
    EXPECT_EQ(items.front().text, "r000 \u2014 10.0.0.1, port 5000, 1 person");
    EXPECT_EQ(items[ROOM_MENU_LIMIT - 1].text, "r049 \u2014 10.0.0.1, port 5000, 1 person");
    EXPECT_EQ(items.back().text, "\u2026 and 950 more");
    EXPECT_FALSE(items.back().enabled);
}

// A window's call that only counts what is asked of it.
struct CountedCall : WindowCall {
    std::atomic<int> requests{0};
    bool detached = false;
    void request() override { ++requests; }
    void taken() override {}
    void detach() override { detached = true; }
};

TEST(RoomsMenuFeed, FollowsFoundRoomsWhileItExists) {
    auto call = std::make_shared<CountedCall>();
    {
        RoomsMenuFeed feed(call);
        ASSERT_TRUE(feed.refresh());
        EXPECT_EQ(Texts(feed.items()),
                  (std::vector<std::string>{"No rooms found on this network (disabled)"}));
        EXPECT_FALSE(feed.refresh()); // nothing changed: nothing to show again
        FoundRooms.put("a", {"R&D", "10.0.0.7", 6000, 2});
        EXPECT_EQ(call->requests, 1);
        ASSERT_TRUE(feed.refresh());
        EXPECT_EQ(MenuEntryText(feed.items().at(0)), "R&&D \u2014 10.0.0.7, port 6000, 2 people");
    }
    EXPECT_TRUE(call->detached);
    FoundRooms.remove("a");
    EXPECT_EQ(call->requests, 1); // the feed is no observer any more
}

TEST(RoomInstanceName, TheNameFieldOrTheMachine) {
    EXPECT_EQ(RoomInstanceName("Ann", "box"), "Ann");
    EXPECT_EQ(RoomInstanceName("", "box"), "Parlox room on box");
    EXPECT_EQ(RoomInstanceName("<name>", "box"), "Parlox room on box");
    // 62 letters and a two-byte letter: cut before the letter rather than through it.
    EXPECT_EQ(RoomInstanceName(std::string(62, 'a') + "\xC3\xBC" + "b", "box"),
              std::string(62, 'a'));
    EXPECT_EQ(RoomInstanceName("", std::string(80, 'm')).size(), 63u);
}

} // namespace
