// ChatViewModel: the log as a deque of numbered lines under a byte cap, and the user list.
#include "chat/chat_view_model.h"

#include "chat/formatting.h"

#include <algorithm>
#include <utility>

namespace {

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace

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

void ChatViewModel::addUser(std::string name) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        userList.push_back(std::move(name));
    }
    notify();
}

void ChatViewModel::removeUser(std::string_view name) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        // The list box search from index 0: the entries after the first, then the first.
        const size_t count = userList.size();
        for (size_t step = 1; step <= count; ++step) {
            const size_t index = step % count;
            if (EqualIgnoringAsciiCase(userList[index], name)) {
                userList.erase(userList.begin() + static_cast<std::ptrdiff_t>(index));
                break;
            }
        }
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
    std::lock_guard<std::mutex> guard(mutex);
    return userList;
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
