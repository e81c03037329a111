// FormatInto and CutToCharBoundary: an overlong message keeps its ending, loses the end of its
// last text between characters, and never writes past the buffer. ShownText: a received text
// shows on one line. UniqueName: a newcomer never goes by a name already in the room.
#include "chat/unique_name.h"
#include "text/shown_text.h"
#include "wire/formatting.h"
#include "wire/protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// A SEND_BUFFER_SIZE buffer with a guard byte behind it.
struct GuardedBuffer {
    GuardedBuffer() { std::memset(bytes, '#', sizeof bytes); }
    ~GuardedBuffer() { EXPECT_EQ(bytes[SEND_BUFFER_SIZE], '#') << "written past the buffer"; }
    std::string text(int length) const {
        EXPECT_EQ(bytes[length], '\0');
        return std::string(bytes, size_t(length));
    }
    char bytes[SEND_BUFFER_SIZE + 1];
};

std::string Repeat(const std::string& piece, size_t times) {
    std::string text;
    while (times-- > 0)
        text += piece;
    return text;
}

const std::string E_ACUTE = "\xC3\xA9";          // two bytes
const std::string EURO = "\xE2\x82\xAC";         // three bytes
const std::string GRINNING = "\xF0\x9F\x98\x80"; // four bytes

TEST(FormatIntoTest, MessageThatFitsIsFormattedWhole) {
    GuardedBuffer buffer;
    const int length = FormatInto(buffer.bytes, ROSTER_ENTRY_FORMAT, 3, "Bob");
    EXPECT_EQ(buffer.text(length), "login\n3\nBob\n");
}

TEST(FormatIntoTest, LongTextIsCutSoTheFinalNewlineFits) {
    GuardedBuffer buffer;
    const std::string text(1023, 'a');
    const int length = FormatInto(buffer.bytes, CLIENT_MSG_FORMAT, text.c_str());
    EXPECT_EQ(length, 1023);
    EXPECT_EQ(buffer.text(length), "msg\n" + std::string(1018, 'a') + "\n");
}

TEST(FormatIntoTest, CutNeverSplitsACharacter) {
    // 1018 bytes are left for the text; each case puts a character across that point.
    const struct {
        std::string text;
        size_t kept;
    } cases[] = {
        {"a" + Repeat(E_ACUTE, 600), 1017}, {"a" + Repeat(EURO, 400), 1018},
        {"aa" + Repeat(EURO, 400), 1016},   {"aaa" + Repeat(GRINNING, 300), 1015},
        {Repeat(E_ACUTE, 600), 1018},
    };
    for (const auto& row : cases) {
        GuardedBuffer buffer;
        const int length = FormatInto(buffer.bytes, CLIENT_MSG_FORMAT, row.text.c_str());
        EXPECT_EQ(buffer.text(length), "msg\n" + row.text.substr(0, row.kept) + "\n");
    }
}

TEST(FormatIntoTest, OnlyTheLastStringIsCutAndTheRestKept) {
    GuardedBuffer buffer;
    const std::string text(1100, 'y');
    int length = FormatInto(buffer.bytes, RELAY_FORMAT, 17, text.c_str());
    EXPECT_EQ(buffer.text(length), "msg\n17\n" + std::string(1015, 'y') + "\n");

    const std::string first(600, 'x');
    length = FormatInto(buffer.bytes, "%s|%s.%d", first.c_str(), text.c_str(), 42);
    EXPECT_EQ(buffer.text(length), first + "|" + std::string(419, 'y') + ".42");

    // "%%s" is a literal, not a conversion: the text before it is the one cut.
    length = FormatInto(buffer.bytes, "%s%%s", text.c_str());
    EXPECT_EQ(buffer.text(length), std::string(1021, 'y') + "%s");
}

TEST(FormatIntoTest, FixedPartAloneTooLongKeepsTheFirstCharacters) {
    GuardedBuffer buffer;
    const std::string name = "a" + Repeat(EURO, 400);
    const int length = FormatInto(buffer.bytes, "%s-%s\n", name.c_str(), "tail");
    EXPECT_EQ(buffer.text(length), name.substr(0, 1021));
}

struct CutCase {
    const char* name;
    std::string text;
    size_t maxBytes;
    std::string expected;
};

const CutCase CUT_CASES[] = {
    {"Fits", "abc", 3, "abc"},
    {"Ascii", "abcdef", 4, "abcd"},
    {"BeforeTwoByteChar", "ab" + E_ACUTE, 3, "ab"},
    {"AfterTwoByteChar", E_ACUTE + "x", 2, E_ACUTE},
    {"InsideThreeByteChar", "a" + EURO, 3, "a"},
    {"InsideFourByteChar", GRINNING + GRINNING, 7, GRINNING},
    {"StrayContinuationBytes", "a\x80\x80\x80\x80", 3, "a\x80\x80"},
    {"InvalidLeadByte", "\xFF\x80\x80", 2, "\xFF\x80"},
    {"Zero", E_ACUTE, 0, ""},
};

class CutTest : public testing::TestWithParam<CutCase> {};

