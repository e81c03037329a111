// DialogView: shows the global ChatView in the dialog's controls (the rich-edit log, the user list
// and the input line), on the dialog's thread, changing only what changed since the last refresh.
#pragma once

#include "app/win32/rich_edit_log.h"
#include "chat/log_pager.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class DialogView {
public:
    // The controls' owner is the main dialog; they outlive this object.
    DialogView(HWND log, HWND users, HWND input);

    // Shows what changed in ChatView since the last refresh. Returns true when lines are still
    // waiting (see LogPager): the caller then asks for another refresh.
    bool refresh();

private:
    RichEditLog log;
    LogPager logPager;
    HWND users;
    HWND input;
    std::vector<std::string> shownUsers;
    uint64_t seenInputClears = 0;
};
