// ChatViewModel: the chat log and the user list as plain data, changed from any thread and
// observed by the window, which repaints from it on its own thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class ChatViewModel {
public:
    // The log never holds more than this many bytes (each line counted with its newline); the
    // oldest whole lines go first.
    static constexpr size_t LOG_LIMIT = 99999;

    // What the log keeps beside each line's text: when it arrived and, for a chat line
    // "<name>: text", the size of the name, so that views can tell the writer from the text.
    struct LineInfo {
        static constexpr size_t NOT_CHAT = SIZE_MAX;
        std::chrono::system_clock::time_point arrived;
        size_t nameSize = NOT_CHAT;

        bool isChat() const { return nameSize != NOT_CHAT; }
        std::string_view name(std::string_view line) const;
        std::string_view text(std::string_view line) const;
    };

    // Every change is applied whole, one at a time, in the order each thread makes them. None of
    // them ever waits for the window's thread.
    // The line without its final newline; nameSize as in LineInfo. The line arrives now.
    void appendLine(std::string line, size_t nameSize = LineInfo::NOT_CHAT);
    // The user list holds at most one entry per participant id (HOST_ID, or 0..31), so never more
    // than the 33 people of a room; other ids are ignored. A name for an id that has an entry
    // replaces it in place; otherwise it becomes the last entry (the list is not sorted).
    void setUser(int64_t id, std::string name);
    void removeUser(int64_t id); // nothing happens when the id has no entry
    // Empties the user list, the log when clearLog is set, and asks the window to empty its input.
    void reset(bool clearLog);

    // Called after every change on the changing thread, outside the model's lock. It must return
    // at once (the window only schedules a repaint) and never wait for the window's thread.
    void setObserver(std::function<void()> observer);
    // Called with every line as it is added (before any later line), on the adding thread,
    // outside the model's lock; the same rules as for the observer. Lines the log later lets go
    // of have been seen here whole.
    using LineListener = std::function<void(const std::string& line, const LineInfo& info)>;
    void setLineListener(LineListener listener);

    // What a view has shown so far; start with a default cursor.
    struct LogCursor {
        uint64_t generation = 0; // bumped by every clear of the log
        uint64_t first = 0;      // sequence number of the first line shown
        uint64_t end = 0;        // one past the last line shown
    };
    struct LogUpdate {
        bool cleared = false;            // drop everything shown, then add `added`
        size_t droppedFront = 0;         // lines to drop from the top of what is shown
        std::vector<std::string> added;  // new lines, oldest first, without newlines
        std::vector<LineInfo> addedInfo; // one for each of added
    };
    // The changes since cursor, and moves cursor past them. Costs what changed, not the log size.
    LogUpdate logSince(LogCursor& cursor) const;

    std::vector<std::string> users() const; // the names, in list order
    uint64_t inputClears() const;           // how many times the input line was asked to clear
    std::string logText() const;            // the whole log, each line followed by a newline
    size_t logBytes() const;

private:
    void notify() const;

    // Guards every field below. Innermost lock of the program: nothing is called while it is held.
    mutable std::mutex mutex;
    std::deque<std::string> lines;
    std::deque<LineInfo> infos; // one for each of lines
    size_t bytes = 0;           // sum of line sizes plus one newline each
    uint64_t generation = 0;
    uint64_t firstSeq = 0; // sequence number of lines.front()
    struct UserEntry {
        int64_t id;
        std::string name;
    };
    std::vector<UserEntry> userList;
    uint64_t inputClearCount = 0;
    std::function<void()> observer;
    LineListener lineListener;
};
