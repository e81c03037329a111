// The Rooms menu: rebuilt from the feed's items whenever they change, on the dialog's thread.
#include "app/win32/rooms_menu.h"

#include "app/win32/menu_bar.h"
#include "app/win32/posted_call.h"
#include "commands/control_table.h"
#include "text/wide_text.h"

#include <string>

RoomsMenu::RoomsMenu(HWND owner)
    : dialog(owner), popup(::CreatePopupMenu()),
      feed(std::make_shared<PostedCall>(owner, WM_REFRESH_ROOMS)) {
    HMENU bar = ::GetMenu(dialog);
    ::InsertMenuW(bar, PlaceOfMenuWith(bar, IDM_ABOUT), MF_BYPOSITION | MF_POPUP,
                  reinterpret_cast<UINT_PTR>(popup), L"Rooms");
    ::DrawMenuBar(dialog);
    refresh();
}

void RoomsMenu::refresh() {
    if (!feed.refresh())
        return;
    while (::GetMenuItemCount(popup) > 0)
        ::DeleteMenu(popup, 0, MF_BYPOSITION);
    const std::vector<RoomMenuItem>& items = feed.items();
    for (size_t i = 0; i < items.size(); ++i)
        ::AppendMenuW(popup, MF_STRING | (items[i].enabled ? MF_ENABLED : MF_GRAYED),
                      static_cast<UINT_PTR>(IDM_ROOM_FIRST + static_cast<int>(i)),
                      WideFromUtf8(MenuEntryText(items[i])).c_str());
}

bool RoomsMenu::choose(int id) {
    const std::vector<RoomMenuItem>& items = feed.items();
    if (id < IDM_ROOM_FIRST || id >= IDM_ROOM_FIRST + static_cast<int>(items.size()))
        return false;
    const RoomMenuItem& item = items[static_cast<size_t>(id - IDM_ROOM_FIRST)];
    if (!item.enabled)
        return true;
    ::SetDlgItemTextW(dialog, IDC_ADDRESS, WideFromUtf8(item.address).c_str());
    ::SetDlgItemTextW(dialog, IDC_PORT, std::to_wstring(item.port).c_str());
    // The dialog's way of moving the focus: Connect also becomes the default button.
    ::SendMessageW(dialog, WM_NEXTDLGCTL,
                   reinterpret_cast<WPARAM>(::GetDlgItem(dialog, IDC_CONNECT)), TRUE);
    return true;
}
