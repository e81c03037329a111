// Backoff: the growing waits between attempts to reach a peer that went away.
#pragma once

#include <algorithm>
#include <chrono>

class Backoff {
public:
    using Duration = std::chrono::milliseconds;
    static constexpr Duration FIRST = std::chrono::seconds(1);
    static constexpr Duration LONGEST = std::chrono::seconds(60);

    // The wait before the next attempt: 1 s, then twice the last, up to a minute.
    Duration next() {
        const Duration wait = upcoming;
        upcoming = std::min(upcoming * 2, LONGEST);
        return wait;
    }
    // The peer was reached and stayed: the next loss starts again from the first wait.
    void reset() { upcoming = FIRST; }

private:
    Duration upcoming = FIRST;
};
