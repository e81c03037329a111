// Where the menus the dialog's parts add go on its menu bar.
#pragma once

#include <windows.h>

// The place of the menu holding command in bar, or the end of bar.
UINT PlaceOfMenuWith(HMENU bar, UINT command);
