// AnnouncementPolicy: which lines screen readers hear while the user looks at the window, and
// when. Lives on the window's thread; the front-end feeds it the lines of each refresh, the keys
// typed into the input line and a timer.
#pragma once

#include "features/announcer.h"
#include "model/chat_view_model.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Chat lines from someone else are announced while the window is the active one (in the
// background, notifications tell of them instead). Announcements are polite: none comes while
// the user is typing, and lines that arrive together, or within FOLD of the last announcement, are
// told as one ("5 new lines, from Bob and Ann"); a line on its own is told with its text.
class AnnouncementPolicy {
public:
    using Clock = std::chrono::steady_clock;
    // No announcement follows another sooner; what arrives meanwhile waits and is told together.
    static constexpr Clock::duration FOLD = std::chrono::seconds(2);
    // The user counts as typing until this long after the last key in the input line.
    static constexpr Clock::duration TYPING_PAUSE = std::chrono::milliseconds(1500);

    explicit AnnouncementPolicy(Announcer& target) : announcer(target) {}

    // Off: nothing is announced, and what waits is dropped.
    void setEnabled(bool on);
    // The Name the window last connected or hosted with: lines written under it are the user's.
    void setOwnName(std::string name) { ownName = std::move(name); }

    // The lines a refresh of the view brought, all at once.
    void linesArrived(const ChatViewModel::LogUpdate& update, bool windowActive,
                      Clock::time_point now);
    // A key changed the input line.
    void keyTyped(Clock::time_point now);
    // When the lines that wait are due, if any wait; the front-end calls tick() then.
    std::optional<Clock::time_point> nextDue() const;
    void tick(Clock::time_point now);
    // The window went to the background (notifications tell of lines there): what waits is
    // dropped.
    void dropWaiting();

private:
    Clock::time_point dueAt() const;
    void announceWaiting();

    Announcer& announcer;
    bool enabled = true;
    std::string ownName;
    std::optional<Clock::time_point> lastAnnounced;
    std::optional<Clock::time_point> lastKey;
    int waiting = 0;                  // lines not told yet
    std::string waitingLine;          // the text of the one line, while only one waits
    std::vector<std::string> writers; // of the lines that wait, each once, first writer first
};
