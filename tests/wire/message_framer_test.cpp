// MessageFramer: a stream cut into reads anywhere reaches the handler message-whole and in order.
#include "parse_helpers.h"
#include "wire/message_framer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Feeds a stream to a framer in the reads given by the cut positions and collects what the
// handler would see. moreSoon answers true exactly when the stream has more bytes to come.
struct Feeder {
    explicit Feeder(Receiver side) : receiver(side), framer(side) {}

    // Reads the whole stream, then the connection ends.
    void feed(const std::string& stream, const std::vector<size_t>& cuts) {
        read(stream, cuts);
        end();
    }
    void read(const std::string& stream, const std::vector<size_t>& cuts) {
        size_t from = 0;
        std::vector<size_t> ends = cuts;
        ends.push_back(stream.size());
        for (size_t end : ends) {
            while (from < end) {
                const uint32_t n = std::min<uint32_t>(framer.spaceSize(), uint32_t(end - from));
                ASSERT_GT(n, 0u);
                std::copy_n(stream.data() + from, n, framer.space());
                from += n;
                framer.received(
                    n, [&](char* bytes, int32_t count) { deliver(bytes, count); },
                    [&](int) { return from < stream.size(); });
            }
        }
    }
    void end() {
        framer.flush([&](char* bytes, int32_t count) { deliver(bytes, count); });
    }

    void deliver(char* bytes, int32_t count) {
        ASSERT_GT(count, 0);
        ASSERT_LE(count, 1023);
        ASSERT_EQ(bytes[count], '\0');
        blocks.emplace_back(bytes, size_t(count));
        for (std::string& message : ParseAll(blocks.back(), receiver))
            messages.push_back(message);
    }

    Receiver receiver;
    MessageFramer framer;
    std::vector<std::string> blocks;
    std::vector<std::string> messages;
};

TEST(MessageFramerTest, EverySplitDeliversWholeMessagesInOrder) {
    const struct {
        Receiver receiver;
        std::string stream;
    } conversations[] = {
        {Receiver::Client, "login\n-1\nAnn\nlogin\n0\nBob\nmsg\n0\nhi there\nmsg\n-1\n%s%n\n"
                           "logoff\n12\nlogoff\n-1\n"},
        {Receiver::Host, "login\nBob\nmsg\nhi\n\nmsg\n\xC3\xA9t\xC3\xA9\nlogoff\nlogin\nCid\n"},
    };
    for (const auto& conversation : conversations) {
        const std::string& stream = conversation.stream;
        const std::vector<std::string> expected = ParseAll(stream, conversation.receiver);
        for (size_t first = 1; first < stream.size(); ++first) {
            for (size_t second = first; second < stream.size(); ++second) {
                Feeder feeder(conversation.receiver);
                feeder.feed(stream, {first, second});
                ASSERT_EQ(feeder.messages, expected) << "cut at " << first << " and " << second;
            }
        }
    }
}

// Every 100 bytes a read.
std::vector<size_t> CutsEvery100(const std::string& stream) {
    std::vector<size_t> cuts;
    for (size_t cut = 100; cut < stream.size(); cut += 100)
        cuts.push_back(cut);
    return cuts;
}

