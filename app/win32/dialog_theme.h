// DialogTheme: the dialog's light or dark colours, as the user chose or as Windows prefers for
// apps (AppsUseLightTheme, read at the start and again whenever the setting changes).
#pragma once

#include "features/theme.h"

#include <windows.h>

// The calls that change how the system draws the dialog, looked up at run time (null where the
// system lacks them); tests put recorders here.
struct ThemeCalls {
    HRESULT(WINAPI* setWindowAttribute)(HWND, DWORD, LPCVOID, DWORD) = nullptr; // dwmapi.dll
    HRESULT(WINAPI* setWindowTheme)(HWND, LPCWSTR, LPCWSTR) = nullptr;          // uxtheme.dll
};
extern ThemeCalls ThemeApi;

// The title bar's dark mode: attribute 20 from Windows 10 version 2004, 19 before it.
inline constexpr DWORD DWMWA_USE_IMMERSIVE_DARK_MODE = 20;
inline constexpr DWORD DWMWA_USE_IMMERSIVE_DARK_MODE_BEFORE_2004 = 19;

// What Windows says apps should look like: HKCU\...\Themes\Personalize AppsUseLightTheme, 0 for
// dark, 1 for light; no value, no preference.
DesktopScheme AppsScheme();

class DialogTheme {
public:
    DialogTheme(HWND dialog, ThemeChoice choice);
    ~DialogTheme();
    DialogTheme(const DialogTheme&) = delete;
    DialogTheme& operator=(const DialogTheme&) = delete;

    void setChoice(ThemeChoice choice);
    // WM_SETTINGCHANGE: the apps' light or dark preference may have changed.
    void settingChanged(LPARAM area);
    // WM_CTLCOLORDLG and the controls' WM_CTLCOLOR* messages: the brush to paint with (the text's
    // colours set on dc), or null for the system's own.
    HBRUSH controlColours(UINT message, HDC dc) const;
    Theme shown() const { return theme; }

private:
    void apply();

    HWND dialog;
    ThemeChoice choice;
    DesktopScheme desktop;
    Theme theme = Theme::System;
    HBRUSH windowBrush;
    HBRUSH fieldBrush;
};
