// LogPager: how a window's log control follows ChatView's log, the same for every front-end:
// lines the log let go of leave the top, new lines arrive in slices, and the end stays in view.
#pragma once

#include "model/chat_view_model.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// One line of the log as the pager hands it to a control: its text and what the model keeps
// beside it (arrival time, writer), from which a control's style decides how it shows.
struct LogLine {
    std::string text;
    ChatViewModel::LineInfo info;
};

// What a front-end's log control does for the pager, in the control's own units of text (text
// blocks, characters): a line with breaks of its own may take several, so the control says how
// many each line took.
class LogControl {
public:
    virtual ~LogControl() = default;
    virtual void clear() = 0;
    // One refresh's edit as one operation: the first dropUnits units leave the top, then each of
    // lines is appended as a paragraph of its own and, when there were any, the end is scrolled
    // into view. Returns the units each appended line took, in order.
    virtual std::vector<size_t> edit(size_t dropUnits, const std::vector<LogLine>& lines) = 0;
};

class LogPager {
public:
    // A busy room can hand over a whole log's worth of lines at once; showing at most this many
    // per refresh keeps each refresh short and the window answering between them.
    static constexpr size_t LINES_PER_REFRESH = 100;
    // Removing lines from the top of a control costs about as much as adding them, and a busy
    // room can let go of the whole log at once: at most this many shown lines leave per refresh,
    // the rest with the next ones. It is more than a refresh adds, so the excess shrinks each time.
    static constexpr size_t DROPS_PER_REFRESH = 2 * LINES_PER_REFRESH;

    // Brings control one slice closer to model's log. Returns true while lines are still to come or
    // to go: the caller then refreshes again, after whatever else its event loop has to do.
    bool refresh(const ChatViewModel& model, LogControl& control);
    // Empties control and shows the whole log again from the next refresh on, as a changed style
    // now says. Lines heard before are not heard again.
    void reshow(LogControl& control);

    // Told once of every line new to the log, on the refresh that takes it from the model, before
    // it is shown (notifications look at lines as they arrive, not as they are painted).
    std::function<void(const ChatViewModel::LogUpdate&)> heard;

private:
    void tell(const ChatViewModel::LogUpdate& update);

    ChatViewModel::LogCursor cursor;
    ChatViewModel::LogCursor heardUpTo; // where heard() has been told up to
    std::deque<size_t> shownUnits;      // units each shown line takes, oldest first
    size_t owedDrops = 0;               // shown lines, from the top, that the model let go of
    std::deque<LogLine> waiting;        // handed over by the model but not shown yet, oldest first
};
