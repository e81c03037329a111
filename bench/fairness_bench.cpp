// fairness_bench: what a careless or hostile client costs the others in a room of our host, on
// 127.0.0.1. Not part of ctest.
//
//   fairness_bench [--seconds N]
//
// Flood: 31 honest clients chat (a line every 100 ms each) while one client sends 900-byte lines
// as fast as the host takes them for N seconds (default 10). Honest client 0 stops reading for
// 150 ms once a second, client 1 for 2 s every 4 s; the host types a line every second. Every
// honest client checks every line it gets (each sender's numbers in order). Printed: honest clients
// dropped, lines lost, how fast the flood went, and how long the host's lines took.
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
constexpr int FLOODER = HONEST; // its slot
constexpr int DRAIN_SECONDS = 60;

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

// What one honest client got.
struct Inbox {
    std::vector<int> next = std::vector<int>(HONEST, 0); // per honest sender: the next number
    int flood = 0;
    int hostLines = 0;
    long outOfTurn = 0;
    bool dropped = false;              // the host ended this client's connection
    std::vector<double> hostTimes;     // how long each host line took to arrive, s
    std::atomic<bool> complete{false}; // everything sent has arrived (or the client was dropped)
};

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

std::atomic<bool> Flooding{true};
std::atomic<bool> Settled{false}; // the last lines are sent: clients may look for completeness
std::atomic<bool> Finished{false};
std::atomic<int> FloodSent{0};
std::atomic<int> HostLinesSent{0};
std::atomic<int> HonestSent[HONEST];
Clock::time_point Epoch;

bool Complete(const Inbox& inbox) {
    if (inbox.dropped)
        return true;
    if (inbox.flood < FloodSent || inbox.hostLines < HostLinesSent)
        return false;
    for (int sender = 0; sender < HONEST; ++sender) {
        if (inbox.next[size_t(sender)] < HonestSent[sender])
            return false;
    }
    return true;
}

void Honest(RawPeer& peer, int self, Inbox& inbox) {
    Splitter splitter;
    auto nextLine = Clock::now();
    auto nextPause = Clock::now() + std::chrono::seconds(1);
    const auto pauseEvery = std::chrono::seconds(self == 1 ? 4 : 1);
    const auto pauseFor = std::chrono::milliseconds(self == 1 ? 2000 : 150);
    char chunk[65536];
    while (!Finished) {
        const auto now = Clock::now();
        if (Flooding && now >= nextLine) {
            peer.send("msg\nh" + std::to_string(HonestSent[self]++) + "\n");
            nextLine = now + std::chrono::milliseconds(100);
        }
        if (self <= 1 && Flooding && now >= nextPause) {
            std::this_thread::sleep_for(pauseFor); // the client stops reading
            nextPause = Clock::now() + pauseEvery;
        }
        if (Settled && !inbox.complete && Complete(inbox))
            inbox.complete = true;
        pollfd watched{peer.handle(), POLLIN, 0};
        if (::poll(&watched, 1, 20) <= 0)
            continue;
        const ssize_t n = ::recv(peer.handle(), chunk, sizeof chunk, 0);
        if (n <= 0) {
            inbox.dropped = true;
            inbox.complete = true;
            return;
        }
        splitter.add(
            chunk, size_t(n),
            [&](const std::string& keyword, const std::string& id, const std::string& text) {
                const int sender = std::atoi(id.c_str());
                if (keyword != "msg")
                    return;
                if (sender == HOST_ID && self <= 1) {
                    ++inbox.hostLines; // late by its own pause: not timed
                } else if (sender == FLOODER) {
                    inbox.outOfTurn += std::atoi(text.c_str() + 1) != inbox.flood;
                    ++inbox.flood;
                } else if (sender == HOST_ID && self > 1) {
                    const double sent = std::atof(text.c_str());
                    const double took =
                        std::chrono::duration<double>(Clock::now() - Epoch).count() - sent;
                    inbox.hostTimes.push_back(took);
                    ++inbox.hostLines;
                } else if (sender >= 0 && sender < HONEST) {
                    inbox.outOfTurn += std::atoi(text.c_str() + 1) != inbox.next[size_t(sender)];
                    ++inbox.next[size_t(sender)];
                }
            });
    }
}

