// FileRelay: the service loop, the offer table and the pairing of downloads with uploads.
#include "files/file_relay.h"

#include "files/random_id.h"
#include "files/service_protocol.h"
#include "files/sha256.h"
#include "net/keep_alive_timings.h"
#include "net/socket_poll.h"

#include <algorithm>

namespace {

// How long a line to a peer may take; lines are short and the socket's buffer takes them at
// once unless the peer stopped reading, which the backlog limit then catches.
constexpr int REPLY_MS = 1000;

// A download refused at once: the reason, then the connection ends.
void Refuse(LineConnection& connection, const std::string& reason) {
    (void)connection.sendLine("ERR " + reason, REPLY_MS);
}

} // namespace

FileRelay::FileRelay(RelayTimings waits) : timings(waits) {}

FileRelay::~FileRelay() {
    stop();
}

bool FileRelay::start(uint16_t typedRoomPort) {
    if (!waker.ready()) {
        lastError = waker.lastError;
        return false;
    }
    listener = TcpSocket::createStream();
    // Every peer makes a connection per download and upload; a deeper queue than the chat's
    // keeps a burst of them from waiting for the system's one-second retry.
    listener->backlog = 64;
    if (!listener->listen(FileServicePort(typedRoomPort))) {
        lastError = listener->lastError;
        return false;
    }
    stopping = false;
    return Thread::start();
}

void FileRelay::stop() {
    stopping = true;
    waker.wake();
    Thread::stop();
}

void FileRelay::run() {
    std::vector<PollEntry> entries;
    while (!stopping) {
        entries.clear();
        entries.push_back({waker.pollHandle(), POLL_READABLE, 0});
        const bool listening = Clock::now() >= listenerPausedUntil;
        entries.push_back({listening ? listener->handle : NO_HANDLE, POLL_READABLE, 0});
        for (const auto& peer : peers)
            entries.push_back({peer->connection.socket().handle,
                               POLL_READABLE | (peer->outbox.empty() ? 0u : POLL_WRITABLE), 0});
        for (const auto& newcomer : newcomers)
            entries.push_back({newcomer->connection.socket().handle, POLL_READABLE, 0});
        for (const auto& download : waiting)
            entries.push_back({download->connection.socket().handle, POLL_READABLE, 0});
        const size_t peerCount = peers.size();
        const size_t newcomerCount = newcomers.size();
        const size_t waitingCount = waiting.size();

        PollSockets(entries.data(), entries.size(), pollTimeout());
        waker.drain();
        if (stopping)
            break;
        // Items appended while these are handled sit past the counts taken above.
        size_t at = 2;
        for (size_t i = 0; i < peerCount; ++i, ++at) {
            if (entries[at].ready & POLL_WRITABLE)
                flush(*peers[i]);
            if (entries[at].ready & POLL_READABLE)
                readPeer(*peers[i]);
        }
        for (size_t i = 0; i < newcomerCount; ++i, ++at)
            if (entries[at].ready != 0)
                readNewcomer(*newcomers[i]);
        // A waiting download's receiver sends nothing more: readable means it hung up.
        for (size_t i = 0; i < waitingCount; ++i, ++at)
            if (entries[at].ready != 0)
                waiting[i]->dead = true;
        // A burst of connections is taken in one go, up to what the queue holds.
        for (int taken = 0; entries[1].ready != 0 && taken < 64; ++taken)
            if (!accept() || !listener->waitReadable(0))
                break;
        expire();
        sweep();
    }
    shutDown();
}

int FileRelay::pollTimeout() const {
    Clock::time_point next = Clock::time_point::max();
    for (const auto& newcomer : newcomers)
        next = std::min(next, newcomer->deadline);
    for (const auto& download : waiting)
        next = std::min(next, download->deadline);
    if (listenerPausedUntil > Clock::now())
        next = std::min(next, listenerPausedUntil);
    if (next == Clock::time_point::max())
        return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left + 1, 0, 60000));
}

