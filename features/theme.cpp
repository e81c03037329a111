// The theme the window shows for the user's choice and the desktop's preference.
#include "features/theme.h"

#include <algorithm>
#include <cmath>

namespace {

double Luminance(Rgb colour) {
    const auto channel = [](uint8_t value) {
        const double c = value / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.red) + 0.7152 * channel(colour.green) +
           0.0722 * channel(colour.blue);
}

// Each channel a tenth of the way to black, or to white.
Rgb Step(Rgb colour, bool darker) {
    const auto move = [darker](uint8_t value) {
        return static_cast<uint8_t>(darker ? value - (value + 9) / 10
                                           : value + (255 - value + 9) / 10);
    };
    return {move(colour.red), move(colour.green), move(colour.blue)};
}

} // namespace

double Contrast(Rgb a, Rgb b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

Rgb Readable(Rgb background, Rgb text) {
    const bool darker = Luminance(text) > Luminance(background);
    // Black and white stand 21:1 against each other, so the steps end within a few dozen.
    for (int step = 0; step < 64 && Contrast(background, text) < MIN_CONTRAST; ++step)
        background = Step(background, darker);
    return background;
}

Theme ThemeFor(ThemeChoice choice, DesktopScheme desktop) {
    switch (choice) {
    case ThemeChoice::Light:
        return Theme::Light;
    case ThemeChoice::Dark:
        return Theme::Dark;
    case ThemeChoice::FollowDesktop:
        break;
    }
    switch (desktop) {
    case DesktopScheme::Dark:
        return Theme::Dark;
    case DesktopScheme::Light:
        return Theme::Light;
    case DesktopScheme::NoPreference:
        break;
    }
    return Theme::System;
}

DesktopScheme SchemeFromPortal(std::optional<uint32_t> value) {
    if (value == 1u)
        return DesktopScheme::Dark;
    if (value == 2u)
        return DesktopScheme::Light;
    return DesktopScheme::NoPreference;
}
