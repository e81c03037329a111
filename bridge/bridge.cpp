// The bridge's loop: reaching both sides, carrying lines between them, and leaving politely.
#include "bridge/bridge.h"

#include "irc/line_splitter.h"
#include "net/socket_poll.h"
#include "text/shown_text.h"

#include <algorithm>

namespace {

using Clock = Bridge::Clock;

std::string Seconds(std::chrono::milliseconds wait) {
    return std::to_string((wait.count() + 999) / 1000) + " s";
}

// Socket error texts hold a symbolic name and a description on two lines.
std::string OneLine(std::string text) {
    for (size_t at; (at = text.find('\n')) != std::string::npos;)
        text.replace(at, 1, ": ");
    return text;
}

std::string Lines(size_t count) {
    return std::to_string(count) + (count == 1 ? " line" : " lines");
}

int MillisecondsUntil(Clock::time_point due, Clock::time_point now) {
    if (due <= now)
        return 0;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
    // Rounded up, so that the loop does not wake just before the moment and spin.
    return static_cast<int>(std::min<long long>(wait + 1, 60 * 60 * 1000));
}

} // namespace

Bridge::Bridge(BridgeOptions bridgeOptions, StatusOut statusOut)
    : options(std::move(bridgeOptions)),
      status([out = std::move(statusOut)](bool problem, const std::string& line) {
          out(problem, OneLine(line));
      }),
      room(options.nick),
      irc(options.nick, options.channel, SendPacer(4, std::chrono::milliseconds(options.paceMs))) {}

std::string Bridge::roomName() const {
    return "the room at " + options.roomAddress + " port " + std::to_string(options.roomPort);
}

std::string Bridge::ircName() const {
    return options.ircHost + ":" + std::to_string(options.ircPort);
}

void Bridge::run(SocketHandle stopHandle) {
    bool stopping = false;
    while (!stopping) {
        reach(Clock::now());
        pollOnce(stopHandle, stopping);
    }
    // An attempt still under way ends within its time limit; lines still waiting for the channel
    // are lost with the bridge (a room's own lines stay in its transcript).
    roomAttempt.reset();
    ircAttempt.reset();
    room.close(1000);
    irc.close("Parlox bridge stopped", 1000);
    status(false, "stopped");
}

// Starts an attempt to reach each side that is down and due for one.
void Bridge::reach(Clock::time_point now) {
    if (!room.isOpen() && !roomAttempt && now >= roomRetryAt) {
        roomAttempt = std::make_unique<Attempt<TcpSocket>>(
            [address = options.roomAddress, port = options.roomPort](std::string& error) {
                return RoomLink::dial(address, port, CONNECT_TIMEOUT_MS, error);
            },
            attemptWaker);
    }
    if (!irc.isOpen() && !ircAttempt && now >= ircRetryAt) {
        ircAttempt = std::make_unique<Attempt<IrcTransport>>(
            [host = options.ircHost, port = options.ircPort, tls = options.tls,
             settings = options.tlsSettings](std::string& error) {
                return IrcLink::dial(host, port, tls, settings, CONNECT_TIMEOUT_MS, error);
            },
            attemptWaker);
    }
}

// Takes the connections of the attempts that are done, or schedules the next try.
void Bridge::attemptsDone(Clock::time_point now) {
    attemptWaker.drain();
    std::string error;
    if (roomAttempt && roomAttempt->done()) {
        std::unique_ptr<TcpSocket> connection = roomAttempt->take(error);
        roomAttempt.reset();
        if (connection) {
            room.begin(std::move(connection), now);
            roomUpSince = now;
            status(false, "in " + roomName() + " as " + options.nick);
        } else {
            const auto wait = roomBackoff.next();
            roomRetryAt = now + wait;
            status(true, "cannot reach " + roomName() + ": " + error + "; trying again in " +
                             Seconds(wait));
        }
    }
    if (ircAttempt && ircAttempt->done()) {
        std::unique_ptr<IrcTransport> connection = ircAttempt->take(error);
        ircAttempt.reset();
        if (connection) {
            irc.begin(std::move(connection), now);
            ircUpSince = now;
            status(false, "connected to " + ircName() + (options.tls ? " over TLS" : ""));
        } else {
            const auto wait = ircBackoff.next();
            ircRetryAt = now + wait;
            status(true, "cannot reach " + ircName() + ": " + error + "; trying again in " +
                             Seconds(wait));
        }
    }
}

