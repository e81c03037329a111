// Helpers for the menus the dialog's parts add to its menu bar.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// The place of the menu holding command in bar, or the end of bar.
UINT PlaceOfMenuWith(HMENU bar, UINT command);
// A menu item's text for UTF-8 text shown as it is: its own ampersands are no mnemonic marks.
std::wstring MenuItemText(std::string_view text);
