// The Rooms menu's items, from the room list, for both front-ends to show as they are.
#pragma once

#include "discovery/room_list.h"

#include <cstdint>
#include <string>
#include <vector>

struct RoomMenuItem {
    std::string text; // UTF-8, shown as it is (a front-end escapes its own mnemonic marks)
    bool enabled = false;
    // What choosing an enabled item puts into the IP and Port fields.
    std::string address;
    uint16_t port = 0;
};

inline constexpr size_t ROOM_MENU_LIMIT = 50;
inline constexpr char NO_ROOMS[] = "No rooms found on this network";

// One enabled item per room, "<name> — <address>, port <port>, <n> people" (the head count left
// out when the room does not announce it), sorted by name without regard to ASCII case, then by
// address and port; at most ROOM_MENU_LIMIT, then a disabled "… and N more". With no rooms, one
// disabled NO_ROOMS item; while finding does not work, one disabled item saying why.
std::vector<RoomMenuItem> RoomMenuItems(RoomList::Snapshot snapshot);
