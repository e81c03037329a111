// The console's writer thread.
#include "app/console/console_log.h"

#include <cstdio>

ConsoleLog::ConsoleLog() : thread([this] { run(); }) {}

ConsoleLog::~ConsoleLog() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        stopping = true;
    }
    wake.notify_one();
    thread.join();
}

void ConsoleLog::line(std::string text, bool error) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (queuedBytes + text.size() > QUEUE_LIMIT) {
            ++droppedLines;
            return;
        }
        queuedBytes += text.size();
        queue.push_back({std::move(text), error});
    }
    wake.notify_one();
}

void ConsoleLog::run() {
    std::deque<Entry> batch;
    size_t dropped = 0;
    for (;;) {
        bool last;
        {
            std::unique_lock<std::mutex> guard(mutex);
            wake.wait(guard, [this] { return stopping || !queue.empty(); });
            batch.swap(queue);
            queuedBytes = 0;
            dropped = droppedLines;
            droppedLines = 0;
            last = stopping;
        }
        for (const Entry& entry : batch) {
            std::FILE* stream = entry.error ? stderr : stdout;
            std::fwrite(entry.text.data(), 1, entry.text.size(), stream);
            std::fputc('\n', stream);
        }
        if (dropped > 0) {
            const std::string note = "(" + std::to_string(dropped) +
                                     " lines not shown: the output was not read in time)\n";
            std::fputs(note.c_str(), stderr);
        }
        batch.clear();
        std::fflush(stdout);
        std::fflush(stderr);
        if (last)
            return;
    }
}
