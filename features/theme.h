// Light and dark: the user's choice, what the desktop prefers, and the colours of the dark theme
// that both front-ends paint with.
#pragma once

#include <cstdint>
#include <optional>

// The View menu's choices.
enum class ThemeChoice { FollowDesktop, Light, Dark };
// What the desktop says it prefers.
enum class DesktopScheme { NoPreference, Dark, Light };
// What the window shows. System is the system's own look, the one the window has always had, for
// when nobody expresses a preference; Light is that look with every text readable on its
// background (Readable); Dark has the colours below.
enum class Theme { System, Light, Dark };

Theme ThemeFor(ThemeChoice choice, DesktopScheme desktop);

// The settings portal's org.freedesktop.appearance color-scheme: 1 prefers dark, 2 light, and 0
// (or anything else) expresses no preference.
DesktopScheme SchemeFromPortal(std::optional<uint32_t> value);

struct Rgb {
    uint8_t red, green, blue;
};

// The least contrast between a text and its background, as the Web Content Accessibility
// Guidelines ask of normal text.
inline constexpr double MIN_CONTRAST = 4.5;
// The contrast ratio of two colours (1 to 21), by the guidelines' relative luminance.
double Contrast(Rgb a, Rgb b);
// background as it is when text stands out from it at least MIN_CONTRAST, else darkened (for a
// text lighter than it) or lightened step by step until text does.
Rgb Readable(Rgb background, Rgb text);

// The dark theme's colours. Every text colour stands at least 4.5:1 against its background, and
// the window's frame, its controls' faces and the fields' insides are told apart.
struct DarkColours {
    static constexpr Rgb WINDOW = {0x2b, 0x2b, 0x2b};    // the dialog's face, labels on it
    static constexpr Rgb FIELD = {0x1e, 0x1e, 0x1e};     // fields, the log and the list
    static constexpr Rgb BUTTON = {0x3a, 0x3a, 0x3a};    // push buttons, the menu bar
    static constexpr Rgb TEXT = {0xf0, 0xf0, 0xf0};      // on all three
    static constexpr Rgb DISABLED = {0x9a, 0x9a, 0x9a};  // text of what cannot be used now
    static constexpr Rgb SELECTION = {0x00, 0x5a, 0x9e}; // selected text and list entries
    static constexpr Rgb SELECTED_TEXT = {0xff, 0xff, 0xff};
    static constexpr Rgb LINK = {0x6c, 0xb4, 0xff};
    static constexpr Rgb BORDER = {0x5a, 0x5a, 0x5a};
};
