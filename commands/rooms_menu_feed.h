// RoomsMenuFeed: what a Rooms menu shows, kept current: the one place where both front-ends'
// menus follow FoundRooms.
#pragma once

#include "commands/menu_entry_text.h"
#include "commands/room_menu_items.h"
#include "model/window_call.h"

#include <memory>
#include <vector>

// Made, used and destroyed on the window's thread. While it exists it is FoundRooms' only
// observer: every change requests refreshCall, whose call on the window's thread is to run
// refresh() and show items() when it says they changed.
class RoomsMenuFeed {
public:
    explicit RoomsMenuFeed(std::shared_ptr<WindowCall> refreshCall);
    // FoundRooms' observer goes and the call is detached. The call itself lives on with any
    // observer call still running on a discovery thread.
    ~RoomsMenuFeed();
    RoomsMenuFeed(const RoomsMenuFeed&) = delete;
    RoomsMenuFeed& operator=(const RoomsMenuFeed&) = delete;

    // Reads FoundRooms: true when the items to show are not those shown so far.
    bool refresh();
    const std::vector<RoomMenuItem>& items() const { return shown; }

private:
    std::shared_ptr<WindowCall> call;
    std::vector<RoomMenuItem> shown;
};

// An item's text as a menu entry: a name's own ampersands doubled, so that neither toolkit takes
// them for mnemonic marks.
std::string MenuEntryText(const RoomMenuItem& item);
