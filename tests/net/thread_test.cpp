// Thread: start, stop from outside and from the thread itself, restart, and the waits in between.
#include "net/thread.h"
#include "tests/support/wait.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>

namespace {

// A worker whose loop body the test supplies.
class Worker : public Thread {
public:
    explicit Worker(std::function<void(Worker&)> loopBody) : body(std::move(loopBody)) {}
    ~Worker() override { stop(); } // the body must not outlive this part of the object
    void run() override { body(*this); }
    bool ownThread() const { return onOwnThread(); }

private:
    std::function<void(Worker&)> body;
};

} // namespace

TEST(Thread, StopWaitsUntilRunReturns) {
    std::atomic<bool> started{false}, release{false}, finished{false};
    Worker worker([&](Worker&) {
        started = true;
        // finished only with the release seen: a loop that timed out waiting must fail the test.
        finished = WaitFor([&] { return release.load(); });
    });
    ASSERT_TRUE(worker.start());
    ASSERT_TRUE(WaitFor([&] { return started.load(); }));
    std::thread releaser([&] { release = true; });
    worker.stop();
    EXPECT_TRUE(finished);
    releaser.join();
}

TEST(Thread, StopWhenIdleAndStartAgainAfterRunEnded) {
    std::atomic<int> runs{0};
    Worker worker([&](Worker&) { ++runs; });
    worker.stop();
    worker.stop();
    ASSERT_TRUE(worker.start());
    ASSERT_TRUE(WaitFor([&] { return runs == 1; }));
    ASSERT_TRUE(worker.start());
    EXPECT_TRUE(WaitFor([&] { return runs == 2; }));
}

TEST(Thread, SelfStopReturnsAtOnceAndKeepsRecord) {
    std::atomic<int> runs{0};
    std::atomic<bool> keptRecord{false}, restartedItself{true};
    Worker worker([&](Worker& self) {
        self.stop();
        keptRecord = self.ownThread();
        restartedItself = self.start();
        ++runs;
    });
    ASSERT_TRUE(worker.start());
    ASSERT_TRUE(WaitFor([&] { return runs == 1; }));
    EXPECT_TRUE(keptRecord);
    EXPECT_FALSE(restartedItself);
    worker.stop(); // joins the ended thread
    ASSERT_TRUE(worker.start());
    EXPECT_TRUE(WaitFor([&] { return runs == 2; }));
}

// A loop that stops itself first thing may run before start() has stored the new thread's id;
// it must still be recognised as its own thread rather than try to join itself.
TEST(Thread, SelfStopRightAtEntry) {
    std::atomic<int> runs{0};
    Worker worker([&](Worker& self) {
        self.stop();
        ++runs;
    });
    for (int i = 1; i <= 100; ++i) {
        ASSERT_TRUE(worker.start());
        ASSERT_TRUE(WaitFor([&] { return runs == i; }));
    }
}
