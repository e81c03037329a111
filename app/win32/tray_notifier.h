// TrayNotifier: the taskbar button flashes until the window is activated, a balloon shows from
// the notification-area icon, and the icon itself stays while lines are unread (their count in its
// tip and on the icon) or while the window is hidden there.
#pragma once

#include "features/notification_area.h"
#include "features/notifier.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

// The shell calls, through which tests watch what would be shown and heard.
struct ShellCalls {
    BOOL(WINAPI* flashWindowEx)(PFLASHWINFO) = ::FlashWindowEx;
    BOOL(WINAPI* notifyIcon)(DWORD, PNOTIFYICONDATAW) = ::Shell_NotifyIconW;
    BOOL(WINAPI* playSound)(LPCWSTR, HMODULE, DWORD) = ::PlaySoundW;
};
extern ShellCalls Shell;

// The message the icon sends to the window (clicks, the balloon's click).
inline constexpr UINT WM_TRAY_ICON = WM_APP + 3;
// The sound the system plays for an instant message (Control Panel > Sound > Instant Message
// Notification).
inline constexpr const wchar_t* INSTANT_MESSAGE_SOUND = L"Notification.IM";

class TrayNotifier : public Notifier, public NotificationArea {
public:
    TrayNotifier(HWND window, HICON icon);
    ~TrayNotifier() override;
    TrayNotifier(const TrayNotifier&) = delete;
    TrayNotifier& operator=(const TrayNotifier&) = delete;

    void show(const Notification& notification) override;
    void withdraw() override;
    void showIcon(int unread, const std::string& toolTip) override;
    void hideIcon() override;
    bool iconShown() const { return shown; }

private:
    NOTIFYICONDATAW iconData() const;
    bool placeIcon(); // adds the icon, or updates its image and tip

    HWND window;
    HICON icon;
    HICON badged = nullptr; // icon with the unread count on it, while there is one
    std::string tip = "Parlox";
    int unread = 0;
    bool shown = false;
};
