// Soak run of the host: a real ChatServer with OnServerData, and 32 loopback clients with churn,
// checked for lost, corrupted or misattributed lines, leaked slots, leftover threads and a slow
// stop. Usage: soak [--seconds N] [--seed N]. Exits non-zero on any failure.
//
// The clients: 14 steady ones (half the real ChatClient, half raw sockets) stay logged in from
// start to end and chat at a steady rate; 15 churners log in, chat a little and leave politely,
// vanish (close or reset) or reset in the middle of a line, again and again; one logs in and
// never reads; two send garbage. Every line a well-behaved client sends carries its sender,
// session and sequence number and a payload derived from them, so each steady receiver can tell
// a lost, repeated, reordered, changed or misattributed line.
#include "chat/chat_client.h"
#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "chat/server_relay.h"
#include "chat/window_ops.h"
#include "tests/support/loopback.h"
#include "wire/block_parser.h"
#include "wire/protocol.h"

#include <dirent.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Key = std::pair<int, int>; // (actor, session)

constexpr int STEADY = 14;
constexpr int CHURNERS = 15;
constexpr int NON_READER = STEADY + CHURNERS; // actor number of the client that never reads
constexpr int GARBAGE_FIRST = NON_READER + 1;
constexpr int ACTORS = GARBAGE_FIRST + 2;
static_assert(ACTORS == MAX_CLIENTS);
constexpr auto STEADY_INTERVAL = std::chrono::milliseconds(25);

std::string ActorName(int actor, int session) {
    return (actor < STEADY ? "s" : "c") + std::to_string(actor) + "n" + std::to_string(session);
}

// The text of a line: its tag, then a payload of 1..180 bytes that follows from the tag, with
// ASCII, '%' conversions, blanks and two-byte UTF-8 characters in it.
std::string LineText(int actor, int session, int seq) {
    std::string text = "L" + std::to_string(actor) + "." + std::to_string(session) + "." +
                       std::to_string(seq) + "|";
    uint32_t state =
        (uint32_t(actor) * 7919u + uint32_t(session) * 104729u + uint32_t(seq) * 15485863u) | 1u;
    const size_t length = 1 + state % 180;
    static const char* const pieces[] = {"a", "Z", "9", " ", "%s", "%n", "\xC3\xA9", "-", "~"};
    while (text.size() < length + 16) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        text += pieces[state % (sizeof pieces / sizeof pieces[0])];
    }
    return text;
}

// Whether text is a tagged line; fills the tag's numbers.
bool ReadTag(const std::string& text, int& actor, int& session, int& seq) {
    return text.size() > 1 && text[0] == 'L' &&
           std::sscanf(text.c_str() + 1, "%d.%d.%d|", &actor, &session, &seq) == 3;
}

// What well-behaved senders sent, and how many of each session's first lines must arrive.
struct Ledger {
    std::mutex mutex; // guards both maps
    std::map<Key, int> sent;
    std::map<Key, int> mustArrive;

    void record(Key key, int sentCount, int mustCount) {
        std::lock_guard<std::mutex> guard(mutex);
        sent[key] = sentCount;
        mustArrive[key] = mustCount;
    }
} TheLedger;

// One client's view of the room, checked message by message.
struct Inbox {
    mutable std::mutex mutex; // the receiving thread writes, others read
    std::map<int64_t, std::string> roster;
    std::map<Key, int> lastSeq;
    uint64_t delivered = 0; // tagged lines that arrived intact and in order
    uint64_t corrupted = 0; // changed, repeated, reordered or misattributed lines
    uint64_t malformed = 0; // tokens where a keyword belongs, or impossible ids
    uint64_t gaps = 0;      // lines skipped before a later one of the same session
    bool hostGone = false;

