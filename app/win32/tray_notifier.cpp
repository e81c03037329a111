// TrayNotifier: FlashWindowEx with FLASHW_TRAY | FLASHW_TIMERNOFG, and Shell_NotifyIconW with
// NIF_INFO, which respects the user's quiet time.
#include "app/win32/tray_notifier.h"

#include "app/win32/wide_text.h"

#include <algorithm>
#include <string>

ShellCalls Shell;

namespace {

// Copies text into a fixed field, cut so that the last character stays whole.
template <size_t N> void CopyInto(wchar_t (&field)[N], const std::string& text) {
    const std::wstring wide = WideFromUtf8(text);
    size_t length = std::min(wide.size(), N - 1);
    if (length > 0 && length < wide.size() && wide[length - 1] >= 0xD800 &&
        wide[length - 1] <= 0xDBFF)
        --length; // a high surrogate without its partner
    std::copy_n(wide.data(), length, field);
    field[length] = L'\0';
}

} // namespace

TrayNotifier::TrayNotifier(HWND target, HICON image) : window(target), icon(image) {}

TrayNotifier::~TrayNotifier() {
    withdraw();
}

NOTIFYICONDATAW TrayNotifier::iconData() const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = 1;
    return data;
}

void TrayNotifier::show(const Notification& notification) {
    FLASHWINFO flash{sizeof flash, window, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
    Shell.flashWindowEx(&flash);
    if (!iconShown) {
        NOTIFYICONDATAW add = iconData();
        add.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
        add.uCallbackMessage = WM_TRAY_ICON;
        add.hIcon = icon;
        CopyInto(add.szTip, "Parlox: unread lines");
        iconShown = Shell.notifyIcon(NIM_ADD, &add) != FALSE;
        if (!iconShown)
            return;
    }
    NOTIFYICONDATAW balloon = iconData();
    balloon.uFlags = NIF_INFO;
    balloon.dwInfoFlags = NIIF_USER | NIIF_RESPECT_QUIET_TIME;
    balloon.hBalloonIcon = icon;
    CopyInto(balloon.szInfoTitle, notification.summary);
    CopyInto(balloon.szInfo, notification.body);
    Shell.notifyIcon(NIM_MODIFY, &balloon);
}

void TrayNotifier::withdraw() {
    if (!iconShown)
        return;
    NOTIFYICONDATAW remove = iconData();
    Shell.notifyIcon(NIM_DELETE, &remove);
    iconShown = false;
}
