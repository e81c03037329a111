// RelayTransfer: one file on its way through the host, from the offerer's upload to one receiver,
// in framed pieces, on a thread of its own. It holds one buffer of CHUNK bytes: that, the thread
// and two sockets are all a transfer costs the host.
#pragma once

#include "net/tcp_socket.h"
#include "net/thread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// How long the relay waits for peers before it gives up on them.
struct RelayTimings {
    int firstLineMs = 10000;  // a new connection says what it is
    int uploadWaitMs = 30000; // the offerer starts its upload after being asked
    int stallMs = 30000;      // an upload or a receiver makes no progress
    int endWaitMs = 5000;     // the offerer closes its upload after the last byte
};

class RelayTransfer final : public Thread {
public:
    static constexpr size_t CHUNK = 256 * 1024;

    // early: bytes of the upload that arrived with its first line. finished is called on the
    // transfer's thread as it ends.
    RelayTransfer(std::string offerId, uint64_t size, std::unique_ptr<TcpSocket> upload,
                  std::string early, std::unique_ptr<TcpSocket> receiver, RelayTimings timings,
                  std::function<void()> finished);
    // Waits for the thread; cancel first to make that quick.
    ~RelayTransfer() override;

    const std::string offerId;

    // Any thread: ends the transfer. The receiver hears reason unless alsoReceiver, which cuts its
    // connection too (the room ends: its peers learn that on their own).
    void cancel(const std::string& reason, bool alsoReceiver);
    bool finished() const { return done; }

    void run() override;

private:
    bool pass(const char* data, size_t count);
    void fail(const std::string& reason);
    std::string cancelReason();

    const uint64_t size;
    const std::unique_ptr<TcpSocket> upload;
    const std::unique_ptr<TcpSocket> receiver;
    std::string early;
    const RelayTimings timings;
    const std::function<void()> whenFinished;
    std::mutex mutex; // guards reason
    std::string reason;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> done{false};
};