// A line longer than the buffer. The host hands over what the buffer holds once the line's newline
// has come, skips the rest of the line, and drops the line when the connection ends first; bytes
// in its rest that look like a message are none. A client hands it over at once, in pieces: the
// host's relayed lines end without a newline.
TEST(MessageFramerTest, LineLongerThanTheBuffer) {
    const std::string text(2000, 'a');
    const std::string start = "msg\nhi\nmsg\n" + text;
    const std::string kept = "msg " + text.substr(0, 1019);

    Feeder host(Receiver::Host);
    host.read(start, CutsEvery100(start));
    EXPECT_EQ(host.messages, std::vector<std::string>{"msg hi"});
    host.read("\nmsg\nyo\n", {});
    EXPECT_EQ(host.messages, (std::vector<std::string>{"msg hi", kept, "msg yo"}));

    Feeder cutByTheEnd(Receiver::Host);
    cutByTheEnd.feed(start, CutsEvery100(start));
    EXPECT_EQ(cutByTheEnd.messages, std::vector<std::string>{"msg hi"});

    // The line's rest, from the read after the one that filled the buffer, is one token with it.
    Feeder fillsExactly(Receiver::Host);
    fillsExactly.read("msg\n" + text.substr(0, 1019), {});
    EXPECT_TRUE(fillsExactly.messages.empty());
    fillsExactly.feed("msg\nforged\nmsg\nyo\n", {});
    EXPECT_EQ(fillsExactly.messages, (std::vector<std::string>{kept, "msg yo"}));

    Feeder client(Receiver::Client);
    const std::string relayed = "msg\n0\n" + text + "\nmsg\n0\nyo\n";
    client.read(relayed, CutsEvery100(relayed));
    EXPECT_EQ(client.messages,
              (std::vector<std::string>{"msg 0 " + text.substr(0, 1017), "msg 0 yo"}));
}

// What a socket would say after each read: more bytes are already waiting, arrive within the
// grace (a later send), or none come.
enum class Next { Waiting, Later, Quiet };

struct Read {
    std::string bytes;
    Next next;
};

