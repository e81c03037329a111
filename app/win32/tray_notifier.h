// TrayNotifier: the taskbar button flashes until the window is activated, and a balloon shows from
// a notification-area icon that stays only while lines are unread.
#pragma once

#include "features/notifier.h"

#include <windows.h>

#include <shellapi.h>

// The two shell calls, through which tests watch what would be shown.
struct ShellCalls {
    BOOL(WINAPI* flashWindowEx)(PFLASHWINFO) = ::FlashWindowEx;
    BOOL(WINAPI* notifyIcon)(DWORD, PNOTIFYICONDATAW) = ::Shell_NotifyIconW;
};
extern ShellCalls Shell;

// The message the icon sends to the window (clicks, the balloon's click).
inline constexpr UINT WM_TRAY_ICON = WM_APP + 3;

class TrayNotifier : public Notifier {
public:
    TrayNotifier(HWND window, HICON icon);
    ~TrayNotifier() override;
    TrayNotifier(const TrayNotifier&) = delete;
    TrayNotifier& operator=(const TrayNotifier&) = delete;

    void show(const Notification& notification) override;
    void withdraw() override;

private:
    NOTIFYICONDATAW iconData() const;

    HWND window;
    HICON icon;
    bool iconShown = false;
};
