// The theme the window shows for the user's choice and the desktop's preference.
#include "features/theme.h"

Theme ThemeFor(ThemeChoice choice, DesktopScheme desktop) {
    switch (choice) {
    case ThemeChoice::Light:
        return Theme::Light;
    case ThemeChoice::Dark:
        return Theme::Dark;
    case ThemeChoice::FollowDesktop:
        break;
    }
    return desktop == DesktopScheme::Dark ? Theme::Dark : Theme::Light;
}

DesktopScheme SchemeFromPortal(std::optional<uint32_t> value) {
    if (value == 1u)
        return DesktopScheme::Dark;
    if (value == 2u)
        return DesktopScheme::Light;
    return DesktopScheme::NoPreference;
}