TEST(MessageFramerTest, CarryRuleAtTheEndOfEachRead) {
    const struct {
        const char* name;
        Receiver receiver;
        std::vector<Read> reads;
        std::vector<std::string> expected;
    } cases[] = {
        {"EmptyLineFromAClientThenALine",
         Receiver::Host,
         {{"msg\n\n", Next::Later}, {"msg\nhello\n", Next::Quiet}},
         {"msg hello"}},
        {"EmptyNameThenALine",
         Receiver::Host,
         {{"login\n\n", Next::Later}, {"msg\nfirst\n", Next::Quiet}},
         {"msg first"}},
        {"EmptyLineFromTheHostThenALine",
         Receiver::Client,
         {{"msg\n-1\n\n", Next::Later}, {"msg\n-1\nnext\n", Next::Quiet}},
         {"msg -1 next"}},
        {"EmptyFieldCutBetweenItsNewlines",
         Receiver::Host,
         {{"msg\n", Next::Later}, {"\nmsg\nhello\n", Next::Quiet}},
         {"msg hello"}},
        {"RunsOfNewlinesInOneRead",
         Receiver::Client,
         {{"\nmsg\n\n\n0\n\nhi\n\n", Next::Quiet}},
         {"msg 0 hi"}},
        {"RelaysWithoutNewlineInReadsOfTheirOwn",
         Receiver::Client,
         {{"msg\n0\npair-one", Next::Later},
          {"msg\n0\npair-two", Next::Later},
          {"login\n2\nCid\n", Next::Later},
          {"msg\n2\nthree", Next::Later},
          {"logoff\n2\n", Next::Quiet}},
         {"msg 0 pair-one", "msg 0 pair-two", "login 2 Cid", "msg 2 three", "logoff 2"}},
        {"RelayWithoutNewlineThenSilence",
         Receiver::Client,
         {{"msg\n0\nalone", Next::Quiet}, {"msg\n0\nlater", Next::Quiet}},
         {"msg 0 alone", "msg 0 later"}},
        {"RelaysThatRanTogetherLoseOnlyThemselves",
         Receiver::Client,
         {{"msg\n0\nAmsg\n0\nB", Next::Later},
          {"msg\n0\nC", Next::Later},
          {"logoff\n0\n", Next::Quiet}},
         {"msg 0 Amsg", "msg 0 C", "logoff 0"}},
        {"CutSendContinuesEvenWhenItsRestLooksLikeAKeyword",
         Receiver::Host,
         {{"msg\nsay ", Next::Waiting}, {"msg\nlogin\nBob\n", Next::Quiet}},
         {"msg say msg", "login Bob"}},
        {"CutKeywordIsKeptOnlyWhileItCanBecomeOne",
         Receiver::Client,
         {{"ms", Next::Later}, {"g\n-1\nhi\nxy", Next::Later}, {"msg\n-1\nyo\n", Next::Quiet}},
         {"msg -1 hi", "msg -1 yo"}},
        {"CutLastFieldWaitsForItsRest",
         Receiver::Host,
         {{"msg\nhel", Next::Later}, {"lo\n", Next::Quiet}},
         {"msg hello"}},
        {"HostWaitsForTheNewlinePastTheGrace",
         Receiver::Host,
         {{"msg\nsee my ", Next::Quiet}, {"msg\n", Next::Quiet}},
         {"msg see my msg"}},
        {"HostDropsALineCutByTheConnectionsEnd",
         Receiver::Host,
         {{"msg\nwhole\nmsg\nhal", Next::Quiet}},
         {"msg whole"}},
        {"HostDropsALoginCutByTheConnectionsEnd",
         Receiver::Host,
         {{"login\nBo", Next::Waiting}},
         {}},
        {"ClientHandsOverARelayCutByTheConnectionsEnd",
         Receiver::Client,
         {{"msg\n0\nha", Next::Waiting}},
         {"msg 0 ha"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> got;
        MessageFramer framer(c.receiver);
        const auto deliver = [&](char* bytes, int32_t count) {
            ASSERT_EQ(bytes[count], '\0');
            for (std::string& message :
                 ParseAll(std::string_view(bytes, size_t(count)), c.receiver))
                got.push_back(message);
        };
        for (const Read& read : c.reads) {
            std::copy(read.bytes.begin(), read.bytes.end(), framer.space());
            framer.received(uint32_t(read.bytes.size()), deliver, [&](int ms) {
                return read.next == Next::Waiting || (ms > 0 && read.next == Next::Later);
            });
        }
        framer.flush(deliver);
        EXPECT_EQ(got, c.expected);
    }
}

// Bytes that trickle in one read each, with gaps shorter than the client's grace (Later) or longer
// (Quiet): the host always waits for the newline; a client takes a gap past the grace for the end
// of a relay sent without one.
TEST(MessageFramerTest, TrickledBytesAtSeveralGaps) {
    const struct {
        const char* name;
        Receiver receiver;
        std::string stream;
        Next gap;
        std::vector<std::string> expected;
    } cases[] = {
        {"HostByteByByteAtOnce",
         Receiver::Host,
         "msg\nsee my msg\n",
         Next::Waiting,
         {"msg see my msg"}},
        {"HostWithinTheGrace",
         Receiver::Host,
         "msg\nsee my msg\n",
         Next::Later,
         {"msg see my msg"}},
        {"HostPastTheGrace",
         Receiver::Host,
         "login\nBo\nmsg\nsee my msg\n",
         Next::Quiet,
         {"login Bo", "msg see my msg"}},
        {"ClientWithinTheGrace",
         Receiver::Client,
         "msg\n0\nsee you\n",
         Next::Later,
         {"msg 0 see you"}},
        {"ClientPastTheGraceEndsTheRelay",
         Receiver::Client,
         "msg\n0\nsee\n",
         Next::Quiet,
         {"msg 0 s"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> got;
        MessageFramer framer(c.receiver);
        const auto deliver = [&](char* bytes, int32_t count) {
            for (std::string& message :
                 ParseAll(std::string_view(bytes, size_t(count)), c.receiver))
                got.push_back(message);
        };
        for (char byte : c.stream) {
            *framer.space() = byte;
            framer.received(1, deliver, [&](int ms) {
                return c.gap == Next::Waiting || (ms > 0 && c.gap == Next::Later);
            });
        }
        framer.flush(deliver);
        EXPECT_EQ(got, c.expected);
    }
}

} // namespace
