// FilePeer: the lists behind the Files menu, the session with the host's file service, and the
// workers that read, send and save files.
#include "files/file_peer.h"

#include "files/file_names.h"
#include "files/line_connection.h"
#include "files/random_id.h"
#include "files/service_protocol.h"
#include "net/socket_poll.h"
#include "text/shown_text.h"

#include <algorithm>

namespace {

constexpr int SEND_MS = 5000;

std::string SavedNote(const FileOffer& offer, const std::string& target) {
    return "Saved " + offer.name + " (" + HumanSize(offer.size) + ") as " + target;
}

} // namespace

FilePeer::FilePeer(std::string host, uint16_t typedRoomPort, Hooks given, RelayTimings waits)
    : address(std::move(host)), servicePort(FileServicePort(typedRoomPort)),
      hooks(std::move(given)), timings(waits),
      reader([this](uint64_t tag, const std::string& error, uint64_t size,
                    const std::string& sha256) { read(tag, error, size, sha256); }) {}

FilePeer::~FilePeer() {
    std::vector<std::unique_ptr<Download>> cut;
    std::vector<std::unique_ptr<Upload>> ended;
    {
        std::lock_guard<std::mutex> guard(mutex);
        ending = true;
        cut.swap(downloads);
        ended.swap(uploads);
        if (waker)
            waker->wake();
    }
    Thread::stop();
    for (const auto& download : cut)
        download->cancel("the room ended");
    // Each download says why it stopped as its thread ends (downloadEnded).
    cut.clear();
    ended.clear();
}

void FilePeer::changed() {
    if (hooks.changed)
        hooks.changed();
}

void FilePeer::offerFile(const std::string& path) {
    const std::string name = ShownFileName(FileNameOf(path));
    uint64_t tag;
    {
        std::lock_guard<std::mutex> guard(mutex);
        tag = board.addOwn(path, name);
    }
    if (tag == 0) {
        hooks.note("Could not offer " + name + ": you offer " +
                   std::to_string(OfferBoard::MAX_OWN) +
                   " files already; withdraw one first (Files menu)");
        return;
    }
    changed();
    reader.add(tag, path);
}

void FilePeer::read(uint64_t tag, const std::string& error, uint64_t size,
                    const std::string& sha256) {
    std::string name;
    {
        std::lock_guard<std::mutex> guard(mutex);
        OfferBoard::Own* entry = board.ownByTag(tag);
        if (entry == nullptr || ending)
            return;
        if (error.empty()) {
            entry->offer.size = size;
            entry->offer.sha256 = sha256;
            queue("OFFER " + std::to_string(tag) + " " + std::to_string(size) + " " + sha256);
            return;
        }
        name = board.dropOwn(tag);
    }
    hooks.note("Could not offer " + name + ": " + error);
    changed();
}

void FilePeer::lineSeen(std::string_view from, std::string_view text) {
    auto offer = ParseOfferLine(text);
    if (!offer)
        return;
    std::lock_guard<std::mutex> guard(mutex);
    if (ending || (!connected && std::chrono::steady_clock::now() < noServiceUntil))
        return;
    const std::string watch =
        "WATCH " + offer->id + " " + std::to_string(offer->size) + " " + offer->sha256;
    // Listed once the host confirms it (LIVE), so that a forged line never makes an entry.
    if (board.addSeen(std::move(*offer), ShownText(from)))
        queue(watch);
}

// Under mutex: a line for the host, and the session to carry it.
void FilePeer::queue(std::string line) {
    outbox.push_back(std::move(line));
    if (!waker)
        waker = std::make_unique<Waker>();
    // Started once and never again, so that no caller (lineSeen holds ChatLock) ever waits here
    // for an earlier thread to end.
    if (!started)
        started = Thread::start();
    waker->wake();
}

