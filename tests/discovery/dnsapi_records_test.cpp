// What dnsapi.dll's resolver hands over, copied into a RoomRecord, and the escaping of instance
// names in full service names.
#include "discovery/dnsapi/dnsapi_discovery.h"
#include "discovery/dnsapi/dnsapi_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(DnsApiRecords, NameIpv4AddressPortAndProperties) {
    wchar_t name[] = L"Ann's r\\.oom._parlox._tcp.local";
    IP4_ADDRESS address = 0;
    const unsigned char bytes[4] = {192, 168, 1, 20}; // network byte order
    std::memcpy(&address, bytes, sizeof address);
    wchar_t portKey[] = L"port", portValue[] = L"5000", usersKey[] = L"users", flagKey[] = L"x";
    wchar_t euroValue[] = L"\u20ac";
    PWSTR keys[] = {portKey, usersKey, flagKey};
    PWSTR values[] = {portValue, euroValue, nullptr};
    DNS_SERVICE_INSTANCE instance{};
    instance.pszInstanceName = name;
    instance.ip4Address = &address;
    instance.wPort = 34835;
    instance.dwPropertyCount = 3;
    instance.keys = keys;
    instance.values = values;

    const RoomRecord record = RecordFromServiceInstance(instance);
    EXPECT_EQ(record.name, "Ann's r.oom");
    ASSERT_TRUE(record.ipv4.has_value());
    EXPECT_EQ(*record.ipv4, (std::array<uint8_t, 4>{192, 168, 1, 20}));
    EXPECT_EQ(record.srvPort, 34835);
    EXPECT_EQ(record.txt, (std::vector<std::string>{"port=5000", "users=\xE2\x82\xAC", "x"}));

    instance.ip4Address = nullptr;
    EXPECT_FALSE(RecordFromServiceInstance(instance).ipv4.has_value());
}

TEST(DnsApiRecords, InstanceNamesEscapedAndUndone) {
    EXPECT_EQ(ServiceNameOfInstance("Ann's room"), L"Ann's room._parlox._tcp.local");
    EXPECT_EQ(ServiceNameOfInstance("a.b\\c"), L"a\\.b\\\\c._parlox._tcp.local");
    EXPECT_EQ(InstanceOfServiceName(ServiceNameOfInstance("a.b\\c \xE2\x82\xAC")),
              "a.b\\c \xE2\x82\xAC");
    EXPECT_EQ(InstanceOfServiceName(L"FoundRoom\\032one._PARLOX._tcp.local"), "FoundRoom one");
    EXPECT_EQ(InstanceOfServiceName(L"trailing\\"), "trailing\\");
}

// Where dnsapi.dll lacks the DNS-SD functions (Windows before 10 version 1903, Wine), the list
// says why and announcing does nothing.
TEST(DnsApiDiscovery, WithoutTheSystemFunctionsSaysWhy) {
    const HMODULE library = ::LoadLibraryW(L"dnsapi.dll");
    if (library != nullptr && ::GetProcAddress(library, "DnsServiceBrowse") != nullptr)
        GTEST_SKIP() << "this system has the DNS-SD functions";
    RoomList found;
    {
        const std::unique_ptr<Discovery> discovery = CreateDiscovery(found);
        discovery->announce({"Ann", 34835, 5000, 1});
        discovery->setPeople(2);
        discovery->withdraw();
    }
    EXPECT_EQ(found.snapshot().unavailable, DnsApiDiscovery::UNAVAILABLE);
}

} // namespace
