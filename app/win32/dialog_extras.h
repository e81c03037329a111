// DialogExtras: the Win32 dialog's side of WindowFeatures: the Log, Notify and View menus, the
// remembered fields (the registry, or parlox.ini beside a portable program), the flash, the
// balloon and the sound, the notification-area icon, announcements for screen readers, light and
// dark, and the timer that folds a burst of lines into one.
#pragma once

#include "app/win32/dialog_theme.h"
#include "app/win32/tray_notifier.h"
#include "app/win32/uia_announcer.h"
#include "commands/field_texts.h"
#include "features/settings_store.h"
#include "features/window_features.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

// The menus' commands.
inline constexpr int IDM_SHOW_TIMES = 10101;
inline constexpr int IDM_SAVE_LOG = 10102;
inline constexpr int IDM_KEEP_TRANSCRIPTS = 10103;
inline constexpr int IDM_NOTIFY_EVERY_LINE = 10111;
inline constexpr int IDM_NOTIFY_MENTIONS = 10112;
inline constexpr int IDM_NOTIFY_NONE = 10113;
inline constexpr int IDM_ANNOUNCE = 10114;
inline constexpr int IDM_SOUND = 10115;
inline constexpr int IDM_KEEP_IN_NOTIFICATION_AREA = 10116;
inline constexpr int IDM_THEME_FOLLOW_DESKTOP = 10121;
inline constexpr int IDM_THEME_LIGHT = 10122;
inline constexpr int IDM_THEME_DARK = 10123;
// The notification-area icon's menu.
inline constexpr int IDM_TRAY_OPEN = 10131;
inline constexpr int IDM_TRAY_QUIT = 10132;

// Where "Save log..." writes, chosen in the platform's save dialog owned by the window; empty
// when the user cancels. Tests put their own here.
extern std::function<std::wstring(HWND)> ChooseSaveFile;

// The store the dialog remembers its settings in: parlox.ini beside the program when a file named
// "portable" is there, else the registry.
std::unique_ptr<SettingsStore> OpenSettingsStore();

class DialogExtras {
public:
    // rerender shows the whole log again, as the Log menu's choices now say.
    DialogExtras(HWND window, HICON icon, std::function<void()> rerender);

    WindowFeatures& features() { return *windowFeatures; }

    // The remembered fields into the Name, IP and Port fields.
    void showRememberedFields();
    // The Log and Notify menus at the front of the bar, and the View menu after them.
    void addMenus(HMENU bar);
    // A menu command; false when it is none of these menus'.
    bool command(int id);
    // Connect or Host is about to run with these fields.
    void roomStarting(bool hosting, const FieldTexts& fields) {
        windowFeatures->roomStarting(hosting, fields);
    }
    void closing(const FieldTexts& fields) { windowFeatures->closing(fields); }
    // WM_CLOSE: while the dialog keeps running in the notification area, it hides instead, and
    // this returns true.
    bool hidOnClose();
    // EN_CHANGE of the input line: announcements wait while the user types.
    void keyTyped() { windowFeatures->keyTyped(); }
    // WM_SETTINGCHANGE, and the WM_CTLCOLOR* messages (see DialogTheme).
    void settingChanged(LPARAM area) { theme->settingChanged(area); }
    HBRUSH controlColours(UINT message, HDC dc) const { return theme->controlColours(message, dc); }

    // WM_ACTIVATE, WM_TIMER and WM_TRAY_ICON; and after each refresh of the view, the timer.
    void activated(bool active);
    bool active() const { return isActive; }
    void timer(UINT_PTR id);
    void trayIcon(LPARAM event);
    void scheduleTick();

private:
    void checkMenus();
    void bringBack();
    void showIconMenu();

    HWND window;
    std::function<void()> rerender;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<TrayNotifier> notifier;
    UiaAnnouncer announcer;
    std::unique_ptr<WindowFeatures> windowFeatures;
    std::unique_ptr<DialogTheme> theme;
    HMENU logMenu = nullptr;
    HMENU notifyMenu = nullptr;
    HMENU viewMenu = nullptr;
    bool isActive = true;
    bool timerSet = false;
    bool quitting = false; // Quit was chosen in the icon's menu
};
