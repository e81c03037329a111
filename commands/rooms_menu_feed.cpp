// RoomsMenuFeed: FoundRooms' observer for the Rooms menu, and the items as a menu shows them.
#include "commands/rooms_menu_feed.h"

#include "commands/menu_entry_text.h"
#include "commands/room_discovery.h"

#include <algorithm>
#include <utility>

RoomsMenuFeed::RoomsMenuFeed(std::shared_ptr<WindowCall> refreshCall)
    : call(std::move(refreshCall)) {
    FoundRooms.setObserver([kept = call] { kept->request(); });
}

RoomsMenuFeed::~RoomsMenuFeed() {
    FoundRooms.setObserver({});
    call->detach();
}

bool RoomsMenuFeed::refresh() {
    call->taken();
    std::vector<RoomMenuItem> items = RoomMenuItems(FoundRooms.snapshot());
    const bool same = std::equal(items.begin(), items.end(), shown.begin(), shown.end(),
                                 [](const RoomMenuItem& a, const RoomMenuItem& b) {
                                     return a.text == b.text && a.enabled == b.enabled &&
                                            a.address == b.address && a.port == b.port;
                                 });
    if (same)
        return false;
    shown = std::move(items);
    return true;
}

std::string MenuEntryText(const RoomMenuItem& item) {
    return MenuEntryText(item.text);
}