bool FileRelay::accept() {
    if (!listener->accept()) {
        // Out of descriptors: the listener would stay readable and the loop spin; look again in
        // a second, when something may have been freed.
        if (listener->outOfResources)
            listenerPausedUntil = Clock::now() + std::chrono::seconds(1);
        return false;
    }
    auto socket = std::make_unique<TcpSocket>(listener->acceptedHandle);
    // A flood of connections that say nothing: the oldest of them makes room, so that a peer
    // that does say what it wants gets in while the flood goes on.
    if (newcomers.size() >= MAX_NEWCOMERS)
        newcomers.erase(newcomers.begin());
    socket->setNoDelay();
    (void)socket->setKeepAlive(KeepAliveTimings{});
    auto newcomer =
        std::make_unique<Pending>(LineConnection(std::move(socket)),
                                  Clock::now() + std::chrono::milliseconds(timings.firstLineMs));
    if (newcomer->connection.sendLine(SERVICE_GREETING, REPLY_MS))
        newcomers.push_back(std::move(newcomer));
    return true;
}

void FileRelay::readNewcomer(Pending& newcomer) {
    newcomer.dead = true; // unless it becomes something below, it goes
    if (!newcomer.connection.receive())
        return;
    std::string line;
    const LineConnection::Take taken = newcomer.connection.takeLine(line, MAX_SERVICE_LINE);
    if (taken == LineConnection::Take::Nothing)
        newcomer.dead = false;
    if (taken != LineConnection::Take::Line)
        return;
    const auto fields = Fields(line, 5);
    if (line == "SESSION") {
        if (peers.size() >= MAX_PEERS)
            return Refuse(newcomer.connection, "the host serves too many peers");
        peers.push_back(std::make_unique<Peer>(std::move(newcomer.connection)));
        // Lines the peer sent right behind SESSION are its first commands.
        peerLines(*peers.back());
    } else if (fields[0] == "GET" && fields.size() == 4) {
        download(newcomer, fields);
    } else if (fields.size() == 2 && (fields[0] == "PUT" || fields[0] == "FAIL")) {
        upload(newcomer, std::string(fields[1]), fields[0] == "FAIL");
    }
}

void FileRelay::readPeer(Peer& peer) {
    if (!peer.connection.receive()) {
        peer.dead = true;
        return;
    }
    peerLines(peer);
}

