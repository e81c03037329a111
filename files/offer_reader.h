// OfferReader: reads the files the user offers, one after another on a thread of its own, for the
// size and SHA-256 their offers carry. The thread runs only while files wait.
#pragma once

#include "net/thread.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

class OfferReader final : public Thread {
public:
    // Called on the reader's thread for each file: error empty and size and sha256 set, or why
    // the file cannot be offered.
    using Done = std::function<void(uint64_t tag, const std::string& error, uint64_t size,
                                    const std::string& sha256)>;
    explicit OfferReader(Done done);
    // Drops what waits and stops at the next piece of the file being read.
    ~OfferReader() override;

    // Any thread.
    void add(uint64_t tag, std::string path);

    void run() override;

private:
    void read(uint64_t tag, const std::string& path);

    const Done done;
    std::mutex mutex; // guards queue, running
    std::deque<std::pair<uint64_t, std::string>> queue;
    bool running = false;
    std::atomic<bool> stopping{false};
};