    void onMessage(MessageKind kind, int64_t id, const std::string& field) {
        std::lock_guard<std::mutex> guard(mutex);
        if (id != HOST_ID && !IsClientId(id)) {
            ++malformed;
            return;
        }
        if (kind == MessageKind::Login) {
            roster[id] = field;
            return;
        }
        if (kind == MessageKind::Logoff) {
            if (id == HOST_ID)
                hostGone = true;
            roster.erase(id);
            return;
        }
        int actor = 0, session = 0, seq = 0;
        if (!ReadTag(field, actor, session, seq) || actor < 0 || actor >= GARBAGE_FIRST)
            return; // garbage senders' lines, partial lines: nobody promised them
        const auto sender = roster.find(id);
        int& last = lastSeq[{actor, session}];
        if (sender == roster.end() || sender->second != ActorName(actor, session) ||
            field != LineText(actor, session, seq) || seq <= last) {
            ++corrupted;
        } else {
            gaps += uint64_t(seq - last - 1);
            ++delivered;
        }
        last = std::max(last, seq);
    }
    bool hasName(const std::string& name) const {
        std::lock_guard<std::mutex> guard(mutex);
        for (const auto& entry : roster)
            if (entry.second == name)
                return true;
        return false;
    }
    int last(Key key) const {
        std::lock_guard<std::mutex> guard(mutex);
        const auto found = lastSeq.find(key);
        return found == lastSeq.end() ? 0 : found->second;
    }
};

// A strict reader of the host-to-client stream, independent of the program's own parser.
struct StreamReader {
    std::string pending;
    std::vector<std::string> tokens;

    void feed(const char* bytes, size_t count, Inbox& inbox) {
        pending.append(bytes, count);
        size_t start = 0;
        for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
            if (end > start)
                tokens.emplace_back(pending, start, end - start);
        pending.erase(0, start);
        size_t used = 0;
        while (used < tokens.size()) {
            const std::string& keyword = tokens[used];
            const MessageKind kind = keyword == "login"    ? MessageKind::Login
                                     : keyword == "logoff" ? MessageKind::Logoff
                                                           : MessageKind::Msg;
            if (kind == MessageKind::Msg && keyword != "msg") {
                std::lock_guard<std::mutex> guard(inbox.mutex);
                ++inbox.malformed;
                ++used;
                continue;
            }
            const size_t fields = kind == MessageKind::Logoff ? 1 : 2;
            if (used + fields >= tokens.size())
                break;
            inbox.onMessage(kind, ReadId(tokens[used + 1]),
                            fields == 2 ? tokens[used + 2] : std::string());
            used += fields + 1;
        }
        tokens.erase(tokens.begin(), tokens.begin() + long(used));
    }
};

// The real ChatClients' handlers find their inbox through the client on the receive thread.
std::mutex ClientInboxesMutex; // guards ClientInboxes
std::map<ChatClient*, Inbox*> ClientInboxes;

Inbox* InboxOf(ChatClient* client) {
    std::lock_guard<std::mutex> guard(ClientInboxesMutex);
    const auto found = ClientInboxes.find(client);
    return found == ClientInboxes.end() ? nullptr : found->second;
}

void SoakClientData(char* bytes, int32_t count) {
    Inbox* inbox = InboxOf(ChatClient::current());
    if (!inbox)
        return;
    BlockParser parser(bytes, size_t(count), Receiver::Client);
    Message message;
    while (parser.next(message))
        inbox->onMessage(message.kind, message.id, std::string(message.field));
}

void SoakClientLost(ChatClient* client) {
    if (Inbox* inbox = InboxOf(client)) {
        std::lock_guard<std::mutex> guard(inbox->mutex);
        inbox->hostGone = true;
    }
}

struct Run {
    uint16_t tcpPort = 0;
    std::atomic<bool> churning{true}; // churners, the non-reader and garbage senders go on
    std::atomic<bool> chatting{true}; // steady clients go on sending
    std::atomic<bool> everyoneIn{false};
    Inbox inboxes[ACTORS];
    std::atomic<int> steadyDone{0}; // steady clients that have stopped sending and said how much
    std::atomic<uint64_t> sessions{0}, nonReaderDrops{0}, garbageBytes{0};
};

// Reads into the inbox for ms milliseconds; false once the connection ended.
bool Pump(int fd, StreamReader& reader, Inbox& inbox, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd watched{fd, POLLIN, 0};
        if (fd < 0 || left <= 0 || ::poll(&watched, 1, int(left)) <= 0)
            return fd >= 0;
        char chunk[8192];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return false;
        if (n > 0)
            reader.feed(chunk, size_t(n), inbox);
    }
}

