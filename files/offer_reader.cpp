// OfferReader: a queue of paths, each read once through SHA-256.
#include "files/offer_reader.h"

#include "files/local_file.h"
#include "files/offer_line.h"
#include "files/sha256.h"

#include <memory>

OfferReader::OfferReader(Done whenDone) : done(std::move(whenDone)) {}

OfferReader::~OfferReader() {
    stopping = true;
    {
        std::lock_guard<std::mutex> guard(mutex);
        queue.clear();
    }
    stop();
}

void OfferReader::add(uint64_t tag, std::string path) {
    std::lock_guard<std::mutex> guard(mutex);
    queue.emplace_back(tag, std::move(path));
    if (running)
        return;
    // A thread that found the queue empty has given up running under this lock and only returns
    // after it, so start() waits for nothing that waits for us.
    running = start();
}

void OfferReader::run() {
    giveWayToEveryone();
    for (;;) {
        std::pair<uint64_t, std::string> next;
        {
            std::lock_guard<std::mutex> guard(mutex);
            if (queue.empty() || stopping) {
                running = false;
                return;
            }
            next = std::move(queue.front());
            queue.pop_front();
        }
        read(next.first, next.second);
    }
}

void OfferReader::read(uint64_t tag, const std::string& path) {
    LocalFile file;
    if (!file.openForReading(path))
        return done(tag, file.lastError, 0, {});
    const auto size = file.size();
    if (!size)
        return done(tag, file.lastError, 0, {});
    if (*size > MAX_FILE_SIZE)
        return done(tag, "it is larger than " + HumanSize(MAX_FILE_SIZE), 0, {});
    Sha256 hash;
    const std::unique_ptr<char[]> buffer(new char[256 * 1024]);
    uint64_t total = 0;
    for (;;) {
        if (stopping)
            return;
        const int64_t got = file.read(buffer.get(), 256 * 1024);
        if (got < 0)
            return done(tag, file.lastError, 0, {});
        if (got == 0)
            break;
        hash.update(buffer.get(), static_cast<size_t>(got));
        total += static_cast<uint64_t>(got);
    }
    const std::string digest = hash.finishHex();
    if (digest.empty())
        return done(tag, "this system offers no SHA-256 to describe it with", 0, {});
    // The size read is the size offered: a file that grew while it was read is offered as read.
    done(tag, {}, total, digest);
}
