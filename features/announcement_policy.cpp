// AnnouncementPolicy: lines wait until neither the last announcement nor the last key is recent,
// then go out as one text.
#include "features/announcement_policy.h"

#include "features/line_source.h"
#include "features/notification_text.h"

#include <algorithm>

void AnnouncementPolicy::setEnabled(bool on) {
    enabled = on;
    if (!on)
        dropWaiting();
}

void AnnouncementPolicy::linesArrived(const ChatViewModel::LogUpdate& update, bool windowActive,
                                      Clock::time_point now) {
    if (!enabled || !windowActive)
        return;
    for (size_t i = 0; i < update.added.size() && i < update.addedInfo.size(); ++i) {
        const std::string& line = update.added[i];
        const ChatViewModel::LineInfo& info = update.addedInfo[i];
        if (!FromSomeoneElse(line, info, ownName))
            continue;
        const std::string writer(info.name(line));
        if (std::find(writers.begin(), writers.end(), writer) == writers.end())
            writers.push_back(writer);
        if (++waiting == 1)
            waitingLine = AnnouncedLine(writer, info.text(line));
    }
    tick(now);
}

void AnnouncementPolicy::keyTyped(Clock::time_point now) {
    lastKey = now;
}

AnnouncementPolicy::Clock::time_point AnnouncementPolicy::dueAt() const {
    Clock::time_point due{};
    if (lastAnnounced)
        due = *lastAnnounced + FOLD;
    if (lastKey)
        due = std::max(due, *lastKey + TYPING_PAUSE);
    return due;
}

std::optional<AnnouncementPolicy::Clock::time_point> AnnouncementPolicy::nextDue() const {
    if (waiting == 0)
        return std::nullopt;
    return dueAt();
}

void AnnouncementPolicy::tick(Clock::time_point now) {
    if (waiting == 0 || now < dueAt())
        return;
    lastAnnounced = now;
    announceWaiting();
}

void AnnouncementPolicy::announceWaiting() {
    const std::string text = waiting == 1 ? waitingLine : NewLinesFrom(waiting, writers);
    dropWaiting();
    announcer.announce(text);
}

void AnnouncementPolicy::dropWaiting() {
    waiting = 0;
    waitingLine.clear();
    writers.clear();
}
