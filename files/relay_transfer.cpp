// RelayTransfer: reads the upload, checks it against the offered size, and passes it on.
#include "files/relay_transfer.h"

#include "files/bulk_pass.h"
#include "files/offer_line.h"
#include "files/service_protocol.h"
#include "net/socket_poll.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

RelayTransfer::RelayTransfer(std::string offer, uint64_t fileSize, std::unique_ptr<TcpSocket> up,
                             std::string earlyBytes, std::unique_ptr<TcpSocket> down,
                             RelayTimings waits, std::function<void()> finished)
    : offerId(std::move(offer)), size(fileSize), upload(std::move(up)), receiver(std::move(down)),
      early(std::move(earlyBytes)), timings(waits), whenFinished(std::move(finished)) {}

RelayTransfer::~RelayTransfer() {
    stop();
}

void RelayTransfer::cancel(const std::string& why, bool alsoReceiver) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (reason.empty())
            reason = why;
    }
    cancelled = true;
    upload->wake();
    if (alsoReceiver)
        receiver->wake();
}

std::string RelayTransfer::cancelReason() {
    std::lock_guard<std::mutex> guard(mutex);
    return reason;
}

bool RelayTransfer::pass(const char* data, size_t count) {
    return receiver->sendAll(data, static_cast<int32_t>(count), timings.stallMs) ==
           static_cast<int32_t>(count);
}

void RelayTransfer::fail(const std::string& why) {
    const std::string line = "ERR " + why + "\n";
    (void)pass(line.data(), line.size());
}

void RelayTransfer::run() {
    giveWayToEveryone();
    const auto finish = [this] {
        receiver->close();
        upload->close();
        done = true;
        if (whenFinished)
            whenFinished();
    };
    const std::string start = "FILE " + std::to_string(size) + "\n";
    BulkPass piece(CHUNK);
    if (!piece.ready() || !pass(start.data(), start.size()))
        return finish();
    uint64_t relayed = 0;
    while (relayed < size) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(CHUNK, size - relayed));
        size_t got;
        if (!early.empty()) {
            got = std::min(want, early.size());
            if (!piece.put(early.data(), got))
                return finish();
            early.erase(0, got);
        } else {
            // The receiver sends nothing after its request: readable means it hung up.
            PollEntry entries[2] = {{upload->handle, POLL_READABLE, 0},
                                    {receiver->handle, POLL_READABLE, 0}};
            const int ready = PollSockets(entries, 2, timings.stallMs);
            if (cancelled) {
                fail(cancelReason());
                return finish();
            }
            if (ready <= 0) {
                fail("the offerer sent nothing for " + SecondsText(timings.stallMs));
                return finish();
            }
            if (entries[1].ready != 0)
                return finish();
            const int64_t received = piece.take(*upload, want);
            if (received <= 0) {
                fail(cancelled ? cancelReason()
                               : "the offerer's connection ended after " + HumanSize(relayed) +
                                     " of " + HumanSize(size));
                return finish();
            }
            got = static_cast<size_t>(received);
        }
        char header[32];
        const int length = std::snprintf(header, sizeof header, "DATA %zu\n", got);
        if (!pass(header, static_cast<size_t>(length)) || !piece.give(*receiver, timings.stallMs))
            return finish();
        relayed += got;
    }
    // An upload longer than its offer is a lie about the file: the receiver must not keep it.
    char extra = 0;
    if (!early.empty() ||
        (upload->waitReadable(timings.endWaitMs) && upload->receive(&extra, 1) > 0)) {
        fail("the offerer sent more bytes than it offered");
        return finish();
    }
    (void)pass("END\n", 4);
    finish();
}
