// FilesMenuFeed: what a Files menu shows, kept current: the one place where both front-ends'
// menus follow the room's files.
#pragma once

#include "commands/file_menu_items.h"
#include "commands/menu_entry_text.h"
#include "model/window_call.h"

#include <memory>
#include <vector>

// Made, used and destroyed on the window's thread. While it exists it is the room files' only
// observer: every change requests refreshCall, whose call on the window's thread is to run
// refresh() and show what it says changed.
class FilesMenuFeed {
public:
    explicit FilesMenuFeed(std::shared_ptr<WindowCall> refreshCall);
    // The observer goes and the call is detached. The call itself lives on with any observer call
    // still running on a network thread.
    ~FilesMenuFeed();
    FilesMenuFeed(const FilesMenuFeed&) = delete;
    FilesMenuFeed& operator=(const FilesMenuFeed&) = delete;

    // Reads the room's files: true when the items or "Send a file…"'s state are not those shown
    // so far.
    bool refresh();
    const std::vector<FileMenuItem>& items() const { return shown; }
    // Whether "Send a file…" can be chosen: the window is in a room.
    bool canSend() const { return inRoom; }

private:
    std::shared_ptr<WindowCall> call;
    std::vector<FileMenuItem> shown;
    bool inRoom = false;
    bool refreshed = false;
};