TEST_P(CutTest, KeepsWholeCharacters) {
    EXPECT_EQ(CutToCharBoundary(GetParam().text, GetParam().maxBytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, CutTest, testing::ValuesIn(CUT_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

// What a log or list shows of received bytes: ¶ for every kind of line or paragraph break, the
// replacement character for bidirectional controls, other controls, the characters the toolkits
// take for frames and objects, noncharacters and bytes that are no UTF-8.
const std::string BREAK = "\xC2\xB6";
const std::string HIDDEN = "\xEF\xBF\xBD";

struct ShownCase {
    const char* name;
    std::string text;
    std::string expected;
};

const ShownCase SHOWN_CASES[] = {
    {"PlainTextUnchanged", "hi 100% <Ann>: \t" + E_ACUTE + EURO + GRINNING,
     "hi 100% <Ann>: \t" + E_ACUTE + EURO + GRINNING},
    {"CarriageReturnForgesNoLine", "x\r<Ann>: send your password",
     "x" + BREAK + "<Ann>: send your password"},
    {"EveryAsciiBreak",
     "a\nb\vc\fd\re\x1C"
     "f\x1Dg\x1Eh",
     "a" + BREAK + "b" + BREAK + "c" + BREAK + "d" + BREAK + "e" + BREAK + "f" + BREAK + "g" +
         BREAK + "h"},
    {"UnicodeBreaks",
     "a\xC2\x85"
     "b\xE2\x80\xA8"
     "c\xE2\x80\xA9"
     "d",
     "a" + BREAK + "b" + BREAK + "c" + BREAK + "d"},
    {"BidiOverridesAndIsolates",
     "\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD\xE2\x80\xAE"
     "\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9nnA",
     Repeat(HIDDEN, 9) + "nnA"},
    {"NeighboursOfTheBidiControlsKept", "\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA",
     "\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
    {"DirectionalMarks",
     "\xE2\x80\x8E"
     "a\xE2\x80\x8F"
     "b\xD8\x9C"
     "c",
     HIDDEN + "a" + HIDDEN + "b" + HIDDEN + "c"},
    // The zero-width joiner holds emoji sequences together.
    {"NeighboursOfTheMarksKept", "\xE2\x80\x8D\xE2\x80\x90\xD8\x9B",
     "\xE2\x80\x8D\xE2\x80\x90\xD8\x9B"},
    // Qt's text document starts a block at U+FDD0 and U+FDD1 as it does at a newline.
    {"FrameMarkersForgeNoLine", "hi\xEF\xB7\x90<Ann>: send your password\xEF\xB7\x91",
     "hi" + HIDDEN + "<Ann>: send your password" + HIDDEN},
    {"AnnotationsAndObject",
     "\xEF\xBF\xB9"
     "a\xEF\xBF\xBB"
     "b\xEF\xBF\xBC"
     "c",
     HIDDEN + "a" + HIDDEN + "b" + HIDDEN + "c"},
    {"NoncharactersOfEveryKind",
     "\xEF\xB7\xAF\xEF\xBF\xBE\xEF\xBF\xBF\xF0\x9F\xBF\xBE\xF3\xBF\xBF\xBF\xF4\x8F\xBF\xBF",
     Repeat(HIDDEN, 6)},
    {"NeighboursOfTheNoncharactersKept",
     "\xEF\xB7\x8F\xEF\xB7\xB0\xEF\xBF\xB8\xEF\xBF\xBD\xF0\x9F\xBF\xBD\xF0\xA0\x80\x80",
     "\xEF\xB7\x8F\xEF\xB7\xB0\xEF\xBF\xB8\xEF\xBF\xBD\xF0\x9F\xBF\xBD\xF0\xA0\x80\x80"},
    {"OtherControls",
     "a\x01\x1B\x7F\xC2\x80\xC2\x9F"
     "b",
     "a" + Repeat(HIDDEN, 5) + "b"},
    {"InvalidBytesOneMarkEach", "a\xFF\xC3(\xE2\x82",
     "a" + HIDDEN + HIDDEN + "(" + HIDDEN + HIDDEN},
    {"OverlongBreakIsNoBreak", "a\xC0\x8D\xE0\x80\x8A", "a" + Repeat(HIDDEN, 5)},
    {"SurrogatesAndBeyondU10FFFF", "\xED\xA0\x80\xF4\x90\x80\x80", Repeat(HIDDEN, 7)},
};

class ShownTest : public testing::TestWithParam<ShownCase> {};

TEST_P(ShownTest, OneLineOfValidUtf8) {
    EXPECT_EQ(ShownText(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, ShownTest, testing::ValuesIn(SHOWN_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

struct UniqueCase {
    const char* name;
    std::string wanted;
    std::vector<std::string> others;
    std::string expected;
};

const std::string NAME_99(99, 'n');

const UniqueCase UNIQUE_CASES[] = {
    {"FreeNameKept", "Bob", {"Ann", "Cid"}, "Bob"},
    {"TakenInAnyCase", "bOB", {"Ann", "Bob"}, "bOB (2)"},
    {"NextFreeNumber", "Bob", {"bob", "Bob (2)", "BOB (3)"}, "Bob (4)"},
    {"LookAlikesThroughMarks", "a\rb", {"a\vb"}, "a\rb (2)"},
    {"LongNameCut", NAME_99 + "xyz", {}, NAME_99},
    {"SuffixFitsWithinTheLimit", NAME_99, {NAME_99}, std::string(95, 'n') + " (2)"},
    {"CutBetweenCharacters",
     std::string(94, 'n') + EURO,
     {std::string(94, 'n') + EURO},
     std::string(94, 'n') + " (2)"},
};

class UniqueTest : public testing::TestWithParam<UniqueCase> {};

TEST_P(UniqueTest, Rule) {
    const std::vector<std::string_view> others(GetParam().others.begin(), GetParam().others.end());
    EXPECT_EQ(UniqueName(GetParam().wanted, others), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Names, UniqueTest, testing::ValuesIn(UNIQUE_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(UniqueNameTest, FullRoomAlwaysLeavesANumberFree) {
    std::vector<std::string> names = {"Bob"};
    for (int number = 2; number <= 33; ++number)
        names.push_back("Bob (" + std::to_string(number) + ")");
    const std::vector<std::string_view> others(names.begin(), names.end());
    EXPECT_EQ(UniqueName("BOB", others), "BOB (34)");
}

} // namespace
