// NotificationPolicy: decides which arriving lines notify and folds a burst of them into one
// notification. Lives on the window's thread; the front-end feeds it lines and a timer.
#pragma once

#include "features/notifier.h"
#include "features/notify_mode.h"
#include "model/chat_view_model.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

class NotificationPolicy {
public:
    using Clock = std::chrono::steady_clock;
    // Lines within this time of a shown notification update it instead of adding one, and no
    // notification follows another sooner.
    static constexpr Clock::duration COALESCE = std::chrono::seconds(2);

    explicit NotificationPolicy(Notifier& target) : notifier(target) {}

    void setMode(NotifyMode newMode) { mode = newMode; }
    NotifyMode notifyMode() const { return mode; }
    // Whether a burst's first notification asks for the desktop's message sound.
    void setSound(bool on) { sound = on; }
    // The Name the window last connected or hosted with: lines written under it are the user's
    // own, and it is the name that mentions look for.
    void setOwnName(std::string name) { ownName = std::move(name); }

    // A line the user did not write whose text holds the own name as a word.
    bool mentionsMe(std::string_view line, const ChatViewModel::LineInfo& info) const;
    // A line the log just got. Only chat lines from others notify, and only while the window is
    // not the active one; each of those counts as unread, whatever the Notify choice.
    void lineArrived(std::string_view line, const ChatViewModel::LineInfo& info, bool windowActive,
                     Clock::time_point now);
    // When the update of lines held back is due, if any; the front-end calls tick() then.
    std::optional<Clock::time_point> nextDue() const;
    void tick(Clock::time_point now);
    // The user looked: nothing is unread any more.
    void windowActivated();
    // Chat lines from others that arrived since the window was last the active one.
    int unreadLines() const { return unread; }

private:
    bool notifies(std::string_view line, const ChatViewModel::LineInfo& info) const;

    Notifier& notifier;
    NotifyMode mode = NotifyMode::EveryLine;
    bool sound = false;
    std::string ownName;
    int unread = 0;
    bool shown = false; // a notification stands for unread lines
    Clock::time_point shownAt{};
    int lines = 0;    // unread lines the notification shown stands for, held back ones included
    int heldBack = 0; // lines that arrived within COALESCE of shownAt, not shown yet
    std::string lastWriter;
};
