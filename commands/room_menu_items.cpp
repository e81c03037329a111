// The Rooms menu's items: sorted, counted and cut at the menu's limit.
#include "commands/room_menu_items.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace {

std::string Lowered(const std::string& text) {
    std::string lowered = text;
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lowered;
}

// A disabled item that only says something.
RoomMenuItem Note(std::string text) {
    return {std::move(text), false, {}, 0};
}

bool Before(const FoundRoom& a, const FoundRoom& b) {
    return std::forward_as_tuple(Lowered(a.name), a.name, a.address, a.port) <
           std::forward_as_tuple(Lowered(b.name), b.name, b.address, b.port);
}

std::string ItemText(const FoundRoom& room) {
    std::string text =
        room.name + " \u2014 " + room.address + ", port " + std::to_string(room.port);
    if (room.people > 0)
        text += ", " + std::to_string(room.people) + (room.people == 1 ? " person" : " people");
    return text;
}

} // namespace

std::vector<RoomMenuItem> RoomMenuItems(RoomList::Snapshot snapshot) {
    if (!snapshot.unavailable.empty())
        return {Note(snapshot.unavailable)};
    std::vector<FoundRoom>& rooms = snapshot.rooms;
    if (rooms.empty())
        return {Note(NO_ROOMS)};
    const size_t shown = std::min(rooms.size(), ROOM_MENU_LIMIT);
    std::partial_sort(rooms.begin(), rooms.begin() + static_cast<std::ptrdiff_t>(shown),
                      rooms.end(), Before);
    std::vector<RoomMenuItem> items;
    for (size_t i = 0; i < shown; ++i)
        items.push_back({ItemText(rooms[i]), true, rooms[i].address, rooms[i].port});
    if (rooms.size() > shown)
        items.push_back(Note("\u2026 and " + std::to_string(rooms.size() - shown) + " more"));
    return items;
}
