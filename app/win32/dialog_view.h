// DialogView: shows the global ChatView in the dialog's controls (the rich-edit log, the user list
// and the input line), on the dialog's thread, changing only what changed since the last refresh.
#pragma once

#include "app/win32/rich_edit_log.h"
#include "model/log_pager.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class WindowFeatures;

class DialogView {
public:
    // The controls' owner is the main dialog; they outlive this object, and so do features, which
    // hear of new lines and say how each line shows.
    DialogView(HWND log, HWND users, HWND input, WindowFeatures* features = nullptr);

    // Shows what changed in ChatView since the last refresh; windowActive: whether the user is
    // looking (new lines then notify nothing). Returns true when lines are still waiting (see
    // LogPager): the caller then asks for another refresh.
    bool refresh(bool windowActive);
    // Shows the whole log again, as the features now say, from the next refresh on.
    void rerender();

private:
    WindowFeatures* features;
    RichEditLog log;
    LogPager logPager;
    HWND users;
    HWND input;
    bool windowActive = true; // as the refresh under way was told
    std::vector<std::string> shownUsers;
    uint64_t seenInputClears = 0;
};
