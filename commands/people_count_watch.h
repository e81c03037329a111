// PeopleCountWatch: follows how many people a hosted room has and passes changes on, at most one a
// second, from a thread of its own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class PeopleCountWatch {
public:
    static constexpr std::chrono::milliseconds LOOK_EVERY{250};
    static constexpr std::chrono::seconds CHANGE_EVERY{1};

    // count is asked every LOOK_EVERY; changed hears a count that differs from the last one it
    // heard (first, initial), no sooner than CHANGE_EVERY after the last time it heard one. Both
    // run on the watch's thread and must not wait for the thread that destroys the watch.
    PeopleCountWatch(int initial, std::function<int()> count, std::function<void(int)> changed);
    // Stops and joins the thread; call without any lock that count takes.
    ~PeopleCountWatch();
    PeopleCountWatch(const PeopleCountWatch&) = delete;
    PeopleCountWatch& operator=(const PeopleCountWatch&) = delete;

private:
    void run(int initial);

    std::function<int()> count;
    std::function<void(int)> changed;
    std::mutex mutex; // guards stopping
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};