bool SendLine(RawPeer& peer, int actor, int session, int seq) {
    return peer.send("msg\n" + LineText(actor, session, seq) + "\n");
}

// A steady client over a raw socket: in from the start, sending until told to stop, reading
// until the host's departure ends the connection.
void SteadyRaw(Run& run, int actor) {
    Inbox& inbox = run.inboxes[actor];
    StreamReader reader;
    RawPeer peer = RawPeer::connectTo(run.tcpPort);
    peer.send("login\n" + ActorName(actor, 0) + "\n");
    int seq = 0;
    bool recorded = false;
    auto next = Clock::now();
    const auto giveUp = Clock::now() + std::chrono::minutes(10);
    while (Clock::now() < giveUp) {
        if (run.everyoneIn && run.chatting && Clock::now() >= next) {
            if (SendLine(peer, actor, 0, ++seq))
                next += STEADY_INTERVAL;
            else
                --seq;
        }
        if (!run.chatting && !recorded) {
            TheLedger.record({actor, 0}, seq, seq);
            recorded = true;
            ++run.steadyDone;
        }
        if (!Pump(peer.handle(), reader, inbox, 5))
            break;
    }
    if (!recorded) {
        TheLedger.record({actor, 0}, seq, seq);
        ++run.steadyDone;
    }
}

// A steady client on the program's own ChatClient; its handler fills the inbox.
void SteadyClient(Run& run, int actor, ChatClient& client) {
    (void)client.send(("login\n" + ActorName(actor, 0) + "\n").c_str());
    int seq = 0;
    auto next = Clock::now();
    while (run.chatting) {
        if (run.everyoneIn && Clock::now() >= next) {
            if (client.send(("msg\n" + LineText(actor, 0, ++seq) + "\n").c_str()) < 0)
                --seq;
            next += STEADY_INTERVAL;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    TheLedger.record({actor, 0}, seq, seq);
    ++run.steadyDone;
}

// Churners: sessions of login, a few lines, and an ending picked at random. A line counts as
// sent once it is written; it must arrive once the churner has seen it relayed back (the host
// then has queued it for everybody).
void Churner(Run& run, int actor, uint32_t seed) {
    std::mt19937 random(seed);
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<>(low, high)(random);
    };
    const bool ownClient = actor % 5 == 0; // every fifth churner uses the program's ChatClient
    for (int session = 1; run.churning; ++session) {
        ++run.sessions;
        Inbox inbox;
        const std::string name = ActorName(actor, session);
        const Key key{actor, session};
        StreamReader reader;
        RawPeer peer;
        std::unique_ptr<ChatClient> client;
        if (ownClient) {
            client = std::make_unique<ChatClient>(SoakClientData, SoakClientLost);
            {
                std::lock_guard<std::mutex> guard(ClientInboxesMutex);
                ClientInboxes[client.get()] = &inbox;
            }
            if (!client->connect("127.0.0.1", ProgramPort(run.tcpPort))) {
                std::lock_guard<std::mutex> guard(ClientInboxesMutex);
                ClientInboxes.erase(client.get());
                continue;
            }
            (void)client->send(("login\n" + name + "\n").c_str());
        } else {
            peer = RawPeer::connectTo(run.tcpPort);
            peer.send("login\n" + name + "\n");
        }
        auto pump = [&](int ms) {
            if (client) {
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                return true;
            }
            return Pump(peer.handle(), reader, inbox, ms);
        };
        auto send = [&](const std::string& bytes) {
            return client ? client->send(bytes.c_str()) >= 0 : peer.send(bytes);
        };
        const auto replyBy = Clock::now() + std::chrono::seconds(5);
        while (!inbox.hasName(name) && Clock::now() < replyBy && pump(5)) {
        }
        const int lines = pick(0, 12);
        int seq = 0;
        for (int i = 0; i < lines && inbox.hasName(name); ++i) {
            if (!send("msg\n" + LineText(actor, session, ++seq) + "\n")) {
                --seq;
                break;
            }
            pump(pick(2, 30));
        }
        const int ending = pick(0, 3);
        if (ending == 0) {
            // Politely: the departure relayed back shows that every line before it was handled.
            send("logoff\n");
            const auto by = Clock::now() + std::chrono::seconds(5);
            while (inbox.hasName(name) && Clock::now() < by && pump(5)) {
            }
        } else if (ending == 3) {
            // Half a line, then a reset: the host may show the cut line; it is tagged as partial.
            send("msg\nP" + std::to_string(actor) + "." + std::to_string(session) + ".cut");
        }
        int confirmed = inbox.last(key);
        if (ending == 0 && !inbox.hasName(name))
            confirmed = seq;
        TheLedger.record(key, seq, confirmed);
        if (client) {
            client->close();
            std::lock_guard<std::mutex> guard(ClientInboxesMutex);
            ClientInboxes.erase(client.get());
        } else if (ending >= 2) {
            peer.reset();
        } else {
            peer.hangUp();
        }
        client.reset();
    }
}

// Logs in and never reads; the host should drop it once its queue passes the bound. The host's
// FIN cannot pass the unread bytes, so the drop shows when a later send meets the reset that the
// released socket answers with.
void NonReader(Run& run) {
    while (run.churning) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(run.tcpPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        RawPeer peer(fd);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            continue;
        peer.send("login\nnonreader\n");
        // Its own long lines, relayed back to it among everybody's, fill its queue sooner.
        const std::string line = "msg\n" + std::string(1000, 'w') + "\n";
        while (run.churning) {
            if (!peer.send(line)) {
                ++run.nonReaderDrops;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        peer.reset();
    }
}

// Sends junk: random bytes with NULs, overlong lines, fields missing, format conversions.
void GarbageSender(Run& run, uint32_t seed) {
    std::mt19937 random(seed);
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<>(low, high)(random);
    };
    while (run.churning) {
        RawPeer peer = RawPeer::connectTo(run.tcpPort);
        if (!peer.valid()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        for (int burst = pick(1, 20); burst > 0 && run.churning; --burst) {
            std::string junk;
            switch (pick(0, 5)) {
            case 0:
                for (int i = pick(1, 3000); i > 0; --i)
                    junk += char(pick(0, 255));
                break;
            case 1:
                junk = "login\n";
                break;
            case 2:
                junk = "msg\n" + std::string(size_t(pick(1000, 6000)), 'G') + "\n";
                break;
            case 3:
                junk = std::string("login\n\0\0nul\n", 12) + "msg\n%s%n%x%p\n";
                break;
            case 4:
                junk = "login\ng" + std::to_string(pick(0, 999)) + "\nmsg\nLjunk.1.1|x\n";
                break;
            default:
                junk = "logoff\nlogoff\nmsg\n\n\n\nlog";
            }
            run.garbageBytes += junk.size();
            peer.send(junk);
            peer.drain(pick(1, 20));
        }
        if (pick(0, 1))
            peer.reset();
    }
}

size_t ThreadCount() {
    size_t count = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks))
            count += entry->d_name[0] != '.';
        ::closedir(tasks);
    }
    return count;
}

