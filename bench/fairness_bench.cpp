// fairness_bench: what a careless or hostile client costs the others in a room of our host, on
// 127.0.0.1. Not part of ctest.
//
//   fairness_bench [--seconds N] [--runs N] [--case NAME]
//
// Three cases, each run --runs times (default 3) for N seconds (default 10). In each, 31 honest
// clients say a line every 20 ms (50 lines/s each), every line stamped with when it was sent, and
// every honest client checks every line it gets (each sender's numbers in order) and how long
// each honest line took to reach it; the host types a line every second.
// - non-reader: a 32nd client logs in and never reads.
// - flooder: a 32nd client sends 900-byte lines as fast as the host takes them (and reads what
//   comes back); honest client 1 stops reading for 2 s every 4 s (its lines are not timed: the
//   case shows that it is not dropped).
// - flooder and slow reader: as flooder, and honest client 0 reads at most 4 MB/s and stops
//   reading for 150 ms once a second; its lines are timed with everybody else's.
// Printed per run: honest lines' delivery time (p50, p99, max), honest clients dropped, lines
// lost, how fast the flood went; then per case the median of the runs with their range.
// Silent slots: 32 connections that never send a byte, then a user who connects and logs in.
// Printed: how long the user waited for the host's answer.
#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "chat/server_relay.h"
#include "chat/window_ops.h"
#include "tests/support/loopback.h"
#include "wire/protocol.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int HONEST = 31;
constexpr int OTHER = HONEST; // the 32nd client's slot
constexpr int LINE_MS = 20;   // each honest client's pace: 50 lines/s
constexpr int DRAIN_SECONDS = 60;
constexpr double SLOW_BYTES_PER_S = 4e6;

enum class Case { NonReader, Flooder, FlooderAndSlowReader };

const char* CaseName(Case c) {
    switch (c) {
    case Case::NonReader:
        return "non-reader";
    case Case::Flooder:
        return "flooder";
    case Case::FlooderAndSlowReader:
        return "flooder and slow reader";
    }
    return "";
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool StartHost(uint16_t programPort) {
    std::lock_guard<CheckedMutex> guard(ChatLock);
    LocalName = "Ann";
    ActiveServer = std::make_unique<ChatServer>(OnServerData, OnServerLost);
    if (!ActiveServer->start(MAX_CLIENTS, programPort)) {
        std::printf("fairness_bench: host did not start: %s\n", ActiveServer->lastError().c_str());
        return false;
    }
    SetUserName(HOST_ID, LocalName);
    return true;
}

// Splits a stream into (keyword, id, text) messages, "logoff" having no text.
class Splitter {
public:
    template <class Take> void add(const char* bytes, size_t count, Take&& take) {
        pending.append(bytes, count);
        size_t from = 0;
        for (size_t end; (end = pending.find('\n', from)) != std::string::npos;) {
            tokens[used++].assign(pending, from, end - from);
            from = end + 1;
            if (used == 3 || (used == 2 && tokens[0] == "logoff")) {
                take(tokens[0], tokens[1], used == 3 ? tokens[2] : std::string());
                used = 0;
            }
        }
        pending.erase(0, from);
    }

private:
    std::string pending;
    std::string tokens[3];
    int used = 0;
};

// One run of a case: what the clients share.
struct Run {
    Case kind = Case::NonReader;
    Clock::time_point epoch;
    std::atomic<bool> sending{true};   // honest clients and the flooder send
    std::atomic<bool> settled{false};  // the last lines are sent: clients look for completeness
    std::atomic<bool> finished{false}; // everybody stops
    std::atomic<int> floodSent{0};
    std::atomic<int> hostLinesSent{0};
    std::atomic<int> honestSent[HONEST] = {};

    long micros() const {
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - epoch).count());
    }
    bool timed(int self) const { return !(kind != Case::NonReader && self == 1); }
};

