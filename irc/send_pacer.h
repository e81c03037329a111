// SendPacer: how fast a client may send to an IRC server without being cut off for flooding.
#pragma once

#include <chrono>

// Servers read each client at a fixed pace and disconnect one that keeps more than a few lines
// waiting ("Excess Flood"). The pacer allows a burst of lines, then one line each interval: the
// rule of the original IRC servers, which every server still tolerates at one line a second.
class SendPacer {
public:
    using Clock = std::chrono::steady_clock;

    SendPacer(unsigned burstLines, Clock::duration lineInterval)
        : burst(burstLines), interval(lineInterval) {}

    // A new connection starts with the whole burst.
    void reset(Clock::time_point now) { due = now; }
    // Whether a line may go at now.
    bool ready(Clock::time_point now) const { return due <= now + slack(); }
    // When the next line may go (now or earlier when it may go at once).
    Clock::time_point readyAt() const { return due - slack(); }
    // Counts a line sent at now, whether or not it was ready (replies to the server go at once).
    void sent(Clock::time_point now) { due = (due > now ? due : now) + interval; }

private:
    Clock::duration slack() const { return interval * static_cast<int>(burst - 1); }

    unsigned burst;
    Clock::duration interval;
    Clock::time_point due{}; // when the pacer's debt is paid
};
