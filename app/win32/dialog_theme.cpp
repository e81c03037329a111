// DialogTheme: the dark title bar through DwmSetWindowAttribute, dark scroll bars and buttons
// through the system's dark Explorer theme, the controls' colours through WM_CTLCOLOR*, and the
// rich edit's through its own messages.
#include "app/win32/dialog_theme.h"

#include "commands/control_table.h"

#include <richedit.h>

ThemeCalls ThemeApi;

namespace {

COLORREF ColourOf(Rgb rgb) {
    return RGB(rgb.red, rgb.green, rgb.blue);
}

void LookUp() {
    static const bool lookedUp = [] {
        if (ThemeApi.setWindowAttribute != nullptr || ThemeApi.setWindowTheme != nullptr)
            return true; // a test's
        // Loaded once, never released: the functions stay for the program's life.
        if (const HMODULE dwm = ::LoadLibraryW(L"dwmapi.dll"))
            ThemeApi.setWindowAttribute = reinterpret_cast<decltype(ThemeApi.setWindowAttribute)>(
                reinterpret_cast<void*>(::GetProcAddress(dwm, "DwmSetWindowAttribute")));
        if (const HMODULE uxtheme = ::LoadLibraryW(L"uxtheme.dll"))
            ThemeApi.setWindowTheme = reinterpret_cast<decltype(ThemeApi.setWindowTheme)>(
                reinterpret_cast<void*>(::GetProcAddress(uxtheme, "SetWindowTheme")));
        return true;
    }();
    (void)lookedUp;
}

} // namespace

DesktopScheme AppsScheme() {
    DWORD light = 0;
    DWORD size = sizeof light;
    if (::RegGetValueW(
            HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
            L"AppsUseLightTheme", RRF_RT_REG_DWORD, nullptr, &light, &size) != ERROR_SUCCESS)
        return DesktopScheme::NoPreference;
    return light == 0 ? DesktopScheme::Dark : DesktopScheme::Light;
}

DialogTheme::DialogTheme(HWND target, ThemeChoice chosen)
    : dialog(target), choice(chosen), desktop(AppsScheme()),
      windowBrush(::CreateSolidBrush(ColourOf(DarkColours::WINDOW))),
      fieldBrush(::CreateSolidBrush(ColourOf(DarkColours::FIELD))) {
    LookUp();
    apply();
}

DialogTheme::~DialogTheme() {
    ::DeleteObject(windowBrush);
    ::DeleteObject(fieldBrush);
}

void DialogTheme::setChoice(ThemeChoice chosen) {
    choice = chosen;
    apply();
}

void DialogTheme::settingChanged(LPARAM area) {
    const auto* name = reinterpret_cast<const wchar_t*>(area);
    if (name == nullptr || ::lstrcmpW(name, L"ImmersiveColorSet") != 0)
        return;
    desktop = AppsScheme();
    apply();
}

void DialogTheme::apply() {
    const Theme wanted = ThemeFor(choice, desktop);
    // Windows' own light colours already give every text 4.5:1: light is the system's look.
    const bool dark = wanted == Theme::Dark;
    if (dark == (theme == Theme::Dark)) {
        theme = wanted;
        return;
    }
    theme = wanted;
    if (ThemeApi.setWindowAttribute != nullptr) {
        const BOOL on = dark;
        if (FAILED(
                ThemeApi.setWindowAttribute(dialog, DWMWA_USE_IMMERSIVE_DARK_MODE, &on, sizeof on)))
            ThemeApi.setWindowAttribute(dialog, DWMWA_USE_IMMERSIVE_DARK_MODE_BEFORE_2004, &on,
                                        sizeof on);
    }
    // Scroll bars and push buttons in the system's dark theme, or back in its usual one.
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (ThemeApi.setWindowTheme != nullptr)
            ThemeApi.setWindowTheme(child, dark ? L"DarkMode_Explorer" : nullptr, nullptr);
    }
    // The rich edit paints itself: its background, and the colour of all its text and of what
    // comes.
    const HWND log = ::GetDlgItem(dialog, IDC_LOG);
    ::SendMessageW(log, EM_SETBKGNDCOLOR, dark ? 0 : 1, ColourOf(DarkColours::FIELD));
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR;
    format.dwEffects = dark ? 0 : CFE_AUTOCOLOR;
    format.crTextColor = ColourOf(DarkColours::TEXT);
    ::SendMessageW(log, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
    ::SendMessageW(log, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    ::RedrawWindow(dialog, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

HBRUSH DialogTheme::controlColours(UINT message, HDC dc) const {
    if (theme != Theme::Dark)
        return nullptr;
    const bool field = message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX;
    ::SetTextColor(dc, ColourOf(DarkColours::TEXT));
    ::SetBkColor(dc, ColourOf(field ? DarkColours::FIELD : DarkColours::WINDOW));
    return field ? fieldBrush : windowBrush;
}
