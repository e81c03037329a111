// Bridge: one room and one IRC channel as one conversation. Each chat line crosses with its
// author; entries and departures cross when asked. Lines wait, bounded, for a side that cannot
// take them yet, and go to the channel at the server's pace; what the bound turns away is counted
// and said in the room. A lost side is reached again with growing waits.
//
// One thread does it all: it polls both connections, the stop handle and the attempts to reach a
// side, and works out what is due between polls. Each attempt (the lookup, TCP, TLS) runs on a
// thread of its own for at most CONNECT_TIMEOUT_MS, so the loop itself never waits for a network.
#pragma once

#include "bridge/attempt.h"
#include "bridge/backoff.h"
#include "bridge/bridge_options.h"
#include "bridge/irc_link.h"
#include "bridge/room_link.h"

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Bridge {
public:
    using Clock = std::chrono::steady_clock;
    // What the bridge tells its operator: a line, and whether it is a problem.
    using StatusOut = std::function<void(bool problem, const std::string& line)>;

    static constexpr int CONNECT_TIMEOUT_MS = 5000;
    // A side that stayed this long was reached for good: its next loss waits from 1 s again.
    static constexpr auto STAYED = std::chrono::seconds(30);
    // Lines turned away are said in the room once none has been for this long.
    static constexpr auto DROPS_SETTLE = std::chrono::seconds(1);
    // The room's connection holds at most this much unsent; lines wait in the queue meanwhile.
    static constexpr size_t ROOM_BACKLOG_LIMIT = 16 * 1024;

    Bridge(BridgeOptions options, StatusOut status);

    // Runs until stopHandle is readable, then leaves both sides politely.
    void run(SocketHandle stopHandle);

private:
    // A line waiting for a side: head names the author ("<Ann> "), text is what was said.
    struct Waiting {
        std::string head;
        std::string text;
    };
    // The lines waiting for one side, at most options.queueLines. Once that many wait, new lines
    // are turned away, and counted, until the waiting ones have gone: the side gets whole runs of
    // the conversation, not a line here and there.
    struct WaitingLines {
        std::deque<Waiting> lines;
        bool full = false;
        size_t turnedAway = 0;
        Clock::time_point lastTurnedAway{};
    };

    void reach(Clock::time_point now);
    void attemptsDone(Clock::time_point now);
    void pollOnce(SocketHandle stopHandle, bool& stopping);
    void roomEvents(const std::vector<RoomEvent>& events, Clock::time_point now);
    void ircEvents(const std::vector<IrcEvent>& events, Clock::time_point now);
    void roomLost(Clock::time_point now);
    void ircLost(Clock::time_point now);
    void toRoom(Waiting line, Clock::time_point now);
    void toIrc(Waiting line, Clock::time_point now);
    void keep(WaitingLines& waiting, Waiting line, Clock::time_point now);
    void carry(Clock::time_point now);
    void reportTurnedAway(Clock::time_point now);
    Clock::time_point nextDue(Clock::time_point now) const;
    std::string roomName() const;
    std::string ircName() const;

    const BridgeOptions options;
    const StatusOut status;
    RoomLink room;
    IrcLink irc;
    // Wakes the loop when an attempt is done. Declared before the attempts, which use it.
    Waker attemptWaker;
    std::unique_ptr<Attempt<TcpSocket>> roomAttempt;
    std::unique_ptr<Attempt<IrcTransport>> ircAttempt;
    Backoff roomBackoff;
    Backoff ircBackoff;
    Clock::time_point roomRetryAt{};
    Clock::time_point ircRetryAt{};
    Clock::time_point roomUpSince{};
    Clock::time_point ircUpSince{};
    WaitingLines forRoom;
    WaitingLines forIrc;
    std::deque<std::string> pieces; // the rest of a line being said in the channel, split
};
