// The IRC protocol pieces: parsing lines, names, formatting codes, CTCP, splitting and pacing.
#include "irc/irc_line_buffer.h"
#include "irc/irc_message.h"
#include "irc/irc_text.h"
#include "irc/line_splitter.h"
#include "irc/send_pacer.h"
#include "text/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ParseCase {
    const char* name;
    std::string line;
    bool parsed;
    const char* prefix;
    const char* command;
    std::vector<std::string> params;
};

class IrcParse : public testing::TestWithParam<ParseCase> {};

TEST_P(IrcParse, SplitsPrefixCommandAndParameters) {
    const ParseCase& c = GetParam();
    IrcMessage message;
    ASSERT_EQ(ParseIrcMessage(c.line, message), c.parsed);
    if (!c.parsed)
        return;
    EXPECT_EQ(message.prefix, c.prefix);
    EXPECT_EQ(message.command, c.command);
    EXPECT_EQ(message.params, c.params);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, IrcParse,
    testing::Values(
        ParseCase{"ChannelLine",
                  ":xa!~x@host PRIVMSG #room :hello there",
                  true,
                  "xa!~x@host",
                  "PRIVMSG",
                  {"#room", "hello there"}},
        ParseCase{"TrailingKeepsColonsAndSpaces",
                  ":s 001 me :Welcome :to  it ",
                  true,
                  "s",
                  "001",
                  {"me", "Welcome :to  it "}},
        ParseCase{"NoPrefixLowerCaseCommand", "ping :token", true, "", "PING", {"token"}},
        ParseCase{"TagsSkipped", "@time=2024 :n!u@h JOIN #r", true, "n!u@h", "JOIN", {"#r"}},
        ParseCase{"RunsOfSpaces",
                  ":n  KICK   #r  victim  :why",
                  true,
                  "n",
                  "KICK",
                  {"#r", "victim", "why"}},
        ParseCase{"EmptyTrailing", ":n PRIVMSG #r :", true, "n", "PRIVMSG", {"#r", ""}},
        ParseCase{"LineEndsStripped", "PING x\r\n", true, "", "PING", {"x"}},
        ParseCase{"NulEndsTheLine", std::string("PING a\0b", 8), true, "", "PING", {"a"}},
        ParseCase{"EmptyLine", "", false, "", "", {}},
        ParseCase{"PrefixAlone", ":server", false, "", "", {}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(IrcNames, CompareUnderTheServersCaseRules) {
    EXPECT_TRUE(IrcNamesEqual("Bridge", "bRIDGE"));
    EXPECT_TRUE(IrcNamesEqual("[a]\\~", "{a}|^"));
    EXPECT_TRUE(IrcNamesEqual("#Office", "#office"));
    EXPECT_FALSE(IrcNamesEqual("bridge", "bridge_"));
    EXPECT_EQ(NickOf("xa!~x@host"), "xa");
    EXPECT_EQ(NickOf("irc.example.org"), "irc.example.org");
}

TEST(IrcNames, AlternatesStayWithinTheLength) {
    EXPECT_EQ(AlternateNick("bridge", 0, 9), "bridge");
    EXPECT_EQ(AlternateNick("bridge", 1, 9), "bridge_");
    EXPECT_EQ(AlternateNick("bridge", 2, 9), "bridge__");
    EXPECT_EQ(AlternateNick("bridge", 3, 9), "bridge1");
    EXPECT_EQ(AlternateNick("officebridge", 1, 9), "officebr_");
    EXPECT_EQ(AlternateNick("officebridge", 14, 9), "officeb12");
    for (unsigned attempt = 0; attempt < 200; ++attempt)
        EXPECT_LE(AlternateNick("abcdefghijkl", attempt, 9).size(), 9u);
}

TEST(IrcLineBuffer, HandsOutWholeLinesAcrossReads) {
    IrcLineBuffer buffer;
    std::string line;
    buffer.append("PING :a\r\nPI", 11);
    ASSERT_TRUE(buffer.next(line));
    EXPECT_EQ(line, "PING :a");
    EXPECT_FALSE(buffer.next(line));
    buffer.append("NG :b\nx", 7);
    ASSERT_TRUE(buffer.next(line));
    EXPECT_EQ(line, "PING :b");
    EXPECT_FALSE(buffer.next(line));
}

TEST(IrcLineBuffer, DropsAnOverlongLineWholeAndKeepsTheNext) {
    IrcLineBuffer buffer;
    const std::string huge(IrcLineBuffer::LINE_LIMIT + 10, 'x');
    buffer.append(huge.data(), huge.size());
    std::string line;
    EXPECT_FALSE(buffer.next(line));
    buffer.append("tail of it\r\nPING :c\r\n", 21);
    ASSERT_TRUE(buffer.next(line));
    EXPECT_EQ(line, "PING :c");
}

struct StripCase {
    const char* name;
    const char* in;
    const char* out;
};

class Formatting : public testing::TestWithParam<StripCase> {};

TEST_P(Formatting, CodesAreTakenOut) {
    EXPECT_EQ(StripFormatting(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Codes, Formatting,
                         testing::Values(StripCase{"Plain", "hello, world", "hello, world"},
                                         StripCase{"BoldItalicUnderline",
                                                   "\x02"
                                                   "b\x02 \x1Di\x1D \x1Fu",
                                                   "b i u"},
                                         StripCase{"ResetReverseStrikeMono",
                                                   "\x0F"
                                                   "a\x16"
                                                   "b\x1E"
                                                   "c\x11"
                                                   "d",
                                                   "abcd"},
                                         StripCase{"ColourForeground",
                                                   "\x03"
                                                   "4red\x03 plain",
                                                   "red plain"},
                                         StripCase{"ColourBothDigitsAndBackground",
                                                   "\x03"
                                                   "04,12text",
                                                   "text"},
                                         StripCase{"ColourKeepsAThirdDigit",
                                                   "\x03"
                                                   "123",
                                                   "3"},
                                         StripCase{"CommaWithoutDigitStays",
                                                   "\x03"
                                                   "4,x",
                                                   ",x"},
                                         StripCase{"BareColourCode",
                                                   "a\x03"
                                                   "b",
                                                   "ab"},
                                         StripCase{"HexColour",
                                                   "\x04"
                                                   "FF0000,00ff00hi",
                                                   "hi"},
                                         StripCase{"NumbersAfterColourReset",
                                                   "\x03"
                                                   "\x02"
                                                   "5 apples",
                                                   "5 apples"}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(Ctcp, ActionsAreToldFromOtherRequests) {
    std::string_view body;
    EXPECT_EQ(ClassifyCtcp("\x01"
                           "ACTION waves\x01",
                           body),
              CtcpKind::Action);
    EXPECT_EQ(body, "waves");
    EXPECT_EQ(ClassifyCtcp("\x01"
                           "ACTION waves twice",
                           body),
              CtcpKind::Action);
    EXPECT_EQ(body, "waves twice");
    EXPECT_EQ(ClassifyCtcp("\x01"
                           "ACTION\x01",
                           body),
              CtcpKind::Action);
    EXPECT_EQ(body, "");
    EXPECT_EQ(ClassifyCtcp("\x01"
                           "VERSION\x01",
                           body),
              CtcpKind::Other);
    EXPECT_EQ(ClassifyCtcp("\x01"
                           "ACTIONS\x01",
                           body),
              CtcpKind::Other);
    EXPECT_EQ(ClassifyCtcp("ACTION waves", body), CtcpKind::None);
    EXPECT_EQ(ClassifyCtcp("", body), CtcpKind::None);
}

// Each piece within the limit, opening with the head, valid where the text was, and the text
// whole again when the pieces are put together at their cuts.
void ExpectPiecesCarry(const std::string& head, const std::string& text, size_t limit) {
    const std::vector<std::string> pieces = SplitForIrc(head, text, limit);
    ASSERT_FALSE(pieces.empty());
    std::string joined;
    for (const std::string& piece : pieces) {
        EXPECT_LE(piece.size(), limit);
        ASSERT_EQ(piece.compare(0, head.size(), head), 0);
        const std::string part = piece.substr(head.size());
        EXPECT_EQ(CutToCharBoundary(part, part.size()), part);
        if (!joined.empty() && text[joined.size()] == ' ')
            joined += ' ';
        joined += part;
    }
    EXPECT_EQ(joined, text);
}

TEST(SplitForIrc, ShortLinesGoWhole) {
    EXPECT_EQ(SplitForIrc("<Ann> ", "hello", 400), std::vector<std::string>{"<Ann> hello"});
    EXPECT_EQ(SplitForIrc("<Ann> ", "", 400), std::vector<std::string>{"<Ann> "});
}

TEST(SplitForIrc, CutsAtSpacesAndBetweenCharacters) {
    std::string words;
    for (int i = 0; i < 200; ++i)
        words += "word" + std::to_string(i) + " ";
    ExpectPiecesCarry("<Ann> ", words, 120);
    EXPECT_EQ(SplitForIrc("<A> ", "aaaa bbbb", 10),
              (std::vector<std::string>{"<A> aaaa", "<A> bbbb"}));

    // Two- and four-byte characters without a space: every cut falls between characters.
    std::string letters;
    for (int i = 0; i < 300; ++i)
        letters += i % 3 == 0 ? "\xF0\x9F\x98\x80" : "\xC3\xA9";
    for (size_t limit : {20u, 21u, 22u, 23u, 467u})
        ExpectPiecesCarry("<Zoë> ", letters, limit);
}

TEST(SplitForIrc, AHeadTooLongForTheLimitIsLeftOut) {
    EXPECT_EQ(SplitForIrc("<a very long name> ", "abcdefgh", 10),
              (std::vector<std::string>{"abcdefgh"}));
}

TEST(SendPacer, ABurstThenOneLineEachInterval) {
    using namespace std::chrono_literals;
    SendPacer pacer(4, 1000ms);
    const auto start = SendPacer::Clock::time_point{} + 100s;
    pacer.reset(start);
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(pacer.ready(start)) << i;
        pacer.sent(start);
    }
    EXPECT_FALSE(pacer.ready(start));
    EXPECT_EQ(pacer.readyAt(), start + 1s);
    EXPECT_FALSE(pacer.ready(start + 999ms));
    EXPECT_TRUE(pacer.ready(start + 1s));
    pacer.sent(start + 1s);
    EXPECT_EQ(pacer.readyAt(), start + 2s);
    // A quiet minute gives back the burst, not more.
    const auto later = start + 60s;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(pacer.ready(later)) << i;
        pacer.sent(later);
    }
    EXPECT_FALSE(pacer.ready(later));
}

} // namespace
