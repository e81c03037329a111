// The field-reading rules: the Port text as an unsigned number, Name and IP cut to 99 bytes.
#include "commands/connection_fields.h"

#include "chat/program_state.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PortCase {
    const char* name;
    const char* text;
    uint16_t port;
};

class PortField : public testing::TestWithParam<PortCase> {};

TEST_P(PortField, Reads) {
    EXPECT_EQ(ReadPortField(GetParam().text), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PortField,
    testing::Values(PortCase{"Default", "5000", 5000}, PortCase{"Zero", "0", 0},
                    PortCase{"Largest", "65535", 65535}, PortCase{"Wraps", "65536", 0},
                    PortCase{"KeepsLow16Bits", "70000", 4464},
                    PortCase{"Largest32Bit", "4294967295", 65535},
                    PortCase{"Above32BitsIsZero", "4294967296", 0},
                    PortCase{"LongRunOfDigitsIsZero", "99999999999999999999999", 0},
                    PortCase{"LeadingZeros", "0000000000000000005000", 5000},
                    PortCase{"LeadingAndTrailingBlanks", " \t 5000 \t", 5000},
                    PortCase{"Empty", "", 0}, PortCase{"OnlyBlanks", "   ", 0},
                    PortCase{"Letters", "port", 0}, PortCase{"TrailingLetters", "5000x", 0},
                    PortCase{"LeadingLetters", "x5000", 0}, PortCase{"InnerBlank", "50 00", 0},
                    PortCase{"Sign", "+5000", 0}, PortCase{"Negative", "-1", 0},
                    PortCase{"Hex", "0x1388", 0}),
    [](const testing::TestParamInfo<PortCase>& row) { return std::string(row.param.name); });

struct FieldCase {
    const char* name;
    std::string text;
    std::string kept;
};

class NameAndAddressFields : public testing::TestWithParam<FieldCase> {};

TEST_P(NameAndAddressFields, AreCutTo99Bytes) {
    std::lock_guard<CheckedMutex> guard(ChatLock);
    ReadConnectionFields({GetParam().text, GetParam().text, "70000"});
    EXPECT_EQ(LocalName, GetParam().kept);
    EXPECT_EQ(TargetAddress, GetParam().kept);
    EXPECT_EQ(PortNumber, 4464);
}

// "é" is two bytes, "€" three: 49 "é" make 98 bytes, so the 99th byte would split the next one.
INSTANTIATE_TEST_SUITE_P(
    Texts, NameAndAddressFields,
    testing::Values(FieldCase{"Empty", "", ""}, FieldCase{"Default", "<name>", "<name>"},
                    FieldCase{"Exactly99", std::string(99, 'a'), std::string(99, 'a')},
                    FieldCase{"Over99", std::string(150, 'a'), std::string(99, 'a')},
                    FieldCase{"TwoByteCharAtTheLimit",
                              [] {
                                  std::string s;
                                  for (int i = 0; i < 50; ++i)
                                      s += "\xC3\xA9";
                                  return s;
                              }(),
                              [] {
                                  std::string s;
                                  for (int i = 0; i < 49; ++i)
                                      s += "\xC3\xA9";
                                  return s;
                              }()},
                    FieldCase{"ThreeByteCharAcrossTheLimit", std::string(97, 'a') + "\xE2\x82\xAC",
                              std::string(97, 'a')}),
    [](const testing::TestParamInfo<FieldCase>& row) { return std::string(row.param.name); });

} // namespace
