// Announcer: what each front-end does to have screen readers speak a text without moving the
// focus (an AT-SPI notification on Linux, a UI Automation notification on Windows).
#pragma once

#include <string>

class Announcer {
public:
    virtual ~Announcer() = default;
    // On the window's thread; must return at once. Text is plain UTF-8, already made safe to show.
    virtual void announce(const std::string& text) = 0;
};
