// Notifier: what each front-end does to tell the user that lines arrived while its window was not
// the active one (a desktop notification on Linux, a flash and a balloon on Windows).
#pragma once

#include <string>

struct Notification {
    std::string summary;   // "<name> in Parlox", plain text
    std::string body;      // the line's text, or "N new lines"; plain text
    int lines = 1;         // how many lines it stands for
    bool replaces = false; // update the notification shown last instead of adding one
    bool sound = false;    // ask for the desktop's message sound: the first of a burst only
};

class Notifier {
public:
    virtual ~Notifier() = default;
    // On the window's thread; must return at once.
    virtual void show(const Notification& notification) = 0;
    // The window became the active one: nothing is unread any more.
    virtual void withdraw() = 0;
};
