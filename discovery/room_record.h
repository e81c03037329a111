// What a backend hears of one announced room, and how that becomes a FoundRoom. Announcements come
// from anyone on the network, so everything here is untrusted and checked.
#pragma once

#include "discovery/found_room.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct RoomRecord {
    std::string name;                           // the instance name, raw bytes
    std::optional<std::array<uint8_t, 4>> ipv4; // the SRV target's address, when it has one
    uint16_t srvPort = 0;                       // the TCP port in the SRV record, host order
    std::vector<std::string> txt;               // the TXT strings, raw, in record order
};

// The longest name the menu shows, in characters.
inline constexpr size_t SHOWN_NAME_LIMIT = 64;
// The most people a room can hold: the host and 32 clients.
inline constexpr int ROOM_CAPACITY = 33;

// The name as the menu may show it: invalid UTF-8, the tab and every character that a log line
// shows as a mark (text/shown_text.h) become U+FFFD, and it is cut to SHOWN_NAME_LIMIT
// characters. Reads no further into raw than that needs.
std::string ShownName(std::string_view raw);

// The room the record describes, or none when it is meaningless: no IPv4 address, an empty name,
// no usable port. The port comes from a TXT "port" of 1..65535 in plain decimal, else from the
// SRV port with its bytes swapped back; people from a TXT "users" of 1..ROOM_CAPACITY, else 0.
// Keys are matched without regard to case and the first entry of a key counts.
std::optional<FoundRoom> RoomFromRecord(const RoomRecord& record);
