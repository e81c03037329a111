// The queue of one connection: bytes leave in the order they came, however the sends cut them,
// and each sender's count follows, so that the flow control knows whose backlog it holds.
#include "chat/out_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr size_t BEHIND = FlowControl::BEHIND_BYTES;
constexpr size_t CAUGHT_UP = FlowControl::CAUGHT_UP_BYTES;

// Sends `count` bytes of what the queue hands out, recording whose bytes were caught up.
std::string Take(OutQueue& queue, size_t count, std::vector<uint32_t>& caughtUp) {
    const std::string_view next = queue.next();
    const std::string taken(next.substr(0, count));
    queue.sent(taken.size(), [&](uint32_t sender) { caughtUp.push_back(sender); });
    return taken;
}

TEST(OutQueue, BytesLeaveInOrderAndEachSendersCountFollowsAcrossCutSends) {
    OutQueue queue;
    std::vector<uint32_t> caughtUp;
    queue.append(3, "aaaa", 4);
    queue.append(7, "bb", 2);
    queue.append(3, "cc", 2);
    EXPECT_EQ(Take(queue, 5, caughtUp), "aaaab"); // cut inside sender 7's run
    // Appended while that send ran: it goes out after what is left of the last one.
    queue.append(OutQueue::HOST, "hh", 2);
    EXPECT_EQ(queue.from(3), 2u);
    EXPECT_EQ(queue.from(7), 1u);
    EXPECT_EQ(Take(queue, 1, caughtUp), "b");
    EXPECT_EQ(queue.from(7), 0u);
    EXPECT_EQ(Take(queue, 100, caughtUp), "cchh");
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_EQ(queue.from(3), 0u);
    EXPECT_EQ(queue.from(OutQueue::HOST), 0u);
    EXPECT_TRUE(caughtUp.empty()); // nobody was ever behind
}

TEST(OutQueue, ASenderIsCaughtUpOnceWhenItsBacklogFallsToTheMark) {
    OutQueue queue;
    std::vector<uint32_t> caughtUp;
    const std::string flood(BEHIND + 1, 'f');
    queue.append(5, flood.data(), flood.size());
    queue.append(6, "honest", 6);
    // Down to one byte above the mark: not yet.
    Take(queue, flood.size() - CAUGHT_UP - 1, caughtUp);
    EXPECT_TRUE(caughtUp.empty());
    Take(queue, 1, caughtUp);
    EXPECT_EQ(caughtUp, std::vector<uint32_t>{5});
    // Further sends below the mark say nothing more.
    Take(queue, 10, caughtUp);
    EXPECT_EQ(caughtUp, std::vector<uint32_t>{5});
    EXPECT_EQ(queue.from(6), 6u);
}

TEST(OutQueue, ClearForgetsEverySendersBytes) {
    OutQueue queue;
    const std::string flood(BEHIND * 4, 'f');
    queue.append(1, flood.data(), flood.size());
    queue.append(2, "x", 1);
    queue.next();
    queue.clear();
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_EQ(queue.from(1), 0u);
    EXPECT_EQ(queue.from(2), 0u);
    EXPECT_TRUE(queue.next().empty());
    // Usable again at once, the next connection's bytes alone.
    queue.append(1, "new", 3);
    EXPECT_EQ(queue.next(), "new");
}

} // namespace
