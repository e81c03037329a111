// PeopleCountWatch: a thread that looks at the count a few times a second and passes on changes
// at a bounded rate.
#include "commands/people_count_watch.h"

#include <utility>

PeopleCountWatch::PeopleCountWatch(int initial, std::function<int()> countFunction,
                                   std::function<void(int)> changedFunction)
    : count(std::move(countFunction)), changed(std::move(changedFunction)),
      thread([this, initial] { run(initial); }) {}

PeopleCountWatch::~PeopleCountWatch() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        stopping = true;
    }
    wake.notify_one();
    thread.join();
}

void PeopleCountWatch::run(int initial) {
    using Clock = std::chrono::steady_clock;
    int told = initial;
    Clock::time_point toldAt = Clock::now();
    std::unique_lock<std::mutex> lock(mutex);
    while (!wake.wait_for(lock, LOOK_EVERY, [this] { return stopping; })) {
        lock.unlock();
        const int now = count();
        if (now != told && Clock::now() - toldAt >= CHANGE_EVERY) {
            changed(now);
            told = now;
            toldAt = Clock::now();
        }
        lock.lock();
    }
}
