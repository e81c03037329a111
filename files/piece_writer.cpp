// PieceWriter: a queue of filled buffers and a queue of free ones between two threads.
#include "files/piece_writer.h"

#include "files/relay_transfer.h"

PieceWriter::PieceWriter(LocalFile& target)
    : file(target), storage(new char[PIECES * RelayTransfer::CHUNK]) {
    for (size_t i = 0; i < PIECES; ++i)
        free.push_back(storage.get() + i * RelayTransfer::CHUNK);
}

PieceWriter::~PieceWriter() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        closing = true;
        filled.clear();
    }
    changed.notify_all();
    stop();
}

char* PieceWriter::take() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return !free.empty() || !error.empty() || ended; });
    if (!error.empty() || ended)
        return nullptr;
    char* buffer = free.front();
    free.pop_front();
    return buffer;
}

void PieceWriter::put(char* buffer, size_t size) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        filled.emplace_back(buffer, size);
    }
    changed.notify_all();
}

std::string PieceWriter::finish(std::string& why) {
    std::unique_lock<std::mutex> lock(mutex);
    closing = true;
    changed.notify_all();
    changed.wait(lock, [this] { return ended; });
    why = error;
    return error.empty() ? hash.finishHex() : std::string();
}

void PieceWriter::run() {
    giveWayToEveryone();
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return !filled.empty() || closing; });
        if (filled.empty())
            break;
        const auto [buffer, size] = filled.front();
        filled.pop_front();
        // After a failed write the rest is only taken off the queue.
        const bool writing = error.empty();
        lock.unlock();
        if (writing)
            hash.update(buffer, size);
        const bool written = !writing || file.writeAll(buffer, size);
        lock.lock();
        if (!written)
            error = file.lastError;
        free.push_back(buffer);
        changed.notify_all();
    }
    ended = true;
    changed.notify_all();
}