// What one honest client got.
struct Inbox {
    std::vector<int> next = std::vector<int>(HONEST, 0); // per honest sender: the next number
    int flood = 0;
    int hostLines = 0;
    long outOfTurn = 0;
    bool dropped = false;              // the host ended this client's connection
    std::vector<float> delays;         // ms each honest line took to arrive here
    std::atomic<bool> complete{false}; // everything sent has arrived (or the client was dropped)
};

bool Complete(const Run& run, const Inbox& inbox) {
    if (inbox.dropped)
        return true;
    if ((run.kind != Case::NonReader && inbox.flood < run.floodSent) ||
        inbox.hostLines < run.hostLinesSent)
        return false;
    for (int sender = 0; sender < HONEST; ++sender) {
        if (inbox.next[size_t(sender)] < run.honestSent[sender])
            return false;
    }
    return true;
}

void Honest(Run& run, RawPeer& peer, int self, Inbox& inbox) {
    Splitter splitter;
    const bool slow = run.kind == Case::FlooderAndSlowReader && self == 0;
    const bool longPauses = run.kind != Case::NonReader && self == 1;
    auto nextLine = Clock::now() + std::chrono::milliseconds(self * LINE_MS / HONEST);
    auto nextPause = Clock::now() + std::chrono::seconds(1);
    const auto pauseEvery = std::chrono::seconds(longPauses ? 4 : 1);
    const auto pauseFor = std::chrono::milliseconds(longPauses ? 2000 : 150);
    // The slow link: a bucket of bytes refilled at SLOW_BYTES_PER_S, at most 64 KiB deep.
    double allowance = 65536;
    auto refilled = Clock::now();
    char chunk[65536];
    while (!run.finished) {
        auto now = Clock::now();
        if (run.sending && now >= nextLine) {
            char line[64];
            std::snprintf(line, sizeof line, "msg\n%d %ld\n", run.honestSent[self].load(),
                          run.micros());
            ++run.honestSent[self];
            peer.send(line);
            nextLine += std::chrono::milliseconds(LINE_MS);
            if (nextLine < now)
                nextLine = now + std::chrono::milliseconds(LINE_MS);
        }
        if ((slow || longPauses) && run.sending && now >= nextPause) {
            std::this_thread::sleep_for(pauseFor); // the client stops reading
            nextPause = Clock::now() + pauseEvery;
        }
        if (run.settled && !inbox.complete && Complete(run, inbox))
            inbox.complete = true;
        size_t take = sizeof chunk;
        if (slow) {
            now = Clock::now();
            allowance = std::min(
                65536.0, allowance + SLOW_BYTES_PER_S *
                                         std::chrono::duration<double>(now - refilled).count());
            refilled = now;
            if (allowance < 1024) {
                std::this_thread::sleep_for(std::chrono::microseconds(
                    static_cast<long>((1024 - allowance) / SLOW_BYTES_PER_S * 1e6)));
                continue;
            }
            take = std::min(take, static_cast<size_t>(allowance));
        }
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextLine - Clock::now());
        pollfd watched{peer.handle(), POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(std::clamp<long>(wait.count(), 0, LINE_MS))) <= 0)
            continue;
        const ssize_t n = ::recv(peer.handle(), chunk, take, 0);
        if (n <= 0) {
            inbox.dropped = true;
            inbox.complete = true;
            return;
        }
        if (slow)
            allowance -= static_cast<double>(n);
        const long arrived = run.micros();
        splitter.add(
            chunk, size_t(n),
            [&](const std::string& keyword, const std::string& id, const std::string& text) {
                const int sender = std::atoi(id.c_str());
                if (keyword != "msg")
                    return;
                if (sender == HOST_ID) {
                    ++inbox.hostLines;
                } else if (sender == OTHER) {
                    inbox.outOfTurn += std::atoi(text.c_str() + 1) != inbox.flood;
                    ++inbox.flood;
                } else if (sender >= 0 && sender < HONEST) {
                    char* rest = nullptr;
                    const long number = std::strtol(text.c_str(), &rest, 10);
                    const long sent = std::strtol(rest, nullptr, 10);
                    inbox.outOfTurn += number != inbox.next[size_t(sender)];
                    ++inbox.next[size_t(sender)];
                    if (run.timed(self))
                        inbox.delays.push_back(static_cast<float>(arrived - sent) / 1000.0f);
                }
            });
    }
}