void Bridge::pollOnce(SocketHandle stopHandle, bool& stopping) {
    Clock::time_point now = Clock::now();
    if (irc.isOpen() && !irc.tick(now))
        ircLost(now);
    carry(now);
    reportTurnedAway(now);

    PollEntry entries[4];
    entries[0] = {stopHandle, POLL_READABLE, 0};
    entries[3] = {attemptWaker.pollHandle(), POLL_READABLE, 0};
    if (room.isOpen())
        entries[1] = {room.handle(), POLL_READABLE | (room.wantsWrite() ? POLL_WRITABLE : 0u), 0};
    if (irc.isOpen())
        entries[2] = {irc.handle(), irc.pollEvents(), 0};
    const int timeout = irc.hasBufferedInput() ? 0 : MillisecondsUntil(nextDue(now), now);
    if (PollSockets(entries, 4, timeout) < 0) {
        status(true, "cannot wait for the connections: " + TcpSocket::describeLastError());
        stopping = true;
        return;
    }
    now = Clock::now();
    if (entries[0].ready != 0) {
        stopping = true;
        return;
    }
    attemptsDone(now);
    if (entries[1].ready != 0 && room.isOpen()) {
        std::vector<RoomEvent> events;
        bool open = (entries[1].ready & POLL_READABLE) == 0 || room.receive(now, events);
        roomEvents(events, now);
        open = open && room.isOpen() && room.flush();
        if (!open)
            roomLost(now);
    }
    if ((entries[2].ready != 0 || irc.hasBufferedInput()) && irc.isOpen()) {
        std::vector<IrcEvent> events;
        const bool open = irc.receive(now, events) && irc.flush();
        ircEvents(events, now);
        if (!open)
            ircLost(now);
    }
}

Clock::time_point Bridge::nextDue(Clock::time_point now) const {
    Clock::time_point due = now + std::chrono::hours(1);
    // While an attempt is under way its thread wakes the loop; without a Waker, the loop looks
    // once a second.
    if (roomAttempt || ircAttempt)
        due = std::min(due, now + std::chrono::seconds(1));
    if (!room.isOpen() && !roomAttempt)
        due = std::min(due, roomRetryAt);
    if (!irc.isOpen() && !ircAttempt)
        due = std::min(due, ircRetryAt);
    if (irc.isOpen())
        due = std::min(due, irc.nextDue(!pieces.empty() || !forIrc.lines.empty()));
    for (const WaitingLines* waiting : {&forRoom, &forIrc})
        if (waiting->turnedAway > 0)
            due = std::min(due, waiting->lastTurnedAway + DROPS_SETTLE);
    return due;
}

void Bridge::roomEvents(const std::vector<RoomEvent>& events, Clock::time_point now) {
    for (const RoomEvent& event : events) {
        switch (event.kind) {
        case RoomEvent::Kind::Line:
            toIrc({"<" + ShownText(event.name) + "> ", ShownText(event.text)}, now);
            break;
        case RoomEvent::Kind::Entry:
            if (options.notices)
                toIrc({"* ", ShownText(event.name) + " joined the room"}, now);
            break;
        case RoomEvent::Kind::Exit:
            if (options.notices)
                toIrc({"* ", ShownText(event.name) + " left the room"}, now);
            break;
        case RoomEvent::Kind::Ended:
            if (options.notices)
                toIrc({"* ", "the room closed"}, now);
            room.drop("the host closed the room");
            break;
        }
    }
}

