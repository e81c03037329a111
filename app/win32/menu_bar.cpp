// Finding a place on the menu bar and writing item texts.
#include "app/win32/menu_bar.h"

#include "app/win32/wide_text.h"

UINT PlaceOfMenuWith(HMENU bar, UINT command) {
    const int count = ::GetMenuItemCount(bar);
    for (int i = 0; i < count; ++i) {
        HMENU menu = ::GetSubMenu(bar, i);
        if (menu != nullptr && ::GetMenuState(menu, command, MF_BYCOMMAND) != UINT(-1))
            return static_cast<UINT>(i);
    }
    return static_cast<UINT>(count > 0 ? count : 0);
}

std::wstring MenuItemText(std::string_view text) {
    std::wstring shown;
    for (wchar_t c : WideFromUtf8(text)) {
        shown += c;
        if (c == L'&')
            shown += L'&';
    }
    return shown;
}