struct Figures {
    double p50 = 0, p99 = 0, max = 0; // ms
    int dropped = 0;
    long lost = 0;
    long outOfTurn = 0;
    double floodPerSecond = 0;
    bool longPauserDropped = false;
};

Figures RunCase(Case kind, int seconds, uint16_t tcpPort) {
    Run run;
    run.kind = kind;
    std::vector<RawPeer> honest;
    for (int i = 0; i < HONEST; ++i) {
        honest.push_back(RawPeer::connectTo(tcpPort));
        honest.back().send("login\nh" + std::to_string(i) + "\n");
        honest.back().readUntil("login\n" + std::to_string(i) + "\nh" + std::to_string(i) + "\n");
    }
    RawPeer other = RawPeer::connectTo(tcpPort);
    other.send("login\nMal\n");
    if (kind != Case::NonReader)
        other.readUntil("login\n" + std::to_string(OTHER) + "\nMal\n");
    for (RawPeer& peer : honest) {
        peer.readUntil("login\n" + std::to_string(OTHER) + "\nMal\n");
        peer.take();
    }

    run.epoch = Clock::now();
    std::vector<Inbox> inboxes(HONEST);
    std::vector<std::thread> threads;
    for (int i = 0; i < HONEST; ++i)
        threads.emplace_back(Honest, std::ref(run), std::ref(honest[size_t(i)]), i,
                             std::ref(inboxes[size_t(i)]));
    const auto start = Clock::now();
    std::thread otherReads;
    std::thread otherSends;
    if (kind != Case::NonReader) {
        otherReads = std::thread([&] {
            char chunk[65536];
            while (!run.finished) {
                pollfd watched{other.handle(), POLLIN, 0};
                if (::poll(&watched, 1, 50) > 0 &&
                    ::recv(other.handle(), chunk, sizeof chunk, 0) <= 0)
                    return;
            }
        });
        otherSends = std::thread([&] {
            const std::string pad(900, 'f');
            std::string chunk;
            while (run.sending) {
                chunk.clear();
                for (int i = 0; i < 64; ++i)
                    chunk += "msg\nf" + std::to_string(run.floodSent + i) + " " + pad + "\n";
                if (!other.send(chunk))
                    return;
                run.floodSent += 64;
            }
        });
    }
    while (SecondsSince(start) < seconds) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        char text[64];
        std::snprintf(text, sizeof text, "%ld", run.micros());
        std::lock_guard<CheckedMutex> guard(ChatLock);
        FormatInto(SendBuffer, HOST_MSG_FORMAT, text);
        ActiveServer->broadcast(SendBuffer);
        ++run.hostLinesSent;
    }
    run.sending = false;
    const double floodSeconds = SecondsSince(start);
    if (otherSends.joinable())
        otherSends.join();
    // A line an honest client was sending as the time ran out is counted by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    run.settled = true;
    // Everything sent must arrive; the honest clients read on until it has.
    const auto drainStart = Clock::now();
    while (SecondsSince(drainStart) < DRAIN_SECONDS) {
        bool all = true;
        for (const Inbox& inbox : inboxes)
            all = all && inbox.complete;
        if (all)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    run.finished = true;
    for (auto& thread : threads)
        thread.join();
    if (otherReads.joinable())
        otherReads.join();

    Figures figures;
    std::vector<float> delays;
    for (int i = 0; i < HONEST; ++i) {
        const Inbox& inbox = inboxes[size_t(i)];
        figures.dropped += inbox.dropped;
        figures.longPauserDropped = figures.longPauserDropped || (i == 1 && inbox.dropped);
        figures.outOfTurn += inbox.outOfTurn;
        if (kind != Case::NonReader)
            figures.lost += std::max(0, run.floodSent - inbox.flood);
        figures.lost += std::max(0, run.hostLinesSent - inbox.hostLines);
        for (int sender = 0; sender < HONEST; ++sender)
            figures.lost += std::max(0, run.honestSent[sender] - inbox.next[size_t(sender)]);
        delays.insert(delays.end(), inbox.delays.begin(), inbox.delays.end());
    }
    std::sort(delays.begin(), delays.end());
    const auto percentile = [&](double p) {
        return delays.empty()
                   ? 0.0
                   : double(delays[std::min(delays.size() - 1, size_t(p * double(delays.size())))]);
    };
    figures.p50 = percentile(0.5);
    figures.p99 = percentile(0.99);
    figures.max = delays.empty() ? 0.0 : double(delays.back());
    figures.floodPerSecond = run.floodSent / floodSeconds;
    return figures;
}

