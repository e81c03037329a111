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
        if (own.size() >= MAX_OWN) {
            tag = 0;
        } else {
            tag = nextTag++;
            own.push_back({tag, path, FileOffer{{}, 0, {}, name}, nextSequence++});
        }
    }
    if (tag == 0) {
        hooks.note("Could not offer " + name + ": you offer " + std::to_string(MAX_OWN) +
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
        const auto found =
            std::find_if(own.begin(), own.end(), [tag](const Own& o) { return o.tag == tag; });
        if (found == own.end() || ending)
            return;
        name = found->offer.name;
        if (error.empty()) {
            found->offer.size = size;
            found->offer.sha256 = sha256;
            queue("OFFER " + std::to_string(tag) + " " + std::to_string(size) + " " + sha256);
            return;
        }
        own.erase(found);
    }
    hooks.note("Could not offer " + name + ": " + error);
    changed();
}

void FilePeer::lineSeen(std::string_view from, std::string_view text) {
    auto offer = ParseOfferLine(text);
    if (!offer)
        return;
    std::lock_guard<std::mutex> guard(mutex);
    if (ending)
        return;
    const auto same = [&](const auto& entry) {
        return entry.offer.id == offer->id && entry.offer.size == offer->size &&
               entry.offer.sha256 == offer->sha256;
    };
    // A line naming one of the own offers' ids is the own offer, or an impostor's copy of it.
    if (std::any_of(own.begin(), own.end(),
                    [&](const Own& o) { return o.offer.id == offer->id; }) ||
        std::any_of(listed.begin(), listed.end(), same))
        return;
    if (!connected && std::chrono::steady_clock::now() < noServiceUntil)
        return;
    // The oldest offers give way to new ones; one being saved keeps its download all the same.
    if (listed.size() >= MAX_LISTED)
        listed.erase(listed.begin());
    queue("WATCH " + offer->id + " " + std::to_string(offer->size) + " " + offer->sha256);
    listed.push_back({std::move(*offer), ShownText(from), false, nextSequence++});
    // Shown once the host confirms it (LIVE), so a forged line never makes an entry.
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
    const auto found = std::find_if(listed.begin(), listed.end(), [&](const Listed& entry) {
        return entry.offer.id == offerId && entry.live;
    });
    if (found == listed.end() || ending || downloads.size() >= MAX_DOWNLOADS ||
        std::any_of(downloads.begin(), downloads.end(), [&](const auto& download) {
            return download->offer.id == offerId && !download->finished();
        }))
        return false;
    downloads.push_back(std::make_unique<Download>(
        address, servicePort, found->offer, target, timings, [this] { changed(); },
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
        const auto found = std::find_if(
            own.begin(), own.end(), [&](const Own& entry) { return entry.offer.id == offerId; });
        if (found == own.end() || offerId.empty())
            return;
        own.erase(found);
        queue("WITHDRAW " + offerId);
        for (const auto& upload : uploads)
            if (upload->offerId == offerId)
                upload->cancel();
    }
    changed();
}

std::vector<OfferView> FilePeer::offers() {
    reap();
    std::vector<std::pair<uint64_t, OfferView>> views;
    {
        std::lock_guard<std::mutex> guard(mutex);
        for (const Own& entry : own) {
            const bool offered = !entry.offer.id.empty();
            views.push_back({entry.sequence,
                             {entry.offer.id,
                              entry.offer.name,
                              entry.offer.size,
                              {},
                              offered ? OfferView::State::Offered : OfferView::State::Preparing,
                              0}});
        }
        for (const Listed& entry : listed) {
            if (!entry.live)
                continue;
            OfferView view{entry.offer.id,
                           entry.offer.name,
                           entry.offer.size,
                           entry.from,
                           OfferView::State::Available,
                           0};
            for (const auto& download : downloads) {
                if (download->offer.id == entry.offer.id && !download->finished()) {
                    view.state = OfferView::State::Saving;
                    view.received = download->received();
                }
            }
            views.push_back({entry.sequence, std::move(view)});
        }
    }
    std::sort(views.begin(), views.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<OfferView> newestFirst;
    for (auto& view : views)
        newestFirst.push_back(std::move(view.second));
    return newestFirst;
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
    std::lock_guard<std::mutex> guard(mutex);
    const auto ownWith = [&](auto match) {
        return std::find_if(own.begin(), own.end(), match);
    };
    if (fields[0] == "OFFERED" && fields.size() == 3 && IsRandomId(fields[2])) {
        const auto found = ownWith([&](const Own& o) { return std::to_string(o.tag) == offerId; });
        if (found != own.end() && found->offer.id.empty()) {
            found->offer.id = std::string(fields[2]);
            said.push_back(OfferLineText(found->offer));
        }
    } else if (fields[0] == "REFUSED" && fields.size() == 3) {
        const auto found = ownWith([&](const Own& o) { return std::to_string(o.tag) == offerId; });
        if (found != own.end() && found->offer.id.empty()) {
            notes.push_back("Could not offer " + found->offer.name + ": " + ShownText(fields[2]));
            own.erase(found);
        }
    } else if ((fields[0] == "LIVE" || fields[0] == "NONE") && fields.size() == 3) {
        // The answer to a WATCH: that offer (its id, size and digest) is registered, or is not.
        const auto watched = [&](const Listed& entry) {
            return entry.offer.id == offerId &&
                   fields[2] == std::to_string(entry.offer.size) + " " + entry.offer.sha256;
        };
        if (fields[0] == "NONE")
            std::erase_if(listed, watched);
        for (Listed& entry : listed)
            if (watched(entry))
                entry.live = true;
    } else if (fields[0] == "GONE" && fields.size() == 2) {
        std::erase_if(listed, [&](const Listed& entry) { return entry.offer.id == offerId; });
        std::erase_if(own, [&](const Own& entry) { return entry.offer.id == offerId; });
        for (const auto& upload : uploads)
            if (upload->offerId == offerId)
                upload->cancel();
    } else if (fields[0] == "SEND" && fields.size() == 3 && IsRandomId(fields[2])) {
        const auto found =
            ownWith([&](const Own& o) { return o.offer.id == offerId && !offerId.empty(); });
        if (found == own.end() || uploads.size() >= MAX_UPLOADS)
            return;
        uploads.push_back(std::make_unique<Upload>(
            address, servicePort, offerId, found->path, found->offer.size, std::string(fields[2]),
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
            for (const Own& entry : own)
                notes.push_back((entry.offer.id.empty() ? "Could not offer " : "Your offer of ") +
                                entry.offer.name + (entry.offer.id.empty() ? ": " : " ended: ") +
                                reason);
        }
        own.clear();
        listed.clear();
        outbox.clear();
        for (const auto& upload : uploads)
            upload->cancel();
        connected = false;
    }
    for (const std::string& note : notes)
        hooks.note(note);
    changed();
}
