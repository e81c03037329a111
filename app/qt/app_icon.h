// The program's icon and the id under which the desktop knows the program.
#pragma once

#include <QIcon>

// The id of the desktop entry, the AppStream component and the themed icon (set by the build).
inline constexpr char APP_ID[] = PARLOX_APP_ID;

// The icon theme's icon named APP_ID, which an installed Parlox puts into the hicolor theme, so
// that the window shows what the menu and the dock show; the copy built into the program when the
// theme has none (a build run from its directory).
QIcon AppIcon();
