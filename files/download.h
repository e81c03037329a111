// Download: one offered file fetched through the host's file service. It is written under a
// temporary name beside the target, checked against the offer's size and SHA-256, and only then
// given the target's name; a download that fails, is cancelled or differs leaves nothing behind.
#pragma once

#include "files/line_connection.h"
#include "files/local_file.h"
#include "files/offer_line.h"
#include "files/relay_transfer.h"
#include "net/tcp_socket.h"
#include "net/thread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

class Download final : public Thread {
public:
    // progressed: now and then while bytes arrive; finished: once, as the thread ends. Both on
    // the download's thread.
    Download(std::string address, uint16_t servicePort, FileOffer offer, std::string target,
             RelayTimings timings, std::function<void()> progressed,
             std::function<void(const Download&)> finished);
    // Cancels and waits.
    ~Download() override;

    const FileOffer offer;
    const std::string target; // UTF-8 path

    // Any thread: stops the download, which then fails with reason.
    void cancel(const std::string& reason);
    uint64_t received() const { return receivedBytes; }
    bool finished() const { return done; }
    // Once finished: empty when the file was saved, else why it was not.
    std::string failure() const;

    void run() override;

private:
    std::string fetch(const std::string& part);
    std::string receive(LineConnection& connection, LocalFile& file);
    std::string reasonOr(const std::string& reason);
    std::string cut(const LineConnection& connection, uint64_t got);

    const std::string address;
    const uint16_t servicePort;
    const RelayTimings timings;
    const std::function<void()> progressed;
    const std::function<void(const Download&)> whenFinished;
    mutable std::mutex mutex; // guards connection (its making, its end and waking it), why
    std::unique_ptr<LineConnection> connection;
    std::string why;
    std::atomic<bool> cancelled{false};
    std::atomic<uint64_t> receivedBytes{0};
    std::atomic<bool> done{false};
};
