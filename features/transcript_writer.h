// TranscriptWriter: appends every log line to the current room's transcript file, on a thread of
// its own, so that neither the window nor a network thread ever waits for the disk.
#pragma once

#include "features/current_room.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// Threads: any thread queues (startRoom, append) and never waits but for the queue's mutex; the
// writer thread waits on `wake` for work and writes; stop() wakes and joins it.
class TranscriptWriter {
public:
    using Clock = std::chrono::system_clock;
    // Called once, on the writer thread, when writing stops for good (a full disk, a folder that
    // cannot be made or written): the reason as one line of text.
    using ErrorHandler = std::function<void(const std::string& reason)>;

    // Queued lines held while the disk falls behind; lines past it are counted, not kept.
    static constexpr size_t QUEUE_LIMIT = 16 * 1024 * 1024;

    TranscriptWriter(std::filesystem::path folder, ErrorHandler onError);
    ~TranscriptWriter();
    TranscriptWriter(const TranscriptWriter&) = delete;
    TranscriptWriter& operator=(const TranscriptWriter&) = delete;

    // Lines from here on go to the room's file (appended to, made when missing), after a header.
    void startRoom(const CurrentRoom& room, Clock::time_point now);
    // Before any room has started, lines are not written.
    void append(std::string_view line, Clock::time_point arrived);
    // Writes what is queued, flushes, closes the file and ends the thread. Safe to call twice.
    void stop();
    bool failed() const { return stopped; }

private:
    struct Entry {
        std::string openFile; // set: the start of a room; text is its header
        std::string text;     // the line, or the header
        Clock::time_point arrived;
    };
    void run();
    void write(std::deque<Entry>& batch, size_t dropped);
    void fail(const std::string& reason);

    const std::filesystem::path folder;
    const ErrorHandler onError;
    std::atomic<bool> stopped{false}; // writing failed; nothing more is queued

    // Guards the fields below it; innermost: nothing is called while it is held.
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Entry> queue;
    size_t queuedBytes = 0;
    size_t droppedLines = 0;
    bool stopping = false;

    // The writer thread's own.
    std::ofstream file;
    std::filesystem::path path;
    std::thread thread; // last: starts once everything above exists
};
