// MessageFramer: a stream cut into reads anywhere reaches the handler message-whole and in order.
#include "chat/message_framer.h"
#include "parse_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Feeds a stream to a framer in the reads given by the cut positions and collects what the
// handler would see. moreSoon answers true exactly when the stream has more bytes to come.
struct Feeder {
    explicit Feeder(Receiver side) : receiver(side), framer(side) {}

    void feed(const std::string& stream, const std::vector<size_t>& cuts) {
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

TEST(MessageFramerTest, TailFillingTheBufferIsHandedOverInPieces) {
    const std::string text(2000, 'a');
    const std::string stream = "msg\nhi\nmsg\n" + text + "\nmsg\nyo\n";
    std::vector<size_t> cuts;
    for (size_t cut = 100; cut < stream.size(); cut += 100)
        cuts.push_back(cut);
    Feeder feeder(Receiver::Host);
    feeder.feed(stream, cuts);

    // The long message is cut where the buffer ends; its rest is skipped as non-keywords.
    const std::vector<std::string> expected = {"msg hi", "msg " + text.substr(0, 1019), "msg yo"};
    EXPECT_EQ(feeder.messages, expected);
    ASSERT_GE(feeder.blocks.size(), 2u);
    EXPECT_EQ(feeder.blocks[0], "msg\nhi\n");
    EXPECT_EQ(feeder.blocks[1].size(), 1023u);
    size_t delivered = 0;
    for (const std::string& block : feeder.blocks)
        delivered += block.size();
    EXPECT_EQ(delivered, stream.size());
}

TEST(MessageFramerTest, OpenLastFieldWaitsOnlyWhenMoreIsComing) {
    std::vector<std::string> blocks;
    const auto deliver = [&](char* bytes, int32_t count) {
        blocks.emplace_back(bytes, count);
    };
    MessageFramer framer(Receiver::Host);
    const auto read = [&](const std::string& bytes, bool more) {
        std::copy(bytes.begin(), bytes.end(), framer.space());
        framer.received(uint32_t(bytes.size()), deliver, [&](int grace) {
            EXPECT_EQ(grace, MessageFramer::GRACE_MS);
            return more;
        });
    };

    read("msg\nhel", false); // nothing waiting: handed over as it stands
    EXPECT_EQ(blocks, std::vector<std::string>{"msg\nhel"});
    EXPECT_EQ(framer.carriedBytes(), 0u);

    read("msg\nhel", true); // more waiting: kept
    EXPECT_EQ(framer.carriedBytes(), 7u);
    read("lo\n", false);
    EXPECT_EQ(blocks.back(), "msg\nhello\n");

    read("msg\n", false); // missing fields are carried whatever moreSoon would say
    EXPECT_EQ(framer.carriedBytes(), 4u);
    framer.flush(deliver);
    EXPECT_EQ(blocks.back(), "msg\n");
    EXPECT_EQ(framer.carriedBytes(), 0u);
}

} // namespace