void FileRelay::peerLines(Peer& peer) {
    std::string line;
    for (;;) {
        const LineConnection::Take taken = peer.connection.takeLine(line, MAX_SERVICE_LINE);
        if (taken == LineConnection::Take::TooLong)
            peer.dead = true;
        if (taken != LineConnection::Take::Line || peer.dead)
            return;
        // Lines this relay does not know are left alone, so that later peers may say more.
        const auto fields = Fields(line, 5);
        uint64_t size = 0;
        if (fields[0] == "OFFER" && fields.size() == 4) {
            const std::string tag(fields[1]);
            if (tag.empty() || tag.size() > 9 ||
                tag.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::string refusal = "the offer is malformed";
            std::string offerId;
            if (ReadFileSize(fields[2], size) && IsSha256Hex(fields[3]))
                offerId = offers.add(&peer, size, fields[3], refusal);
            push(peer, offerId.empty() ? "REFUSED " + tag + " " + refusal
                                       : "OFFERED " + tag + " " + offerId);
            offersNow = offers.size();
        } else if (fields[0] == "WITHDRAW" && fields.size() == 2) {
            const OfferTable::Offer* offer = offers.find(std::string(fields[1]));
            if (offer != nullptr && offer->owner == &peer)
                endOffer(std::string(fields[1]), "the offerer withdrew it");
        } else if (fields[0] == "WATCH" && fields.size() == 4) {
            // The answer repeats what was asked, so that the peer can tell two lines with one id
            // apart.
            const bool live = ReadFileSize(fields[2], size) &&
                              offers.watch(&peer, std::string(fields[1]), size, fields[3]);
            push(peer, (live ? "LIVE " : "NONE ") + std::string(fields[1]) + " " +
                           std::string(fields[2]) + " " + std::string(fields[3]));
        }
    }
}

void FileRelay::download(Pending& newcomer, const std::vector<std::string_view>& fields) {
    const std::string offerId(fields[1]);
    const OfferTable::Offer* offer = offers.find(offerId);
    uint64_t size = 0;
    if (offer == nullptr || static_cast<Peer*>(offer->owner)->dead)
        return Refuse(newcomer.connection,
                      "no such file is offered in this room (it may have been withdrawn)");
    if (!ReadFileSize(fields[2], size) || size != offer->size || fields[3] != offer->sha256)
        return Refuse(newcomer.connection, "the offer under this id is for another file");
    if (transfers.size() + waiting.size() >= MAX_TRANSFERS)
        return Refuse(newcomer.connection,
                      "the host is passing on too many files right now; try again shortly");
    const std::string ticket = RandomId();
    if (ticket.empty())
        return Refuse(newcomer.connection, "the host has no random source");
    auto download =
        std::make_unique<Pending>(std::move(newcomer.connection),
                                  Clock::now() + std::chrono::milliseconds(timings.uploadWaitMs));
    download->offerId = offerId;
    download->ticket = ticket;
    waiting.push_back(std::move(download));
    push(*static_cast<Peer*>(offer->owner), "SEND " + offerId + " " + ticket);
}

void FileRelay::upload(Pending& newcomer, const std::string& ticket, bool failed) {
    const auto found = std::find_if(waiting.begin(), waiting.end(), [&](const auto& download) {
        return !download->dead && download->ticket == ticket;
    });
    // A ticket nobody waits for: a late upload after a cancel, or a guess.
    if (found == waiting.end())
        return;
    Pending& download = **found;
    download.dead = true;
    if (failed)
        return Refuse(download.connection, "the offerer could not read the file");
    const uint64_t size = offers.find(download.offerId)->size;
    std::string early = newcomer.connection.takeRest();
    auto transfer = std::make_unique<RelayTransfer>(
        download.offerId, size, newcomer.connection.releaseSocket(), std::move(early),
        download.connection.releaseSocket(), timings, [this] { waker.wake(); });
    if (transfer->start())
        transfers.push_back(std::move(transfer));
    transfersNow = transfers.size();
}

void FileRelay::push(Peer& peer, const std::string& line) {
    peer.outbox += line;
    peer.outbox += '\n';
    if (peer.outbox.size() > PEER_BACKLOG) {
        peer.dead = true; // it has stopped reading what it asked for
        return;
    }
    flush(peer);
}

void FileRelay::flush(Peer& peer) {
    if (peer.dead || peer.outbox.empty())
        return;
    const int32_t sent = peer.connection.socket().trySend(
        peer.outbox.data(), static_cast<int32_t>(std::min<size_t>(peer.outbox.size(), 1 << 20)));
    if (sent > 0)
        peer.outbox.erase(0, static_cast<size_t>(sent));
    else if (sent != TcpSocket::WOULD_BLOCK)
        peer.dead = true;
}

void FileRelay::endOffer(const std::string& offerId, const std::string& reason) {
    for (OfferTable::Peer told : offers.remove(offerId))
        if (!static_cast<Peer*>(told)->dead)
            push(*static_cast<Peer*>(told), "GONE " + offerId);
    offersNow = offers.size();
    for (const auto& download : waiting) {
        if (!download->dead && download->offerId == offerId) {
            Refuse(download->connection, reason);
            download->dead = true;
        }
    }
    for (const auto& transfer : transfers)
        if (transfer->offerId == offerId)
            transfer->cancel(reason, false);
}

void FileRelay::expire() {
    const Clock::time_point now = Clock::now();
    for (const auto& newcomer : newcomers)
        if (now >= newcomer->deadline)
            newcomer->dead = true;
    for (const auto& download : waiting) {
        if (!download->dead && now >= download->deadline) {
            Refuse(download->connection,
                   "the offerer did not start sending within " + SecondsText(timings.uploadWaitMs));
            download->dead = true;
        }
    }
}

void FileRelay::sweep() {
    // A peer that went takes its offers along; that may end waiting downloads, so peers first.
    for (const auto& peer : peers) {
        if (!peer->dead)
            continue;
        for (const std::string& offerId : offers.leave(peer.get()))
            endOffer(offerId, "the offerer left the room");
    }
    std::erase_if(peers, [](const auto& peer) { return peer->dead; });
    std::erase_if(newcomers, [](const auto& newcomer) { return newcomer->dead; });
    std::erase_if(waiting, [](const auto& download) { return download->dead; });
    // Ended transfers are joined here; their threads have returned or are about to.
    std::erase_if(transfers, [](const auto& transfer) { return transfer->finished(); });
    transfersNow = transfers.size();
}

void FileRelay::shutDown() {
    for (const auto& transfer : transfers)
        transfer->cancel("the room ended", true);
    transfers.clear();
    waiting.clear();
    newcomers.clear();
    peers.clear();
    offers = OfferTable();
    offersNow = 0;
    transfersNow = 0;
    listener.reset();
}
