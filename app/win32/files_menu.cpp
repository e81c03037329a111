// The Files menu: rebuilt from the room's offers on every change, on the dialog's thread.
#include "app/win32/files_menu.h"

#include "app/win32/file_dialogs.h"
#include "app/win32/menu_bar.h"
#include "app/win32/posted_call.h"
#include "commands/control_table.h"
#include "commands/room_files.h"
#include "text/wide_text.h"

#include <shellapi.h>

#include <string>

FilesMenu::FilesMenu(HWND owner)
    : dialog(owner), popup(::CreatePopupMenu()),
      feed(std::make_shared<PostedCall>(owner, WM_REFRESH_FILES)) {
    HMENU bar = ::GetMenu(dialog);
    ::InsertMenuW(bar, PlaceOfMenuWith(bar, IDM_ABOUT), MF_BYPOSITION | MF_POPUP,
                  reinterpret_cast<UINT_PTR>(popup), L"Files");
    ::AppendMenuW(popup, MF_STRING, IDM_SEND_FILE, WideFromUtf8(SEND_A_FILE).c_str());
    ::AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
    ::DrawMenuBar(dialog);
    ::DragAcceptFiles(dialog, TRUE);
    refresh();
}

void FilesMenu::refresh() {
    if (!feed.refresh())
        return;
    ::EnableMenuItem(popup, IDM_SEND_FILE,
                     MF_BYCOMMAND | (feed.canSend() ? MF_ENABLED : MF_GRAYED));
    // Everything after "Send a file…" and its separator.
    while (::GetMenuItemCount(popup) > 2)
        ::DeleteMenu(popup, 2, MF_BYPOSITION);
    const std::vector<FileMenuItem>& items = feed.items();
    for (size_t i = 0; i < items.size(); ++i) {
        const bool enabled = items[i].action != FileMenuItem::Action::None;
        ::AppendMenuW(popup, MF_STRING | (enabled ? MF_ENABLED : MF_GRAYED),
                      static_cast<UINT_PTR>(IDM_FILE_FIRST + static_cast<int>(i)),
                      WideFromUtf8(MenuEntryText(items[i].text)).c_str());
    }
}

bool FilesMenu::choose(int id) {
    if (id == IDM_SEND_FILE) {
        for (const std::wstring& path : ChooseFilesToSend(dialog))
            OfferRoomFile(Utf8FromWide(path));
        return true;
    }
    const std::vector<FileMenuItem>& items = feed.items();
    if (id < IDM_FILE_FIRST || id >= IDM_FILE_FIRST + static_cast<int>(items.size()))
        return false;
    // A copy: choosing refreshes the menu, which replaces the items.
    const FileMenuItem item = items[static_cast<size_t>(id - IDM_FILE_FIRST)];
    ChooseFileMenuItem(item, [this](const std::string& name) {
        return Utf8FromWide(
            ChooseSaveTarget(dialog, DownloadsFolder() + L"\\" + WideFromUtf8(name)));
    });
    refresh();
    return true;
}

void FilesMenu::drop(HDROP files) {
    const UINT count = ::DragQueryFileW(files, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(::DragQueryFileW(files, i, nullptr, 0) + 1, L'\0');
        path.resize(::DragQueryFileW(files, i, path.data(), static_cast<UINT>(path.size())));
        OfferRoomFile(Utf8FromWide(path));
    }
    ::DragFinish(files);
}
