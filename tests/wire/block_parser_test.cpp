// BlockParser and FindBlockTail: tokens, keyword position, fields per receiver, NUL, the tail.
#include "parse_helpers.h"
#include "wire/block_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

struct ParseCase {
    const char* name;
    Receiver receiver;
    std::string block;
    std::vector<std::string> expected;
};

const ParseCase PARSE_CASES[] = {
    {"ClientConversation",
     Receiver::Host,
     "login\nBob\nmsg\nhi\nlogoff\n",
     {"login Bob", "msg hi", "logoff"}},
    {"HostReplyInOneBlock",
     Receiver::Client,
     "login\n-1\nAnn\nlogin\n0\nBob\nlogoff\n0\n",
     {"login -1 Ann", "login 0 Bob", "logoff 0"}},
    {"RunsOfNewlines", Receiver::Client, "\nmsg\n\n\n0\n\nhi\n\n", {"msg 0 hi"}},
    {"NonKeywordsSkipped",
     Receiver::Host,
     "login \nLogin\nLOGIN\nmsgs\nmsg\r\nmsg\nyo\n",
     {"msg yo"}},
    {"EmptyNameAlone", Receiver::Host, "login\n\n", {}},
    {"EmptyNameTakesNextKeyword",
     Receiver::Host,
     "login\n\nmsg\nhi\nmsg\nyo\n",
     {"login msg", "msg yo"}},
    {"IncompleteMessageEndsBlock", Receiver::Client, "msg\n0\nhi\nlogin\n3\n", {"msg 0 hi"}},
    {"LogoffNeedsIdOnClient", Receiver::Client, "logoff\n", {}},
    {"LogoffHasNoFieldsOnHost", Receiver::Host, "logoff", {"logoff"}},
    {"UnterminatedLastFieldTaken", Receiver::Host, "msg\nhel", {"msg hel"}},
    {"NulEndsText", Receiver::Host, "msg\nhi\n\0msg\nyo\n"s, {"msg hi"}},
    {"NulInsideToken", Receiver::Host, "msg\nh\0i\n"s, {"msg h"}},
    {"Ids",
     Receiver::Client,
     "msg\n007\na\nmsg\nx\nb\nmsg\n-1\nc\nmsg\n12ab\nd\nmsg\n99999999999999999999\ne\n",
     {"msg 7 a", "msg 0 b", "msg -1 c", "msg 12 d", "msg 9223372036854775807 e"}},
    {"RelayWithoutNewlineRunsOn", Receiver::Client, "msg\n3\nhimsg\n3\nyo", {"msg 3 himsg"}},
    {"PercentIsPlainText", Receiver::Client, "msg\n1\n%s%n%d\n", {"msg 1 %s%n%d"}},
};

class ParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, Messages) {
    EXPECT_EQ(ParseAll(GetParam().block, GetParam().receiver), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Blocks, ParseTest, testing::ValuesIn(PARSE_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(BlockParserTest, StopsAtCountAndNeverWritesIntoTheBlock) {
    const std::string bytes = "msg\nhi\nmsg\nyo\n";
    const std::string copy = bytes;
    EXPECT_EQ(ParseAll(std::string_view(bytes.data(), 7), Receiver::Host),
              std::vector<std::string>{"msg hi"});
    EXPECT_EQ(bytes, copy);
}

TEST(BlockParserTest, FullBlockIsParsedToItsLastByte) {
    // 1023 bytes, the most one read delivers, followed by the zero byte every block has.
    std::string block = "msg\n" + std::string(1000, 'a') + "\nmsg\n";
    block += std::string(1023 - block.size() - 1, 'b') + "z";
    ASSERT_EQ(block.size(), 1023u);
    const std::vector<std::string> messages =
        ParseAll(std::string_view(block.c_str(), block.size()), Receiver::Host);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "msg " + std::string(13, 'b') + "z");
    const BlockTail tail = FindBlockTail(block.c_str(), block.size(), Receiver::Host);
    EXPECT_EQ(tail.kind, TailKind::UnterminatedField);
    EXPECT_EQ(tail.start, 1005u);
}

struct TailCase {
    const char* name;
    Receiver receiver;
    std::string block;
    TailKind kind;
    size_t start;
};

const TailCase TAIL_CASES[] = {
    {"Empty", Receiver::Host, "", TailKind::None, 0},
    {"OnlyNewlines", Receiver::Host, "\n\n", TailKind::None, 0},
    {"EndsOnNewline", Receiver::Host, "msg\nhi\n", TailKind::None, 0},
    {"SkippedTokenEndsOnNewline", Receiver::Host, "msg\nhi\nhello\n", TailKind::None, 0},
    {"MissingText", Receiver::Host, "msg\nhi\nlogin\n", TailKind::MissingFields, 7},
    {"MissingTextAfterOpenId", Receiver::Client, "login\n-1\nAnn\nmsg\n3", TailKind::MissingFields,
     13},
    {"OpenText", Receiver::Host, "msg\nhi\nmsg\nhel", TailKind::UnterminatedField, 7},
    {"OpenLogoffId", Receiver::Client, "logoff\n-1", TailKind::UnterminatedField, 0},
    {"CutKeyword", Receiver::Host, "msg\nhi\nlog", TailKind::UnterminatedToken, 7},
    {"WholeKeywordWithFieldsToCome", Receiver::Host, "msg\nhi\nmsg", TailKind::UnterminatedToken,
     7},
    {"OpenNonKeyword", Receiver::Host, "hello\n\nmsgx", TailKind::UnterminatedToken, 7},
    {"HostLogoffIsWhole", Receiver::Host, "msg\nhi\nlogoff", TailKind::None, 0},
    {"ClientLogoffNeedsId", Receiver::Client, "logoff", TailKind::UnterminatedToken, 0},
    {"NulBeforeCount", Receiver::Host, "msg\n\0hel"s, TailKind::None, 0},
};

class TailTest : public testing::TestWithParam<TailCase> {};

TEST_P(TailTest, Report) {
    const TailCase& row = GetParam();
    const BlockTail tail = FindBlockTail(row.block.data(), row.block.size(), row.receiver);
    EXPECT_EQ(tail.kind, row.kind);
    EXPECT_EQ(tail.start, row.start);
}

INSTANTIATE_TEST_SUITE_P(Blocks, TailTest, testing::ValuesIn(TAIL_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
