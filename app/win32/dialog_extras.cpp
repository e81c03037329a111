// DialogExtras: menus with check marks kept in step with the settings, the settings store's
// choice, the save dialog, and the window's activation and timer.
#include "app/win32/dialog_extras.h"

#include "app/win32/ini_store.h"
#include "app/win32/registry_store.h"
#include "commands/control_table.h"
#include "text/wide_text.h"

#include <commdlg.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <utility>

namespace {

constexpr UINT_PTR TICK_TIMER = 1;

std::wstring ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::filesystem::path TranscriptFolder() {
    wchar_t local[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::filesystem::path(ProgramFolder()) / L"transcripts";
    return std::filesystem::path(local) / L"Parlox" / L"transcripts";
}

std::wstring SaveFileDialog(HWND owner) {
    wchar_t file[MAX_PATH] = L"parlox-log.txt";
    OPENFILENAMEW how{};
    how.lStructSize = sizeof how;
    how.hwndOwner = owner;
    how.lpstrFilter = L"Text files (*.txt)\0*.txt\0All files\0*.*\0";
    how.lpstrFile = file;
    how.nMaxFile = MAX_PATH;
    how.lpstrDefExt = L"txt";
    how.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    return ::GetSaveFileNameW(&how) ? std::wstring(file) : std::wstring();
}

} // namespace

std::function<std::wstring(HWND)> ChooseSaveFile = SaveFileDialog;

std::unique_ptr<SettingsStore> OpenSettingsStore() {
    const std::wstring folder = ProgramFolder();
    if (::GetFileAttributesW((folder + L"portable").c_str()) != INVALID_FILE_ATTRIBUTES)
        return std::make_unique<IniStore>(folder + L"parlox.ini");
    return std::make_unique<RegistryStore>();
}

DialogExtras::DialogExtras(HWND target, HICON icon, std::function<void()> rerenderLog)
    : window(target), rerender(std::move(rerenderLog)), store(OpenSettingsStore()),
      notifier(std::make_unique<TrayNotifier>(target, icon)), announcer(target),
      windowFeatures(std::make_unique<WindowFeatures>(*notifier, announcer, *notifier, *store,
                                                      TranscriptFolder())),
      theme(std::make_unique<DialogTheme>(target, windowFeatures->settings().theme)) {
    isActive = ::GetForegroundWindow() == window;
}

void DialogExtras::showRememberedFields() {
    const Settings& settings = windowFeatures->settings();
    ::SetDlgItemTextW(window, IDC_NAME, WideFromUtf8(settings.name).c_str());
    ::SetDlgItemTextW(window, IDC_ADDRESS, WideFromUtf8(settings.address).c_str());
    ::SetDlgItemTextW(window, IDC_PORT, WideFromUtf8(settings.port).c_str());
}

void DialogExtras::addMenus(HMENU bar) {
    logMenu = ::CreatePopupMenu();
    ::AppendMenuW(logMenu, MF_STRING, IDM_SHOW_TIMES, L"Show &times");
    ::AppendMenuW(logMenu, MF_STRING, IDM_SAVE_LOG, L"&Save log\u2026");
    ::AppendMenuW(logMenu, MF_STRING, IDM_KEEP_TRANSCRIPTS, L"&Keep transcripts");
    notifyMenu = ::CreatePopupMenu();
    ::AppendMenuW(notifyMenu, MF_STRING, IDM_NOTIFY_EVERY_LINE, L"&Every line");
    ::AppendMenuW(notifyMenu, MF_STRING, IDM_NOTIFY_MENTIONS, L"Only lines that &mention my name");
    ::AppendMenuW(notifyMenu, MF_STRING, IDM_NOTIFY_NONE, L"&None");
    ::AppendMenuW(notifyMenu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(notifyMenu, MF_STRING, IDM_ANNOUNCE, L"&Announce new lines");
    ::AppendMenuW(notifyMenu, MF_STRING, IDM_SOUND, L"&Sound");
    ::AppendMenuW(notifyMenu, MF_STRING, IDM_KEEP_IN_NOTIFICATION_AREA,
                  L"&Keep running in the notification area when closed");
    viewMenu = ::CreatePopupMenu();
    ::AppendMenuW(viewMenu, MF_STRING, IDM_THEME_FOLLOW_DESKTOP, L"&Follow the desktop");
    ::AppendMenuW(viewMenu, MF_STRING, IDM_THEME_LIGHT, L"&Light");
    ::AppendMenuW(viewMenu, MF_STRING, IDM_THEME_DARK, L"&Dark");
    // First on the bar, ahead of whatever menus it has (Log, Notify, View, then the others, About
    // last).
    ::InsertMenuW(bar, 0, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(logMenu), L"Log");
    ::InsertMenuW(bar, 1, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(notifyMenu),
                  L"Notify");
    ::InsertMenuW(bar, 2, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(viewMenu), L"View");
    checkMenus();
    ::DrawMenuBar(window);
}

void DialogExtras::checkMenus() {
    const Settings& settings = windowFeatures->settings();
    ::CheckMenuItem(logMenu, IDM_SHOW_TIMES, settings.showTimes ? MF_CHECKED : MF_UNCHECKED);
    ::CheckMenuItem(logMenu, IDM_KEEP_TRANSCRIPTS,
                    settings.keepTranscripts ? MF_CHECKED : MF_UNCHECKED);
    ::CheckMenuRadioItem(notifyMenu, IDM_NOTIFY_EVERY_LINE, IDM_NOTIFY_NONE,
                         IDM_NOTIFY_EVERY_LINE + static_cast<int>(settings.notify), MF_BYCOMMAND);
    const struct {
        int id;
        bool on;
    } switches[] = {{IDM_ANNOUNCE, settings.announce},
                    {IDM_SOUND, settings.sound},
                    {IDM_KEEP_IN_NOTIFICATION_AREA, settings.keepInNotificationArea}};
    for (const auto& entry : switches)
        ::CheckMenuItem(notifyMenu, entry.id, entry.on ? MF_CHECKED : MF_UNCHECKED);
    ::CheckMenuRadioItem(viewMenu, IDM_THEME_FOLLOW_DESKTOP, IDM_THEME_DARK,
                         IDM_THEME_FOLLOW_DESKTOP + static_cast<int>(settings.theme), MF_BYCOMMAND);
}

bool DialogExtras::command(int id) {
    const Settings& settings = windowFeatures->settings();
    switch (id) {
    case IDM_SHOW_TIMES:
        windowFeatures->setShowTimes(!settings.showTimes);
        rerender();
        break;
    case IDM_SAVE_LOG: {
        const std::wstring path = ChooseSaveFile(window);
        if (!path.empty())
            windowFeatures->saveLog(Utf8FromWide(path));
        break;
    }
    case IDM_KEEP_TRANSCRIPTS:
        windowFeatures->setKeepTranscripts(!settings.keepTranscripts);
        break;
    case IDM_NOTIFY_EVERY_LINE:
    case IDM_NOTIFY_MENTIONS:
    case IDM_NOTIFY_NONE:
        windowFeatures->setNotifyMode(static_cast<NotifyMode>(id - IDM_NOTIFY_EVERY_LINE));
        break;
    case IDM_ANNOUNCE:
        windowFeatures->setAnnounce(!settings.announce);
        break;
    case IDM_SOUND:
        windowFeatures->setSound(!settings.sound);
        break;
    case IDM_KEEP_IN_NOTIFICATION_AREA:
        windowFeatures->setKeepInNotificationArea(!settings.keepInNotificationArea);
        break;
    case IDM_THEME_FOLLOW_DESKTOP:
    case IDM_THEME_LIGHT:
    case IDM_THEME_DARK: {
        const auto chosen = static_cast<ThemeChoice>(id - IDM_THEME_FOLLOW_DESKTOP);
        windowFeatures->setTheme(chosen);
        theme->setChoice(chosen);
        break;
    }
    case IDM_TRAY_OPEN:
        bringBack();
        return true;
    case IDM_TRAY_QUIT:
        quitting = true;
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        return true;
    default:
        return false;
    }
    checkMenus();
    return true;
}

void DialogExtras::activated(bool active) {
    isActive = active;
    if (active)
        windowFeatures->windowActivated();
    else
        windowFeatures->windowDeactivated();
}

bool DialogExtras::hidOnClose() {
    if (quitting || !windowFeatures->settings().keepInNotificationArea)
        return false;
    ::ShowWindow(window, SW_HIDE);
    windowFeatures->windowHidden(true);
    if (notifier->iconShown())
        return true;
    // No notification area to come back through: closing closes.
    windowFeatures->windowHidden(false);
    return false;
}

void DialogExtras::bringBack() {
    ::ShowWindow(window, ::IsIconic(window) ? SW_RESTORE : SW_SHOW);
    ::SetForegroundWindow(window);
    windowFeatures->windowHidden(false);
}

void DialogExtras::showIconMenu() {
    HMENU menu = ::CreatePopupMenu();
    ::AppendMenuW(menu, MF_STRING, IDM_TRAY_OPEN, L"&Open Parlox");
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, IDM_TRAY_QUIT, L"&Quit");
    ::SetMenuDefaultItem(menu, IDM_TRAY_OPEN, FALSE);
    POINT at{};
    ::GetCursorPos(&at);
    // The menu closes when the user clicks elsewhere only if its owner is the foreground window.
    ::SetForegroundWindow(window);
    ::TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, window, nullptr);
    ::PostMessageW(window, WM_NULL, 0, 0);
    ::DestroyMenu(menu);
}

void DialogExtras::scheduleTick() {
    const auto due = windowFeatures->nextTick();
    if (!due || timerSet)
        return;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        *due - NotificationPolicy::Clock::now());
    timerSet = ::SetTimer(window, TICK_TIMER,
                          static_cast<UINT>(std::max<long long>(USER_TIMER_MINIMUM, wait.count())),
                          nullptr) != 0;
}

void DialogExtras::timer(UINT_PTR id) {
    if (id != TICK_TIMER)
        return;
    ::KillTimer(window, TICK_TIMER);
    timerSet = false;
    windowFeatures->tick();
    scheduleTick();
}

void DialogExtras::trayIcon(LPARAM event) {
    const auto what = static_cast<UINT>(LOWORD(event));
    if (what == WM_CONTEXTMENU || what == WM_RBUTTONUP)
        showIconMenu();
    else if (what == NIN_BALLOONUSERCLICK || what == WM_LBUTTONUP || what == NIN_SELECT)
        bringBack();
}
