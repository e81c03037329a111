// The lookups both platforms share: names and dotted addresses, the lookup with a time limit, the
// host's own name and its list of addresses.
#include "net/tcp_socket.h"
#include "tests/support/raw_socket.h"

#include <gtest/gtest.h>

#include <string>

TEST(Lookups, AnswerWithoutNetwork) {
    EXPECT_EQ(LookupSocket.resolveHost("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(LookupSocket.resolveHost("localhost"), "127.0.0.1");
    std::string dotted;
    EXPECT_TRUE(LookupSocket.resolveHostWithin("localhost", 5000, dotted));
    EXPECT_EQ(dotted, "127.0.0.1");
    // No time left: the lookup fails as a connect would, with the time-out text.
    EXPECT_FALSE(LookupSocket.resolveHostWithin("localhost", 0, dotted));
    EXPECT_EQ(dotted, "");
    EXPECT_EQ(LookupSocket.lastError, "WSAETIMEDOUT\nConnection timed out");
    EXPECT_FALSE(LookupSocket.localHostName().empty());

    // Every entry a non-loopback IPv4 address followed by exactly one blank.
    const std::string list = LookupSocket.localAddressList();
    size_t at = 0;
    for (size_t blank; (blank = list.find(' ', at)) != std::string::npos; at = blank + 1) {
        const std::string entry = list.substr(at, blank - at);
        in_addr parsed{};
        EXPECT_EQ(::inet_pton(AF_INET, entry.c_str(), &parsed), 1) << '"' << list << '"';
        EXPECT_NE(entry.rfind("127.", 0), 0u) << list;
    }
    EXPECT_EQ(at, list.size()) << '"' << list << '"';
}