template <class Condition> bool WaitUntil(Condition&& condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// What a soak found, for the report.
struct Outcome {
    bool allIn = false;
    double chatSeconds = 0;
    bool slotsSettled = false;
    uint32_t slotsLeaked = 0;
    size_t namesLeaked = 0;
    double stopSeconds = 0;
    bool allSawDeparture = true;
    size_t threadsLeft = 0;
    uint64_t sent = 0, must = 0, lost = 0, corrupted = 0, malformed = 0;
};

bool StartHost(Run& run) {
    std::lock_guard<CheckedMutex> guard(ChatLock);
    LocalName = "Host";
    ActiveServer = std::make_unique<ChatServer>(OnServerData, OnServerLost);
    if (!ActiveServer->start(MAX_CLIENTS, ProgramPort(run.tcpPort))) {
        std::printf("host did not start: %s\n", ActiveServer->lastError().c_str());
        return false;
    }
    SetUserName(HOST_ID, LocalName);
    return true;
}

// The steady clients, half the program's own ChatClient and half raw sockets; true once each of
// them sees all of them.
bool StartSteady(Run& run, std::vector<std::unique_ptr<ChatClient>>& clients,
                 std::vector<std::thread>& threads, bool& connected) {
    connected = true;
    clients.resize(STEADY);
    for (int actor = 0; actor < STEADY; ++actor) {
        if (actor % 2 != 0) {
            threads.emplace_back(SteadyRaw, std::ref(run), actor);
            continue;
        }
        auto& client = clients[size_t(actor)];
        client = std::make_unique<ChatClient>(SoakClientData, SoakClientLost);
        {
            std::lock_guard<std::mutex> guard(ClientInboxesMutex);
            ClientInboxes[client.get()] = &run.inboxes[actor];
        }
        if (!client->connect("127.0.0.1", ProgramPort(run.tcpPort))) {
            std::printf("steady client %d could not connect\n", actor);
            connected = false;
            return false;
        }
        threads.emplace_back(SteadyClient, std::ref(run), actor, std::ref(*client));
    }
    return WaitUntil(
        [&] {
            for (int actor = 0; actor < STEADY; ++actor)
                for (int other = 0; other < STEADY; ++other)
                    if (!run.inboxes[actor].hasName(ActorName(other, 0)))
                        return false;
            return true;
        },
        std::chrono::seconds(10));
}

// The churners, the non-reader and the garbage senders for `seconds`; the time it took.
double Churn(Run& run, int seconds, uint32_t seed) {
    const auto started = Clock::now();
    std::vector<std::thread> churn;
    for (int actor = STEADY; actor < NON_READER; ++actor)
        churn.emplace_back(Churner, std::ref(run), actor, seed * 1000 + uint32_t(actor));
    churn.emplace_back(NonReader, std::ref(run));
    for (int actor = GARBAGE_FIRST; actor < ACTORS; ++actor)
        churn.emplace_back(GarbageSender, std::ref(run), seed * 1000 + uint32_t(actor));
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    run.churning = false;
    for (auto& thread : churn)
        thread.join();
    run.chatting = false;
    return std::chrono::duration<double>(Clock::now() - started).count();
}

// Every line that must arrive reaches every steady client; then what the churn left behind.
void Settle(Run& run, Outcome& outcome) {
    auto outstanding = [&] {
        std::lock_guard<std::mutex> guard(TheLedger.mutex);
        for (int receiver = 0; receiver < STEADY; ++receiver)
            for (const auto& [key, must] : TheLedger.mustArrive)
                if (run.inboxes[receiver].last(key) < must)
                    return true;
        return false;
    };
    // The steady senders record their totals as they stop.
    WaitUntil([&] { return run.steadyDone == STEADY; }, std::chrono::seconds(5));
    WaitUntil([&] { return !outstanding(); }, std::chrono::seconds(10));
    ChatServer& server = *ActiveServer;
    outcome.slotsSettled =
        WaitUntil([&] { return server.occupiedSlots() <= STEADY; }, std::chrono::seconds(5));
    outcome.slotsLeaked =
        server.occupiedSlots() - std::min<uint32_t>(server.occupiedSlots(), STEADY);
    // Names of clients that have gone: UserTable entries of free slots.
    std::lock_guard<CheckedMutex> guard(ChatLock);
    for (const std::string& name : UserTable)
        outcome.namesLeaked += !name.empty();
    outcome.namesLeaked -= std::min<size_t>(outcome.namesLeaked, STEADY);
}

// The host leaves as the Host command does: its departure to everybody, then the stop.
void StopHost(Run& run, std::vector<std::thread>& steady, Outcome& outcome) {
    const auto stopStarted = Clock::now();
    EndActiveServer();
    outcome.stopSeconds = std::chrono::duration<double>(Clock::now() - stopStarted).count();
    for (auto& thread : steady)
        thread.join();
    for (int actor = 0; actor < STEADY; ++actor) {
        Inbox& inbox = run.inboxes[actor];
        WaitUntil(
            [&] {
                std::lock_guard<std::mutex> guard(inbox.mutex);
                return inbox.hostGone;
            },
            std::chrono::seconds(2));
        std::lock_guard<std::mutex> guard(inbox.mutex);
        outcome.allSawDeparture &= inbox.hostGone;
    }
}

void CountLines(Run& run, Outcome& outcome) {
    std::lock_guard<std::mutex> guard(TheLedger.mutex);
    for (const auto& [key, count] : TheLedger.sent)
        outcome.sent += uint64_t(count);
    for (const auto& [key, count] : TheLedger.mustArrive)
        outcome.must += uint64_t(count);
    for (int receiver = 0; receiver < STEADY; ++receiver) {
        Inbox& inbox = run.inboxes[receiver];
        for (const auto& [key, count] : TheLedger.mustArrive)
            outcome.lost += uint64_t(std::max(0, count - inbox.last(key)));
        std::lock_guard<std::mutex> inboxGuard(inbox.mutex);
        outcome.lost += inbox.gaps;
        outcome.corrupted += inbox.corrupted;
        outcome.malformed += inbox.malformed;
    }
}

// Prints the figures; true when the soak passed.
bool Report(Run& run, const Outcome& o, uint32_t seed) {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("soak: %.1f s of churn, seed %u, 32 clients (%d steady, %d churning, 1 never "
                "reading, 2 sending garbage)\n",
                o.chatSeconds, seed, STEADY, CHURNERS);
    std::printf("  churn sessions:            %llu\n", (unsigned long long)run.sessions.load());
    std::printf("  garbage bytes sent:        %llu\n", (unsigned long long)run.garbageBytes.load());
    std::printf("  non-reader dropped:        %llu times\n",
                (unsigned long long)run.nonReaderDrops.load());
    std::printf("  lines sent (well-behaved): %llu, of which must arrive: %llu\n",
                (unsigned long long)o.sent, (unsigned long long)o.must);
    std::printf("  lines delivered per steady client:");
    for (int receiver = 0; receiver < STEADY; ++receiver) {
        std::lock_guard<std::mutex> guard(run.inboxes[receiver].mutex);
        std::printf("%s%llu", receiver % 7 == 0 ? "\n    " : " ",
                    (unsigned long long)run.inboxes[receiver].delivered);
    }
    std::printf("\n  lines lost:                %llu\n", (unsigned long long)o.lost);
    std::printf("  lines corrupted:           %llu (malformed tokens: %llu)\n",
                (unsigned long long)o.corrupted, (unsigned long long)o.malformed);
    std::printf("  slots leaked:              %u (names of departed clients kept: %zu)\n",
                o.slotsLeaked, o.namesLeaked);
    std::printf("  host stop:                 %.3f s (%s 2 s); departure seen by all: %s\n",
                o.stopSeconds, o.stopSeconds < 2.0 ? "within" : "NOT within",
                o.allSawDeparture ? "yes" : "no");
    std::printf("  threads left after stop:   %zu\n", o.threadsLeft);
    std::printf("  peak RSS:                  %.1f MiB\n", double(usage.ru_maxrss) / 1024.0);
    const bool ok = o.allIn && o.slotsSettled && o.lost == 0 && o.corrupted == 0 &&
                    o.malformed == 0 && o.slotsLeaked == 0 && o.namesLeaked == 0 &&
                    o.stopSeconds < 2.0 && o.allSawDeparture && o.threadsLeft == 0 && o.sent > 0;
    if (!o.allIn)
        std::printf("  FAILED: the steady clients never all saw each other\n");
    std::printf("soak: %s\n", ok ? "PASS" : "FAIL");
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 10;
    uint32_t seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--seed") == 0)
            seed = uint32_t(std::strtoul(argv[i + 1], nullptr, 10));
    }
    // A sanitizer runtime starts a helper thread along with the first thread of the program;
    // start and join one first so that the helper belongs to the baseline.
    std::thread([] {}).join();
    const size_t threadsBefore = ThreadCount();
    auto run = std::make_unique<Run>();
    const ReservedPort port;
    run->tcpPort = port.tcpPort;
    if (!StartHost(*run))
        return 1;
    Outcome outcome;
    std::vector<std::unique_ptr<ChatClient>> steadyClients;
    std::vector<std::thread> steady;
    bool connected = false;
    outcome.allIn = StartSteady(*run, steadyClients, steady, connected);
    if (!connected)
        return 1;
    run->everyoneIn = true;
    outcome.chatSeconds = Churn(*run, seconds, seed);
    Settle(*run, outcome);
    StopHost(*run, steady, outcome);
    steadyClients.clear();
    outcome.threadsLeft = ThreadCount() - std::min(ThreadCount(), threadsBefore);
    CountLines(*run, outcome);
    return Report(*run, outcome, seed) ? 0 : 1;
}