void Flood(int seconds, uint16_t tcpPort) {
    std::vector<RawPeer> honest;
    for (int i = 0; i < HONEST; ++i) {
        honest.push_back(RawPeer::connectTo(tcpPort));
        honest.back().send("login\nh" + std::to_string(i) + "\n");
        honest.back().readUntil("login\n" + std::to_string(i) + "\nh" + std::to_string(i) + "\n");
        honest.back().take();
    }
    RawPeer mal = RawPeer::connectTo(tcpPort);
    mal.send("login\nMal\n");
    mal.readUntil("login\n" + std::to_string(FLOODER) + "\nMal\n");
    for (RawPeer& peer : honest)
        peer.readUntil("login\n" + std::to_string(FLOODER) + "\nMal\n");
    for (RawPeer& peer : honest)
        peer.take();

    Epoch = Clock::now();
    std::vector<Inbox> inboxes(HONEST);
    std::vector<std::thread> threads;
    for (int i = 0; i < HONEST; ++i)
        threads.emplace_back(Honest, std::ref(honest[size_t(i)]), i, std::ref(inboxes[size_t(i)]));
    std::thread malReads([&] {
        char chunk[65536];
        while (!Finished) {
            pollfd watched{mal.handle(), POLLIN, 0};
            if (::poll(&watched, 1, 50) > 0 && ::recv(mal.handle(), chunk, sizeof chunk, 0) <= 0)
                return;
        }
    });
    const auto floodStart = Clock::now();
    std::thread malSends([&] {
        const std::string pad(900, 'f');
        std::string chunk;
        while (SecondsSince(floodStart) < seconds) {
            chunk.clear();
            for (int i = 0; i < 64; ++i)
                chunk += "msg\nf" + std::to_string(FloodSent + i) + " " + pad + "\n";
            if (!mal.send(chunk))
                return;
            FloodSent += 64;
        }
    });
    while (SecondsSince(floodStart) < seconds) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        char text[64];
        std::snprintf(text, sizeof text, "%.6f", SecondsSince(Epoch));
        std::lock_guard<CheckedMutex> guard(ChatLock);
        FormatInto(SendBuffer, HOST_MSG_FORMAT, text);
        ActiveServer->broadcast(SendBuffer);
        ++HostLinesSent;
    }
    malSends.join();
    const double floodSeconds = SecondsSince(floodStart);
    Flooding = false;
    // A line an honest client was sending as the flood ended is counted by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Settled = true;
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
    Finished = true;
    for (auto& thread : threads)
        thread.join();
    malReads.join();

    int dropped = 0;
    long lost = 0, outOfTurn = 0, honestLines = 0;
    std::vector<double> hostTimes;
    for (const Inbox& inbox : inboxes) {
        dropped += inbox.dropped;
        outOfTurn += inbox.outOfTurn;
        lost += std::max(0, FloodSent - inbox.flood) + std::max(0, HostLinesSent - inbox.hostLines);
        for (int sender = 0; sender < HONEST; ++sender) {
            lost += std::max(0, HonestSent[sender] - inbox.next[size_t(sender)]);
            honestLines += HonestSent[sender];
        }
        hostTimes.insert(hostTimes.end(), inbox.hostTimes.begin(), inbox.hostTimes.end());
    }
    std::sort(hostTimes.begin(), hostTimes.end());
    const auto percentile = [&](double p) {
        return hostTimes.empty() ? 0.0
                                 : hostTimes[std::min(hostTimes.size() - 1,
                                                      size_t(p * double(hostTimes.size())))];
    };
    std::printf("flood: %.1f s, 1 flooder beside %d honest clients (one pausing 150 ms a second, "
                "one 2 s every 4 s)\n",
                floodSeconds, HONEST);
    std::printf("  flood lines relayed:        %d (%.0f lines/s to each of 32 clients)\n",
                FloodSent.load(), FloodSent / floodSeconds);
    std::printf("  honest deliveries expected: %ld\n", honestLines);
    std::printf("  honest clients dropped:     %d\n", dropped);
    std::printf("  deliveries lost:            %ld (out of turn: %ld)\n", lost, outOfTurn);
    std::printf("  host's line, arrival:       median %.3f s, worst %.3f s (at the clients that do "
                "not pause)\n",
                percentile(0.5), hostTimes.empty() ? 0.0 : hostTimes.back());
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
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
    }
    const ReservedPort port;
    if (!StartHost(port.programPort()))
        return 1;
    Flood(seconds, port.tcpPort);
    EndActiveServer();
    if (!StartHost(port.programPort()))
        return 1;
    SilentSlots(port.tcpPort);
    EndActiveServer();
    return 0;
}
