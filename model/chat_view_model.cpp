// ChatViewModel: the log as a deque of numbered lines under a byte cap, and the user list keyed
// by participant id.
#include "model/chat_view_model.h"

#include "wire/formatting.h"
#include "wire/protocol.h"

#include <algorithm>
#include <utility>

std::string_view ChatViewModel::LineInfo::name(std::string_view line) const {
    if (!isChat() || nameSize + 1 > line.size())
        return {};
    return line.substr(1, nameSize);
}

std::string_view ChatViewModel::LineInfo::text(std::string_view line) const {
    if (!isChat())
        return line;
    // "<" name ">: " text
    const size_t start = nameSize + 4;
    return start <= line.size() ? line.substr(start) : std::string_view();
}

void ChatViewModel::appendLine(std::string line, size_t nameSize) {
    // A line longer than the whole log keeps its first characters; it then fills the log alone.
    if (line.size() + 1 > LOG_LIMIT)
        line.resize(CutToCharBoundary(line, LOG_LIMIT - 1).size());
    const LineInfo info{std::chrono::system_clock::now(), nameSize};
    LineListener listener;
    {
        std::lock_guard<std::mutex> guard(mutex);
        listener = lineListener;
    }
    // Handed over before the line moves into the log, so the listener needs no copy of its own.
    if (listener)
        listener(line, info);
    {
        std::lock_guard<std::mutex> guard(mutex);
        bytes += line.size() + 1;
        lines.push_back(std::move(line));
        infos.push_back(info);
        while (bytes > LOG_LIMIT) {
            bytes -= lines.front().size() + 1;
            lines.pop_front();
            infos.pop_front();
            ++firstSeq;
        }
    }
    notify();
}

void ChatViewModel::setUser(int64_t id, std::string name) {
    if (id != HOST_ID && !IsClientId(id))
        return;
    {
        std::lock_guard<std::mutex> guard(mutex);
        const auto entry = std::find_if(userList.begin(), userList.end(),
                                        [id](const UserEntry& user) { return user.id == id; });
        if (entry != userList.end())
            entry->name = std::move(name);
        else
            userList.push_back({id, std::move(name)});
    }
    notify();
}

void ChatViewModel::removeUser(int64_t id) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        std::erase_if(userList, [id](const UserEntry& user) { return user.id == id; });
    }
    notify();
}

void ChatViewModel::reset(bool clearLog) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        userList.clear();
        if (clearLog) {
            // Sequence numbers go on across a clear; the generation tells views to start over.
            firstSeq += lines.size();
            lines.clear();
            infos.clear();
            bytes = 0;
            ++generation;
        }
        ++inputClearCount;
    }
    notify();
}

void ChatViewModel::setObserver(std::function<void()> newObserver) {
    std::lock_guard<std::mutex> guard(mutex);
    observer = std::move(newObserver);
}

void ChatViewModel::setLineListener(LineListener listener) {
    std::lock_guard<std::mutex> guard(mutex);
    lineListener = std::move(listener);
}

ChatViewModel::LogUpdate ChatViewModel::logSince(LogCursor& cursor) const {
    LogUpdate update;
    std::lock_guard<std::mutex> guard(mutex);
    const uint64_t endSeq = firstSeq + lines.size();
    uint64_t from = std::max(cursor.end, firstSeq);
    if (cursor.generation != generation) {
        // Every line now in the log came after the clear the view has not seen.
        update.cleared = true;
        from = firstSeq;
    } else if (firstSeq > cursor.first) {
        update.droppedFront = static_cast<size_t>(std::min(firstSeq, cursor.end) - cursor.first);
    }
    for (uint64_t seq = from; seq < endSeq; ++seq) {
        update.added.push_back(lines[static_cast<size_t>(seq - firstSeq)]);
        update.addedInfo.push_back(infos[static_cast<size_t>(seq - firstSeq)]);
    }
    cursor = {generation, firstSeq, endSeq};
    return update;
}

std::vector<std::string> ChatViewModel::users() const {
    std::vector<std::string> names;
    std::lock_guard<std::mutex> guard(mutex);
    names.reserve(userList.size());
    for (const UserEntry& user : userList)
        names.push_back(user.name);
    return names;
}

uint64_t ChatViewModel::inputClears() const {
    std::lock_guard<std::mutex> guard(mutex);
    return inputClearCount;
}

std::string ChatViewModel::logText() const {
    std::lock_guard<std::mutex> guard(mutex);
    std::string text;
    text.reserve(bytes);
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

size_t ChatViewModel::logBytes() const {
    std::lock_guard<std::mutex> guard(mutex);
    return bytes;
}

void ChatViewModel::notify() const {
    std::function<void()> call;
    {
        std::lock_guard<std::mutex> guard(mutex);
        call = observer;
    }
    if (call)
        call();
}
