// What Avahi's resolver hands over, copied into a RoomRecord.
#include "discovery/avahi/avahi_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(AvahiRecords, NameIpv4AddressPortAndTxtInOrder) {
    AvahiAddress address{};
    ASSERT_NE(avahi_address_parse("192.168.1.20", AVAHI_PROTO_INET, &address), nullptr);
    AvahiStringList* txt = avahi_string_list_new("port=5000", "users=2", "v=1", nullptr);
    // A TXT string may hold any bytes, NUL included.
    txt = avahi_string_list_add_arbitrary(txt, reinterpret_cast<const uint8_t*>("k=\0\xff"), 4);
    const RoomRecord record = RecordFromAvahi("Ann's room", &address, 34835, txt);
    avahi_string_list_free(txt);

    EXPECT_EQ(record.name, "Ann's room");
    ASSERT_TRUE(record.ipv4.has_value());
    EXPECT_EQ(*record.ipv4, (std::array<uint8_t, 4>{192, 168, 1, 20}));
    EXPECT_EQ(record.srvPort, 34835);
    // In the order the strings were added, which is the record's.
    EXPECT_EQ(record.txt, (std::vector<std::string>{"port=5000", "users=2", "v=1",
                                                    std::string("k=\0\xff", 4)}));
}

TEST(AvahiRecords, Ipv6AddressNoAddressAndTooManyStrings) {
    AvahiAddress address{};
    ASSERT_NE(avahi_address_parse("fe80::1", AVAHI_PROTO_INET6, &address), nullptr);
    EXPECT_FALSE(RecordFromAvahi("a", &address, 1, nullptr).ipv4.has_value());
    EXPECT_FALSE(RecordFromAvahi(nullptr, nullptr, 1, nullptr).ipv4.has_value());

    AvahiStringList* txt = nullptr;
    for (int i = 0; i < 1000; ++i)
        txt = avahi_string_list_add(txt, ("k" + std::to_string(i) + "=v").c_str());
    const RoomRecord record = RecordFromAvahi("a", nullptr, 1, txt);
    ASSERT_EQ(record.txt.size(), TXT_STRING_LIMIT);
    EXPECT_EQ(record.txt.front(), "k0=v"); // the first ones are kept
    avahi_string_list_free(txt);
}

} // namespace
