// FileRelay: the host's file service. Peers register offers on their session connection; a
// receiver's download is passed through from the offerer's own upload, which the relay asks for
// over the offerer's session, so that every connection is one a peer makes to the host.
// The relay stores nothing: what it holds is its offer table and, per transfer, one buffer.
//
// Who waits where: the service loop (this Thread) in PollSockets over the listener, its Waker and
// every connection that is not a transfer, woken by their bytes, by stop() and by a transfer that
// ended; each RelayTransfer on its own thread in poll and send (see relay_transfer.h). Everything
// but the counters is owned by the service loop; stop() only sets a flag and wakes it.
#pragma once

#include "files/line_connection.h"
#include "files/offer_table.h"
#include "files/relay_transfer.h"
#include "net/tcp_socket.h"
#include "net/thread.h"
#include "net/waker.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class FileRelay final : public Thread {
public:
    static constexpr size_t MAX_TRANSFERS = 32;       // passed on, or waiting for their upload
    static constexpr size_t MAX_PEERS = 64;           // session connections
    static constexpr size_t MAX_NEWCOMERS = 64;       // connections yet to say what they are
    static constexpr size_t PEER_BACKLOG = 64 * 1024; // unread lines before a peer is dropped

    explicit FileRelay(RelayTimings timings = {});
    ~FileRelay() override;

    // Listens on the service port of the room on typedRoomPort and starts the loop; false with
    // lastError set when the port cannot be had.
    [[nodiscard]] bool start(uint16_t typedRoomPort);
    // Ends every transfer (receivers see their connection cut), closes everything and waits.
    void stop();
    std::string lastError;

    // For tests and the bench.
    size_t offerCount() const { return offersNow; }
    size_t transferCount() const { return transfersNow; }

    void run() override;

private:
    using Clock = std::chrono::steady_clock;
    struct Peer {
        explicit Peer(LineConnection taken) : connection(std::move(taken)) {}
        LineConnection connection;
        std::string outbox;
        bool dead = false;
    };
    struct Pending { // a new connection, or a download waiting for its upload
        Pending(LineConnection taken, Clock::time_point until)
            : connection(std::move(taken)), deadline(until) {}
        LineConnection connection;
        Clock::time_point deadline;
        std::string offerId; // downloads only
        std::string ticket;
        bool dead = false;
    };

    bool accept();
    void readNewcomer(Pending& newcomer);
    void readPeer(Peer& peer);
    void peerLines(Peer& peer);
    void download(Pending& newcomer, const std::vector<std::string_view>& fields);
    void upload(Pending& newcomer, const std::string& ticket, bool failed);
    void push(Peer& peer, const std::string& line);
    void flush(Peer& peer);
    void endOffer(const std::string& offerId, const std::string& reason);
    void expire();
    void sweep();
    void shutDown();
    int pollTimeout() const;

    const RelayTimings timings;
    std::unique_ptr<TcpSocket> listener;
    Waker waker;
    std::atomic<bool> stopping{false};
    Clock::time_point listenerPausedUntil{};
    std::vector<std::unique_ptr<Peer>> peers;
    std::vector<std::unique_ptr<Pending>> newcomers;
    std::vector<std::unique_ptr<Pending>> waiting;
    std::vector<std::unique_ptr<RelayTransfer>> transfers;
    OfferTable offers;
    std::atomic<size_t> offersNow{0};
    std::atomic<size_t> transfersNow{0};
};
