// IsDottedQuad: fields cut like strtok at dots and read like atoi.
#include "net/tcp_socket.h"

#include <gtest/gtest.h>

namespace {

struct QuadCase {
    const char* name;
    std::string text;
    bool dotted;
};

class IsDottedQuadTest : public ::testing::TestWithParam<QuadCase> {};

} // namespace

TEST_P(IsDottedQuadTest, Decides) {
    EXPECT_EQ(IsDottedQuad(GetParam().text), GetParam().dotted);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, IsDottedQuadTest,
    ::testing::Values(
        QuadCase{"Loopback", "127.0.0.1", true}, QuadCase{"Broadcast", "255.255.255.255", true},
        QuadCase{"TwoFields", "10.1", true}, QuadCase{"Empty", "", true},
        QuadCase{"OnlyDots", "...", true}, QuadCase{"Letters", "abc", true},
        QuadCase{"LetterFields", "ab.cd.ef", true},
        QuadCase{"DoubleDotIsOneSeparator", "1.2..3", true},
        QuadCase{"OuterDotsMakeNoField", ".1.2.3.4.", true},
        QuadCase{"DigitsThenLetter", "25a.0", true},
        QuadCase{"LeadingBlankAndSign", " 12.+99.-0", true},
        QuadCase{"StopsAtZeroByte", std::string("1.2.3.4\0.5", 10), true},
        QuadCase{"LongField", "localhost", false}, QuadCase{"FourDigits", "1.2.3.1000", false},
        QuadCase{"FifthField", "1.2.3.4.5", false}, QuadCase{"Above255", "256.0.0.1", false},
        QuadCase{"Negative", "-1.0.0.0", false}),
    [](const auto& row) { return std::string(row.param.name); });
