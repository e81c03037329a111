// What Avahi's resolver hands over, copied into a RoomRecord, and what a room record reads of it.
#include "discovery/avahi/avahi_records.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

// The strings of a TXT record as a resolver hands them over: the record's bytes parsed by Avahi's
// own parser, as the daemon parses what it receives, then taken one by one into a new list, as
// the client library takes them from the daemon's message.
AvahiStringList* ResolvedTxt(const std::vector<std::string>& strings) {
    std::string rdata;
    for (const std::string& text : strings)
        rdata += static_cast<char>(text.size()) + text;
    AvahiStringList* daemon = nullptr;
    EXPECT_EQ(avahi_string_list_parse(rdata.data(), rdata.size(), &daemon), 0);
    AvahiStringList* client = nullptr;
    for (AvahiStringList* entry = daemon; entry != nullptr; entry = entry->next)
        client = avahi_string_list_add_arbitrary(client, entry->text, entry->size);
    avahi_string_list_free(daemon);
    return client;
}

TEST(AvahiRecords, NameIpv4AddressPortAndTxtInTheRecordsOrder) {
    AvahiAddress address{};
    ASSERT_NE(avahi_address_parse("192.168.1.20", AVAHI_PROTO_INET, &address), nullptr);
    // A TXT string may hold any bytes, NUL included.
    const std::vector<std::string> strings = {"port=5000", "users=2", "v=1",
                                              std::string("k=\0\xff", 4)};
    AvahiStringList* txt = ResolvedTxt(strings);
    const RoomRecord record = RecordFromAvahi("Ann's room", &address, 34835, txt);
    avahi_string_list_free(txt);

    EXPECT_EQ(record.name, "Ann's room");
    ASSERT_TRUE(record.ipv4.has_value());
    EXPECT_EQ(*record.ipv4, (std::array<uint8_t, 4>{192, 168, 1, 20}));
    EXPECT_EQ(record.srvPort, 34835);
    EXPECT_EQ(record.txt, strings);
}

// RFC 6763, section 6.4: of a key that a record repeats, the first copy counts.
TEST(AvahiRecords, RepeatedKeyReadsItsFirstCopy) {
    AvahiAddress address{};
    ASSERT_NE(avahi_address_parse("192.168.1.20", AVAHI_PROTO_INET, &address), nullptr);
    AvahiStringList* txt = ResolvedTxt({"port=5000", "users=2", "port=6000", "users=9"});
    const std::optional<FoundRoom> room = RoomFromRecord(RecordFromAvahi("R", &address, 1, txt));
    avahi_string_list_free(txt);
    ASSERT_TRUE(room.has_value());
    EXPECT_EQ(room->port, 5000);
    EXPECT_EQ(room->people, 2);
}

TEST(AvahiRecords, Ipv6AddressNoAddressAndTooManyStrings) {
    AvahiAddress address{};
    ASSERT_NE(avahi_address_parse("fe80::1", AVAHI_PROTO_INET6, &address), nullptr);
    EXPECT_FALSE(RecordFromAvahi("a", &address, 1, nullptr).ipv4.has_value());
    EXPECT_FALSE(RecordFromAvahi(nullptr, nullptr, 1, nullptr).ipv4.has_value());

    std::vector<std::string> strings;
    for (int i = 0; i < 1000; ++i)
        strings.push_back("k" + std::to_string(i) + "=v");
    AvahiStringList* txt = ResolvedTxt(strings);
    const RoomRecord record = RecordFromAvahi("a", nullptr, 1, txt);
    avahi_string_list_free(txt);
    ASSERT_EQ(record.txt.size(), TXT_STRING_LIMIT);
    EXPECT_EQ(record.txt.front(), "k0=v"); // the first ones are kept
    EXPECT_EQ(record.txt.back(), "k63=v");
}

} // namespace
