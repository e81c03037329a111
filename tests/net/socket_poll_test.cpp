// PollSockets and Waker on loopback connections: what wakes a poll and what does not.
#include "net/socket_poll.h"
#include "net/tcp_socket.h"
#include "net/waker.h"
#include "tests/support/loopback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

class SocketPollTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(client->connect("127.0.0.1", host.programPort())) << client->lastError;
        peer = host.accept();
        ASSERT_TRUE(peer.valid());
        ASSERT_TRUE(waker.ready()) << waker.lastError;
    }

    // Polls the waker and the client for reading; returns the two ready masks.
    std::pair<unsigned, unsigned> pollBoth(int timeoutMs) {
        PollEntry entries[] = {{waker.pollHandle(), POLL_READABLE, 0},
                               {client->handle, POLL_READABLE, 0}};
        PollSockets(entries, 2, timeoutMs);
        return {entries[0].ready, entries[1].ready};
    }

    RawListener host;
    std::unique_ptr<TcpSocket> client = TcpSocket::createStream();
    RawPeer peer;
    Waker waker;
};

} // namespace

TEST_F(SocketPollTest, TimesOutWhenNothingHappens) {
    const auto begin = Clock::now();
    EXPECT_EQ(pollBoth(50), std::make_pair(0u, 0u));
    EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(45));
}

TEST_F(SocketPollTest, ReportsEachEventOnItsOwnEntry) {
    PollEntry writable{client->handle, POLL_WRITABLE, 0};
    EXPECT_EQ(PollSockets(&writable, 1, 0), 1);
    EXPECT_EQ(writable.ready, POLL_WRITABLE);

    ASSERT_TRUE(peer.send("x"));
    EXPECT_EQ(pollBoth(1000), std::make_pair(0u, POLL_READABLE));
    // A hang-up counts as what was asked for, so that the reader meets the end itself.
    char byte;
    ASSERT_EQ(client->recv(&byte, 1), 1);
    peer.hangUp();
    EXPECT_EQ(pollBoth(1000), std::make_pair(0u, POLL_READABLE));
}

TEST_F(SocketPollTest, WakesFromAnotherThreadAndDrainRearms) {
    // Many wakes before one drain leave one wake-up, and after the drain the poll waits again.
    for (int i = 0; i < 1000; ++i)
        waker.wake();
    EXPECT_EQ(pollBoth(1000).first, POLL_READABLE);
    waker.drain();
    EXPECT_EQ(pollBoth(0).first, 0u);

    std::thread other([this] { waker.wake(); });
    EXPECT_EQ(pollBoth(5000).first, POLL_READABLE);
    other.join();
    waker.drain();
    waker.wake(); // a wake after the drain is not lost
    EXPECT_EQ(pollBoth(1000).first, POLL_READABLE);
}

// The poster keeps adding work and waking; a wake swallowed by a racing drain would leave the
// waiter asleep with work pending until its timeout.
TEST_F(SocketPollTest, NoWakeIsLostToARacingDrain) {
    constexpr int ROUNDS = 20000;
    std::atomic<int> posted{0};
    std::atomic<int> seenByWaiter{0};
    std::thread poster([&] {
        for (int i = 1; i <= ROUNDS; ++i) {
            posted = i;
            waker.wake();
            // Let the waiter catch up now and then, so that wakes keep meeting drains.
            while (i % 4 == 0 && seenByWaiter.load() + 2 < i)
                std::this_thread::yield();
        }
    });
    int seen = 0;
    int lost = 0;
    while (seen < ROUNDS) {
        PollEntry entry{waker.pollHandle(), POLL_READABLE, 0};
        const int ready = PollSockets(&entry, 1, 100);
        waker.drain();
        if (ready == 0 && posted.load() > seen)
            ++lost;
        seen = posted.load();
        seenByWaiter = seen;
    }
    poster.join();
    EXPECT_EQ(lost, 0);
}
