// NotificationArea: the window's icon in the desktop's notification area (a StatusNotifierItem on
// Linux, a Shell_NotifyIcon icon on Windows), through which a window in the background or hidden
// is found again.
#pragma once

#include <string>

class NotificationArea {
public:
    virtual ~NotificationArea() = default;
    // On the window's thread; must return at once. Shows the icon, or updates it: unread is the
    // count of lines the user has not seen (0: none), toolTip says so in words.
    virtual void showIcon(int unread, const std::string& toolTip) = 0;
    virtual void hideIcon() = 0;
};