bool FilePeer::save(const std::string& offerId, const std::string& target) {
    std::lock_guard<std::mutex> guard(mutex);
    const FileOffer* offer = board.listed(offerId);
    if (offer == nullptr || ending || downloads.size() >= MAX_DOWNLOADS ||
        std::any_of(downloads.begin(), downloads.end(), [&](const auto& download) {
            return download->offer.id == offerId && !download->finished();
        }))
        return false;
    downloads.push_back(std::make_unique<Download>(
        address, servicePort, *offer, target, timings, [this] { changed(); },
        [this](const Download& download) { downloadEnded(download); }));
    if (!downloads.back()->start()) {
        downloads.pop_back();
        return false;
    }
    return true;
}

void FilePeer::downloadEnded(const Download& download) {
    const std::string failure = download.failure();
    hooks.note(failure.empty() ? SavedNote(download.offer, download.target)
                               : "Could not save " + download.offer.name + ": " + failure +
                                     ". Nothing was kept.");
    changed();
}

void FilePeer::cancel(const std::string& offerId) {
    std::lock_guard<std::mutex> guard(mutex);
    for (const auto& download : downloads)
        if (download->offer.id == offerId)
            download->cancel("you cancelled it");
}

void FilePeer::withdraw(const std::string& offerId) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (!board.dropOwn(offerId))
            return;
        queue("WITHDRAW " + offerId);
        for (const auto& upload : uploads)
            if (upload->offerId == offerId)
                upload->cancel();
    }
    changed();
}

std::vector<OfferView> FilePeer::offers() {
    reap();
    std::lock_guard<std::mutex> guard(mutex);
    return board.views([this](const std::string& offerId) -> std::optional<uint64_t> {
        for (const auto& download : downloads)
            if (download->offer.id == offerId && !download->finished())
                return download->received();
        return std::nullopt;
    });
}

void FilePeer::reap() {
    std::vector<std::unique_ptr<Download>> doneDownloads;
    std::vector<std::unique_ptr<Upload>> doneUploads;
    {
        std::lock_guard<std::mutex> guard(mutex);
        for (auto& download : downloads)
            if (download->finished())
                doneDownloads.push_back(std::move(download));
        std::erase(downloads, nullptr);
        for (auto& upload : uploads)
            if (upload->finished())
                doneUploads.push_back(std::move(upload));
        std::erase(uploads, nullptr);
    }
    // Joined outside the lock: a thread that has just finished may still be in its last hook.
}

void FilePeer::run() {
    for (;;) {
        bool leaving;
        bool work;
        {
            std::lock_guard<std::mutex> guard(mutex);
            leaving = ending;
            work = !outbox.empty();
        }
        if (leaving)
            return;
        if (work) {
            session();
            continue;
        }
        PollEntry entry{waker->pollHandle(), POLL_READABLE, 0};
        PollSockets(&entry, 1, -1);
        waker->drain();
    }
}

void FilePeer::session() {
    LineConnection connection(TcpSocket::createStream());
    std::string line;
    if (!connection.socket().connectWithin(address, servicePort, TcpSocket::CONNECT_TIMEOUT_MS) ||
        !connection.readLine(line, MAX_SERVICE_LINE, TcpSocket::CONNECT_TIMEOUT_MS) ||
        line != SERVICE_GREETING || !connection.sendLine("SESSION", SEND_MS)) {
        {
            std::lock_guard<std::mutex> guard(mutex);
            noServiceUntil = std::chrono::steady_clock::now() + RETRY_AFTER;
        }
        return sessionEnded("this room's host does not pass files on");
    }
    connection.socket().setNoDelay();
    {
        std::lock_guard<std::mutex> guard(mutex);
        connected = true;
    }
    for (;;) {
        PollEntry entries[2] = {{connection.socket().handle, POLL_READABLE, 0},
                                {waker->pollHandle(), POLL_READABLE, 0}};
        PollSockets(entries, 2, -1);
        waker->drain();
        std::vector<std::string> lines;
        bool leaving;
        {
            std::lock_guard<std::mutex> guard(mutex);
            leaving = ending;
            lines.swap(outbox);
        }
        if (leaving)
            return sessionEnded({});
        for (const std::string& out : lines)
            if (!connection.sendLine(out, SEND_MS))
                return sessionEnded("the connection to the host's file service ended");
        if (entries[0].ready == 0)
            continue;
        if (!connection.receive())
            return sessionEnded("the connection to the host's file service ended");
        std::vector<std::string> notes;
        std::vector<std::string> said;
        for (;;) {
            const LineConnection::Take taken = connection.takeLine(line, MAX_SERVICE_LINE);
            if (taken == LineConnection::Take::TooLong)
                return sessionEnded("the host's file service said something unreadable");
            if (taken != LineConnection::Take::Line)
                break;
            hostLine(line, notes, said);
        }
        for (const std::string& text : said)
            hooks.sendChatLine(text);
        for (const std::string& note : notes)
            hooks.note(note);
        changed();
    }
}

