// RoomSession: the bridge's side of a room's conversation, as one of the room's clients: what it
// sends, and what the host's messages mean to it. No sockets: messages in, bytes out.
#pragma once

#include "wire/block_parser.h"
#include "wire/protocol.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

struct RoomEvent {
    enum class Kind {
        Line,  // name said text in the room
        Entry, // name came into the room
        Exit,  // name left the room
        Ended, // the host closed the room
    };
    Kind kind;
    std::string name;
    std::string text;
};

class RoomSession {
public:
    using Clock = std::chrono::steady_clock;
    // The host answers a login with the room's names at once; logins within this time after the
    // first, in rising id order, are that answer rather than people coming in.
    static constexpr auto REPLY_WINDOW = std::chrono::milliseconds(500);
    // Lines said and not yet seen relayed back, kept to recognise the bridge's own lines.
    static constexpr size_t ECHO_LIMIT = 256;

    explicit RoomSession(std::string name) : loginName(std::move(name)) {}

    // A new connection: forgets the last one and gives the login's bytes.
    std::string start(Clock::time_point now);
    // One message from the host.
    void receive(const Message& message, Clock::time_point now, std::vector<RoomEvent>& events);
    // The bytes that say text in the room: cut between characters to the longest line every
    // client shows whole; empty for an empty text, which the room would not show.
    std::string say(std::string_view text);

    // The bridge's own participant id, once known.
    int64_t ownId() const { return own; }

private:
    static constexpr int64_t UNKNOWN = INT64_MIN;

    void login(int64_t id, std::string_view name, Clock::time_point now,
               std::vector<RoomEvent>& events);
    bool isOwnEcho(int64_t id, std::string_view text);
    bool mayBeOwnName(std::string_view name) const;

    const std::string loginName;
    std::string hostName;
    std::array<std::string, MAX_CLIENTS> names;
    int64_t own = UNKNOWN;
    std::deque<std::string> echoes; // texts said, oldest first, not yet relayed back
    // The answer to the login: when it ends and the highest id it named so far.
    bool replyStarted = false;
    Clock::time_point replyUntil{};
    int64_t replyLastId = HOST_ID;
    std::vector<int64_t> ownCandidates; // ids in the reply that may be the bridge's
};
