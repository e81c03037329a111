// NotificationPolicy: the first line of a burst shows its own text; the lines that follow within
// two seconds wait and then update that notification as "N new lines", at most once per period.
#include "features/notification_policy.h"

#include "features/line_source.h"
#include "features/mention.h"
#include "features/notification_text.h"

bool NotificationPolicy::mentionsMe(std::string_view line,
                                    const ChatViewModel::LineInfo& info) const {
    return FromSomeoneElse(line, info, ownName) && MentionsName(info.text(line), ownName);
}

bool NotificationPolicy::notifies(std::string_view line,
                                  const ChatViewModel::LineInfo& info) const {
    switch (mode) {
    case NotifyMode::EveryLine:
        return true;
    case NotifyMode::Mentions:
        return mentionsMe(line, info);
    case NotifyMode::None:
        return false;
    }
    return false;
}

void NotificationPolicy::lineArrived(std::string_view line, const ChatViewModel::LineInfo& info,
                                     bool windowActive, Clock::time_point now) {
    if (windowActive || !FromSomeoneElse(line, info, ownName))
        return;
    ++unread;
    if (!notifies(line, info))
        return;
    lastWriter = std::string(info.name(line));
    if (shown && (heldBack > 0 || now - shownAt < COALESCE)) {
        ++lines;
        ++heldBack;
        return;
    }
    shown = true;
    shownAt = now;
    lines = 1;
    heldBack = 0;
    notifier.show(
        {NotificationSummary(lastWriter), NotificationBody(info.text(line)), 1, false, sound});
}

std::optional<NotificationPolicy::Clock::time_point> NotificationPolicy::nextDue() const {
    if (heldBack == 0)
        return std::nullopt;
    return shownAt + COALESCE;
}

void NotificationPolicy::tick(Clock::time_point now) {
    if (heldBack == 0 || now - shownAt < COALESCE)
        return;
    shownAt = now;
    heldBack = 0;
    notifier.show({NotificationSummary(lastWriter), NewLinesBody(lines), lines, true, false});
}

void NotificationPolicy::windowActivated() {
    const bool hadUnread = shown;
    shown = false;
    unread = 0;
    lines = 0;
    heldBack = 0;
    if (hadUnread)
        notifier.withdraw();
}