// One line from the host's file service. Under no lock; takes the mutex itself.
void FilePeer::hostLine(const std::string& line, std::vector<std::string>& notes,
                        std::vector<std::string>& said) {
    const auto fields = Fields(line, 3);
    const std::string offerId = fields.size() > 1 ? std::string(fields[1]) : std::string();
    uint64_t tag = 0;
    std::lock_guard<std::mutex> guard(mutex);
    if (fields[0] == "OFFERED" && fields.size() == 3 && IsRandomId(fields[2]) &&
        ReadFileSize(offerId, tag)) {
        OfferBoard::Own* entry = board.ownByTag(tag);
        if (entry != nullptr && entry->offer.id.empty()) {
            entry->offer.id = std::string(fields[2]);
            said.push_back(OfferLineText(entry->offer));
        }
    } else if (fields[0] == "REFUSED" && fields.size() == 3 && ReadFileSize(offerId, tag)) {
        const OfferBoard::Own* entry = board.ownByTag(tag);
        if (entry != nullptr && entry->offer.id.empty())
            notes.push_back("Could not offer " + board.dropOwn(tag) + ": " + ShownText(fields[2]));
    } else if ((fields[0] == "LIVE" || fields[0] == "NONE") && fields.size() == 3) {
        board.answered(offerId, fields[2], fields[0] == "LIVE");
    } else if (fields[0] == "GONE" && fields.size() == 2) {
        board.gone(offerId);
        for (const auto& upload : uploads)
            if (upload->offerId == offerId)
                upload->cancel();
    } else if (fields[0] == "SEND" && fields.size() == 3 && IsRandomId(fields[2])) {
        const OfferBoard::Own* entry = board.ownById(offerId);
        if (entry == nullptr || uploads.size() >= MAX_UPLOADS)
            return;
        uploads.push_back(std::make_unique<Upload>(
            address, servicePort, offerId, entry->path, entry->offer.size, std::string(fields[2]),
            timings, [this](const std::string& note) { hooks.note(note); }, nullptr));
        if (!uploads.back()->start())
            uploads.pop_back();
    }
}

void FilePeer::sessionEnded(const std::string& reason) {
    std::vector<std::string> notes;
    {
        // A line queued from here on waits for the next session.
        std::lock_guard<std::mutex> guard(mutex);
        if (!ending && !reason.empty()) {
            for (const OfferBoard::Own& entry : board.ownOffers())
                notes.push_back((entry.offer.id.empty() ? "Could not offer " : "Your offer of ") +
                                entry.offer.name + (entry.offer.id.empty() ? ": " : " ended: ") +
                                reason);
        }
        board.clear();
        outbox.clear();
        for (const auto& upload : uploads)
            upload->cancel();
        connected = false;
    }
    for (const std::string& note : notes)
        hooks.note(note);
    changed();
}
