// ReadId: id fields are read like atoi, and a huge id saturates instead of wrapping.
#include "wire/protocol.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

struct IdCase {
    const char* name;
    std::string_view token;
    int64_t expected;
};

constexpr int64_t MAX = std::numeric_limits<int64_t>::max();
constexpr int64_t MIN = std::numeric_limits<int64_t>::min();

const IdCase ID_CASES[] = {
    {"Plain", "31", 31},
    {"LeadingZeros", "007", 7},
    {"NotANumber", "x", 0},
    {"Host", "-1", -1},
    {"TrailingBytesIgnored", "12ab", 12},
    {"PlusSign", "+5", 5},
    {"LeadingWhiteSpace", " \t\r\v\f\n9", 9},
    {"BlankAfterSign", "- 1", 0},
    {"SignAlone", "-", 0},
    {"Empty", "", 0},
    {"Largest", "9223372036854775807", MAX},
    {"Smallest", "-9223372036854775808", MIN},
    {"JustPastLargest", "9223372036854775808", MAX},
    {"Huge", "99999999999999999999999", MAX},
    {"HugeNegative", "-99999999999999999999999", MIN},
};

class ReadIdTest : public testing::TestWithParam<IdCase> {};

TEST_P(ReadIdTest, ReadsLikeAtoi) {
    EXPECT_EQ(ReadId(GetParam().token), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Ids, ReadIdTest, testing::ValuesIn(ID_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
