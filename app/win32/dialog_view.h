// DialogView: shows the global ChatView in the dialog's controls (the rich-edit log, the user list
// and the input line), on the dialog's thread, changing only what changed since the last refresh.
#pragma once

#include "chat/chat_view_model.h"

#include <windows.h>

#include <cstdint>
#include <deque>
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
    // LINES_PER_REFRESH): the caller then asks for another refresh.
    bool refresh(bool windowActive);
    // Shows the whole log again, as the features now say; true as for refresh().
    bool rerender();

    // The log's whole text, paragraphs ending in "\n", as UTF-8 (for tests and the screenshot).
    static std::string logText(HWND log);

    // A busy room can hand over a whole log's worth of lines at once; showing them in slices keeps
    // the dialog answering meanwhile.
    static constexpr size_t LINES_PER_REFRESH = 100;

private:
    void applyLog(ChatViewModel::LogUpdate update);
    void appendLine(const std::string& line, const ChatViewModel::LineInfo& info);
    void dropLines(size_t count);
    long textLength() const;

    HWND log;
    HWND users;
    HWND input;
    WindowFeatures* features;
    ChatViewModel::LogCursor logCursor;
    // Characters each shown line takes in the control, separator included, oldest first; measured
    // from the control, since a line with breaks of its own in it becomes several paragraphs.
    std::deque<long> lineLengths;
    // Handed over by ChatView but not shown yet.
    std::deque<std::pair<std::string, ChatViewModel::LineInfo>> pendingLines;
    std::vector<std::string> shownUsers;
    uint64_t seenInputClears = 0;
};