// "median (min-max)" of one figure over the runs, with `decimals` places.
std::string Spread(std::vector<double> values, int decimals) {
    std::sort(values.begin(), values.end());
    const size_t half = values.size() / 2;
    const double median = values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
    char text[96];
    std::snprintf(text, sizeof text, "%.*f (%.*f-%.*f)", decimals, median, decimals, values.front(),
                  decimals, values.back());
    return text;
}

void SilentSlots(uint16_t tcpPort) {
    const auto first = Clock::now();
    std::vector<RawPeer> silent;
    for (int i = 0; i < MAX_CLIENTS; ++i)
        silent.push_back(RawPeer::connectTo(tcpPort));
    while (ActiveServer->occupiedSlots() < MAX_CLIENTS)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto start = Clock::now();
    RawPeer user = RawPeer::connectTo(tcpPort);
    user.send("login\nLate\n");
    const bool in = user.readUntil("login\n-1\nAnn\n", ChatServer::SILENT_MS + 10000);
    std::printf("silent slots: 32 connections that never send, then a user logs in\n");
    if (in)
        std::printf(
            "  the user got in after:      %.1f s (%.1f s after the silent ones connected)\n",
            SecondsSince(start), SecondsSince(first));
    else
        std::printf("  the user did NOT get in within %d s\n", ChatServer::SILENT_MS / 1000 + 10);
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 10;
    int runs = 3;
    std::string only; // one case by name, for a profile of it
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--case") == 0)
            only = argv[i + 1];
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const ReservedPort port;
    std::printf(
        "31 honest clients at 50 lines/s for %d s, %d runs per case; honest lines' delivery "
        "time in ms\n",
        seconds, runs);
    bool pass = true;
    for (Case kind : {Case::NonReader, Case::Flooder, Case::FlooderAndSlowReader}) {
        if (!only.empty() && only != CaseName(kind))
            continue;
        std::vector<double> p50, p99, max, flood;
        for (int r = 0; r < runs; ++r) {
            if (!StartHost(port.programPort()))
                return 1;
            const Figures f = RunCase(kind, seconds, port.tcpPort);
            EndActiveServer();
            std::printf("%-24s run %d: p50 %6.1f  p99 %6.1f  max %7.1f  dropped %d  lost %ld  "
                        "out of turn %ld  flood %.0f lines/s\n",
                        CaseName(kind), r + 1, f.p50, f.p99, f.max, f.dropped, f.lost, f.outOfTurn,
                        f.floodPerSecond);
            pass = pass && f.dropped == 0 && f.lost == 0 && f.outOfTurn == 0;
            p50.push_back(f.p50);
            p99.push_back(f.p99);
            max.push_back(f.max);
            flood.push_back(f.floodPerSecond);
        }
        std::printf("%-24s p50 %s  p99 %s  max %s", CaseName(kind), Spread(p50, 1).c_str(),
                    Spread(p99, 1).c_str(), Spread(max, 1).c_str());
        if (kind != Case::NonReader)
            std::printf("  flood %s lines/s", Spread(flood, 0).c_str());
        std::printf("\n");
    }
    if (!StartHost(port.programPort()))
        return 1;
    SilentSlots(port.tcpPort);
    EndActiveServer();
    std::printf("fairness_bench: %s\n",
                pass ? "PASS (nobody honest dropped, nothing lost)" : "FAIL");
    return pass ? 0 : 1;
}