void Bridge::ircEvents(const std::vector<IrcEvent>& events, Clock::time_point now) {
    const std::string& channel = options.channel;
    for (const IrcEvent& event : events) {
        switch (event.kind) {
        case IrcEvent::Kind::Line:
            toRoom({"<" + event.nick + "> ", event.text}, now);
            break;
        case IrcEvent::Kind::Action:
            toRoom({"* " + event.nick + " ", event.text}, now);
            break;
        case IrcEvent::Kind::Entry:
            if (options.notices)
                toRoom({"* ", event.nick + " joined " + channel}, now);
            break;
        case IrcEvent::Kind::Exit:
            if (options.notices)
                toRoom({"* ", event.nick + " left " + channel}, now);
            break;
        case IrcEvent::Kind::Renamed:
            if (options.notices)
                toRoom({"* ", event.nick + " is now " + event.text}, now);
            break;
        case IrcEvent::Kind::Joined:
            status(false, "joined " + channel + " on " + ircName() + " as " + irc.nick());
            break;
        case IrcEvent::Kind::Problem:
            status(true, ircName() + ": " + event.text);
            break;
        }
    }
}

void Bridge::roomLost(Clock::time_point now) {
    if (room.isOpen())
        room.drop("lost");
    if (now - roomUpSince >= STAYED)
        roomBackoff.reset();
    const auto wait = roomBackoff.next();
    roomRetryAt = now + wait;
    status(true,
           "lost " + roomName() + ": " + room.lastError + "; trying again in " + Seconds(wait));
}

void Bridge::ircLost(Clock::time_point now) {
    if (now - ircUpSince >= STAYED)
        ircBackoff.reset();
    const auto wait = ircBackoff.next();
    ircRetryAt = now + wait;
    // What was split and partly said stays: the rest goes once the bridge is back, so nothing
    // is said twice.
    status(true, "lost " + ircName() + ": " + irc.lastError + "; trying again in " + Seconds(wait));
}

void Bridge::toRoom(Waiting line, Clock::time_point now) {
    keep(forRoom, std::move(line), now);
}

void Bridge::toIrc(Waiting line, Clock::time_point now) {
    keep(forIrc, std::move(line), now);
}

void Bridge::keep(WaitingLines& waiting, Waiting line, Clock::time_point now) {
    if (waiting.lines.empty())
        waiting.full = false;
    if (waiting.full || waiting.lines.size() >= options.queueLines) {
        waiting.full = true;
        ++waiting.turnedAway;
        waiting.lastTurnedAway = now;
        return;
    }
    waiting.lines.push_back(std::move(line));
}

// Moves waiting lines to each side as far as it takes them now.
void Bridge::carry(Clock::time_point now) {
    while (room.isOpen() && !forRoom.lines.empty() && room.backlog() < ROOM_BACKLOG_LIMIT) {
        room.say(forRoom.lines.front().head + forRoom.lines.front().text);
        forRoom.lines.pop_front();
    }
    while (irc.isOpen() && irc.maySay(now)) {
        if (pieces.empty()) {
            if (forIrc.lines.empty())
                break;
            const Waiting& line = forIrc.lines.front();
            for (std::string& piece : SplitForIrc(line.head, line.text, irc.textRoom()))
                pieces.push_back(std::move(piece));
            forIrc.lines.pop_front();
            continue;
        }
        irc.say(pieces.front(), now);
        pieces.pop_front();
    }
    if (irc.isOpen() && !irc.flush())
        ircLost(now);
    if (room.isOpen() && !room.flush())
        roomLost(now);
}

// Says in the room how many lines a bound turned away, once a burst of them is over.
void Bridge::reportTurnedAway(Clock::time_point now) {
    const std::string bound = "more than " + std::to_string(options.queueLines) + " were waiting";
    if (forIrc.turnedAway > 0 && now - forIrc.lastTurnedAway >= DROPS_SETTLE) {
        const std::string text =
            Lines(forIrc.turnedAway) + " not carried to " + options.channel + ": " + bound;
        status(true, text);
        forRoom.lines.push_back({"* ", text});
        forIrc.turnedAway = 0;
    }
    if (forRoom.turnedAway > 0 && room.isOpen() && now - forRoom.lastTurnedAway >= DROPS_SETTLE) {
        const std::string text = Lines(forRoom.turnedAway) + " from " + options.channel +
                                 " not carried to this room: " + bound;
        status(true, text);
        forRoom.lines.push_back({"* ", text});
        forRoom.turnedAway = 0;
    }
}
