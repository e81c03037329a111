// LogPager: the model's log changes turned into slices of edits on a log control.
#include "model/log_pager.h"

#include <algorithm>
#include <iterator>
#include <utility>

bool LogPager::refresh(const ChatViewModel& model, LogControl& control) {
    ChatViewModel::LogUpdate update = model.logSince(cursor);
    tell(update);
    if (update.cleared) {
        control.clear();
        shownUnits.clear();
        owedDrops = 0;
        waiting.clear();
    }
    // Lines the log let go of leave the top of what is shown first, then the waiting ones. Shown
    // lines already owed are not counted again: the update counts from the first line after them.
    const size_t shownDropped = std::min(update.droppedFront, shownUnits.size() - owedDrops);
    const size_t waitingDropped = std::min(update.droppedFront - shownDropped, waiting.size());
    waiting.erase(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(waitingDropped));
    for (size_t i = 0; i < update.added.size(); ++i)
        waiting.push_back({std::move(update.added[i]), update.addedInfo[i]});
    owedDrops += shownDropped;
    if (owedDrops == 0 && waiting.empty())
        return false;

    const size_t dropped = std::min(owedDrops, DROPS_PER_REFRESH);
    size_t dropUnits = 0;
    for (size_t i = 0; i < dropped; ++i) {
        dropUnits += shownUnits.front();
        shownUnits.pop_front();
    }
    owedDrops -= dropped;
    const auto sliceEnd =
        waiting.begin() + static_cast<std::ptrdiff_t>(std::min(waiting.size(), LINES_PER_REFRESH));
    std::vector<LogLine> slice(std::make_move_iterator(waiting.begin()),
                               std::make_move_iterator(sliceEnd));
    waiting.erase(waiting.begin(), sliceEnd);
    const std::vector<size_t> units = control.edit(dropUnits, slice);
    shownUnits.insert(shownUnits.end(), units.begin(), units.end());
    return owedDrops > 0 || !waiting.empty();
}

void LogPager::reshow(LogControl& control) {
    control.clear();
    cursor = {};
    shownUnits.clear();
    owedDrops = 0;
    waiting.clear();
}

void LogPager::tell(const ChatViewModel::LogUpdate& update) {
    const ChatViewModel::LogCursor before = heardUpTo;
    heardUpTo = cursor;
    if (!heard)
        return;
    // After a reshow the update starts over from the log's first line; those already heard are
    // left out. The update's lines are the ones just before the cursor's end.
    size_t known = 0;
    if (before.generation == cursor.generation) {
        const uint64_t first = cursor.end - update.added.size();
        if (before.end > first)
            known =
                static_cast<size_t>(std::min<uint64_t>(before.end - first, update.added.size()));
    }
    if (known == 0) {
        heard(update);
        return;
    }
    if (known == update.added.size())
        return;
    ChatViewModel::LogUpdate fresh;
    fresh.added.assign(update.added.begin() + static_cast<std::ptrdiff_t>(known),
                       update.added.end());
    fresh.addedInfo.assign(update.addedInfo.begin() + static_cast<std::ptrdiff_t>(known),
                           update.addedInfo.end());
    heard(fresh);
}
