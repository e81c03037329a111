// RoomsMenu: the main dialog's Rooms menu, the rooms found on the network kept current; choosing
// one fills the IP and Port fields and moves the focus to Connect, so that Enter joins.
#pragma once

#include "commands/rooms_menu_feed.h"

#include <windows.h>

// Posted to the dialog when FoundRooms changed.
inline constexpr UINT WM_REFRESH_ROOMS = WM_APP + 17;
// The rooms' command ids: IDM_ROOM_FIRST plus the item's place in the menu.
inline constexpr int IDM_ROOM_FIRST = 17000;

// Made and used on the dialog's thread; while it exists it is FoundRooms' only observer.
class RoomsMenu {
public:
    // Puts the menu into the dialog's menu bar, right before the menu that holds IDM_ABOUT.
    explicit RoomsMenu(HWND dialog);

    // For WM_REFRESH_ROOMS: shows what FoundRooms holds now.
    void refresh();
    // For WM_COMMAND: true when id is a room's, whose address and port then fill the fields.
    bool choose(int id);

private:
    HWND dialog;
    HMENU popup;
    RoomsMenuFeed feed;
};
