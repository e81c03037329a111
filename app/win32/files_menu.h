// FilesMenu: the main dialog's Files menu: "Send a file…" and the room's offers kept current;
// choosing an offer saves it (after the save dialog), cancels its saving, or withdraws one's own.
// Files dropped on the dialog are offered too.
#pragma once

#include "commands/files_menu_feed.h"

#include <windows.h>

// Posted to the dialog when the room's files changed.
inline constexpr UINT WM_REFRESH_FILES = WM_APP + 18;
// "Send a file…", and the offers' command ids: IDM_FILE_FIRST plus the item's place below it.
inline constexpr int IDM_SEND_FILE = 17900;
inline constexpr int IDM_FILE_FIRST = 17901;

// Made and used on the dialog's thread.
class FilesMenu {
public:
    // Puts the menu into the dialog's menu bar, right before the menu that holds IDM_ABOUT, and
    // lets files be dropped on the dialog.
    explicit FilesMenu(HWND dialog);

    // For WM_REFRESH_FILES: shows what the room's files are now.
    void refresh();
    // For WM_COMMAND: true when id is this menu's.
    bool choose(int id);
    // For WM_DROPFILES: offers every file dropped.
    void drop(HDROP files);

private:
    HWND dialog;
    HMENU popup;
    FilesMenuFeed feed;
};
