// DialogExtras: the Win32 dialog's side of WindowFeatures: the Log and Notify menus, the
// remembered fields (the registry, or parlox.ini beside a portable program), the flash and the
// balloon, and the timer that folds a burst of lines into one balloon.
#pragma once

#include "app/win32/tray_notifier.h"
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
    // The Log and Notify menus, at the front of the bar.
    void addMenus(HMENU bar);
    // A menu command; false when it is none of these menus'.
    bool command(int id);
    // Connect or Host is about to run with these fields.
    void roomStarting(bool hosting, const FieldTexts& fields) {
        windowFeatures->roomStarting(hosting, fields);
    }
    void closing(const FieldTexts& fields) { windowFeatures->closing(fields); }

    // WM_ACTIVATE, WM_TIMER and WM_TRAY_ICON; and after each refresh of the view, the timer.
    void activated(bool active);
    bool active() const { return isActive; }
    void timer(UINT_PTR id);
    void trayIcon(LPARAM event);
    void scheduleTick();

private:
    void checkMenus();

    HWND window;
    std::function<void()> rerender;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<TrayNotifier> notifier;
    std::unique_ptr<WindowFeatures> windowFeatures;
    HMENU logMenu = nullptr;
    HMENU notifyMenu = nullptr;
    bool isActive = true;
    bool timerSet = false;
};
