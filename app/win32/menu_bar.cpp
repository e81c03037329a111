// Finding a place on the menu bar.
#include "app/win32/menu_bar.h"

UINT PlaceOfMenuWith(HMENU bar, UINT command) {
    const int count = ::GetMenuItemCount(bar);
    for (int i = 0; i < count; ++i) {
        HMENU menu = ::GetSubMenu(bar, i);
        if (menu != nullptr && ::GetMenuState(menu, command, MF_BYCOMMAND) != UINT(-1))
            return static_cast<UINT>(i);
    }
    return static_cast<UINT>(count > 0 ? count : 0);
}
