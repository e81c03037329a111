// FilePeer: one window's side of files in its room: the files it offers, the offers it has seen
// in the room's lines, and its downloads and uploads, all through the host's file service (see
// service_protocol.h). Toolkit-free: the front-end shows offers() and calls the operations.
//
// Who waits where: the session (this Thread, from the first time files come up until the end) in
// PollSockets over its connection and its Waker, woken by the host's lines and by anything
// queued for it, and between connections on the Waker alone; the
// OfferReader, each Download and each Upload on threads of their own. None of them waits for the
// window's thread or takes ChatLock; what they have to say goes through the hooks.
#pragma once

#include "files/download.h"
#include "files/offer_board.h"
#include "files/offer_line.h"
#include "files/offer_reader.h"
#include "files/relay_transfer.h"
#include "files/upload.h"
#include "net/thread.h"
#include "net/waker.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class FilePeer final : public Thread {
public:
    static constexpr size_t MAX_DOWNLOADS = 8; // at once
    static constexpr size_t MAX_UPLOADS = 32;  // at once
    // After the host's file service could not be reached, offers seen in lines do not try again
    // for this long (a room whose host passes no files on, fed forged offers).
    static constexpr std::chrono::seconds RETRY_AFTER{10};

    struct Hooks {
        // Says a chat line in the room (the offer). Any thread; must not block.
        std::function<void(const std::string& text)> sendChatLine;
        // A local line for the log. Any thread; must not block.
        std::function<void(const std::string& line)> note;
        // Something offers() shows has changed. Any thread; must not block.
        std::function<void()> changed;
    };

    // The room's host at address, its chat on typedRoomPort.
    FilePeer(std::string address, uint16_t typedRoomPort, Hooks hooks, RelayTimings timings = {});
    // Ends everything: downloads in progress fail ("the room ended") and leave nothing behind.
    // Call without any lock the hooks take.
    ~FilePeer() override;

    // The user offers the file at path (UTF-8): it is read for its size and SHA-256, registered
    // with the host, and then announced in a chat line.
    void offerFile(const std::string& path);
    // A chat line of the room, from the participant the room calls `from`; offers are taken from
    // it. Any thread; never blocks.
    void lineSeen(std::string_view from, std::string_view text);
    // Saves the offer to target (UTF-8 path, chosen by the user). False when the offer is gone or
    // already being saved.
    bool save(const std::string& offerId, const std::string& target);
    // Stops saving the offer; nothing is kept.
    void cancel(const std::string& offerId);
    // Ends one of the own offers.
    void withdraw(const std::string& offerId);
    // What the Files menu shows, newest first. Also lets go of finished workers.
    std::vector<OfferView> offers();

    void run() override;

private:
    void read(uint64_t tag, const std::string& error, uint64_t size, const std::string& sha256);
    void queue(std::string line);
    void session();
    void hostLine(const std::string& line, std::vector<std::string>& notes,
                  std::vector<std::string>& said);
    void sessionEnded(const std::string& reason);
    void downloadEnded(const Download& download);
    void reap();
    void changed();

    const std::string address;
    const uint16_t servicePort;
    const Hooks hooks;
    const RelayTimings timings;

    // Guards every field below. Taken after ChatLock (lineSeen runs under it), never before; no
    // hook is called and no thread is waited for while it is held.
    std::mutex mutex;
    OfferBoard board;
    std::vector<std::string> outbox;
    // Made with the first session, so that a room where no file comes up costs no descriptor;
    // kept until the end, so the session uses it without the lock.
    std::unique_ptr<Waker> waker;
    bool started = false;   // the session's thread; it runs until the end once started
    bool connected = false; // the session holds a connection to the host's file service
    bool ending = false;
    std::chrono::steady_clock::time_point noServiceUntil{};
    std::vector<std::unique_ptr<Download>> downloads;
    std::vector<std::unique_ptr<Upload>> uploads;
    OfferReader reader;
};
