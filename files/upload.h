// Upload: the offerer's side of one download, sent to the host's file service when it asks
// (SEND): the file's offered size in bytes, read from its path again, on a thread of its own.
#pragma once

#include "files/line_connection.h"
#include "files/relay_transfer.h"
#include "net/thread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class Upload final : public Thread {
public:
    // note: a local log line when the file cannot be sent as offered; finished: once, as the
    // thread ends. Both on the upload's thread.
    Upload(std::string address, uint16_t servicePort, std::string offerId, std::string path,
           uint64_t size, std::string ticket, RelayTimings timings,
           std::function<void(const std::string&)> note, std::function<void()> finished);
    // Cancels and waits.
    ~Upload() override;

    const std::string offerId;

    // Any thread: stops sending; the receiver learns it from the host.
    void cancel();
    bool finished() const { return done; }

    void run() override;

private:
    void send();

    const std::string address;
    const uint16_t servicePort;
    const std::string path;
    const uint64_t size;
    const std::string ticket;
    const RelayTimings timings;
    const std::function<void(const std::string&)> note;
    const std::function<void()> whenFinished;
    std::mutex mutex; // guards connection (its making, its end and waking it)
    std::unique_ptr<LineConnection> connection;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> done{false};
};
