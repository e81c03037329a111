// ConsoleLog: lines for standard output and standard error, written by a thread of its own, so
// that whoever calls line() (a room's network threads, under the program-wide lock) never waits
// for a terminal, a pipe or a journal that reads slowly or not at all.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class ConsoleLog {
public:
    // Bytes held while the output is not read; lines past it are counted and the count shown.
    static constexpr size_t QUEUE_LIMIT = 4 * 1024 * 1024;

    ConsoleLog();
    // Writes what is queued, then ends the thread.
    ~ConsoleLog();
    ConsoleLog(const ConsoleLog&) = delete;
    ConsoleLog& operator=(const ConsoleLog&) = delete;

    // Queues one line (without its line end) for standard output, or standard error.
    void line(std::string text, bool error = false);

private:
    struct Entry {
        std::string text;
        bool error;
    };
    void run();

    // Guards the fields below it; innermost: nothing is called while it is held.
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Entry> queue;
    size_t queuedBytes = 0;
    size_t droppedLines = 0;
    bool stopping = false;
    std::thread thread; // last: starts once everything above exists
};
