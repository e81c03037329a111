// Rename storm: one peer logs in over and over under long, ever new names. Against the real host
// (ChatServer with OnServerData, eight reading clients) and against the real client (ChatClient
// with OnClientData, fed by a raw host), it prints the resident memory before and after, the
// length of the user list, and how long the host's own typed lines took to reach a client while
// the storm went on. Usage: rename_storm [--logins N] [--name-bytes N]. Exits non-zero when a
// list grows past a room's 33 people or the storm does not get through.
#include "chat/chat_client.h"
#include "chat/chat_server.h"
#include "chat/client_messages.h"
#include "chat/program_state.h"
#include "chat/server_relay.h"
#include "chat/window_ops.h"
#include "tests/support/loopback.h"
#include "tests/support/wait.h"
#include "wire/protocol.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int READERS = 8;
constexpr int PINGS = 64;

double RssMiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long kilobytes = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> kilobytes;
            break;
        }
    }
    return double(kilobytes) / 1024.0;
}

std::string StormName(int i, size_t bytes) {
    std::string name = std::to_string(i) + "-";
    name.resize(std::max(bytes, name.size()), 'n');
    return name;
}

// Reads a connection until it ends or stop is set; notes when each host line "ping<k>" arrives.
void ReadAll(int fd, const std::atomic<bool>& stop, std::atomic<int64_t>* pingSeen) {
    std::vector<char> buffer(64 * 1024);
    std::string tail;
    while (!stop) {
        pollfd watched{fd, POLLIN, 0};
        if (::poll(&watched, 1, 50) <= 0)
            continue;
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (got <= 0)
            return;
        if (pingSeen == nullptr)
            continue;
        tail.append(buffer.data(), size_t(got));
        for (size_t at; (at = tail.find("msg\n-1\nping")) != std::string::npos;) {
            const size_t end = tail.find('\n', at + 11);
            if (end == std::string::npos)
                break;
            const int k = std::atoi(tail.c_str() + at + 11);
            if (k >= 0 && k < PINGS)
                pingSeen[k] = Clock::now().time_since_epoch().count();
            tail.erase(0, end + 1);
        }
        if (tail.size() > 4096)
            tail.erase(0, tail.size() - 64);
    }
}

bool HostStorm(int logins, size_t nameBytes) {
    const ReservedPort port;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        LocalName = "Ann";
        ActiveServer = std::make_unique<ChatServer>(OnServerData, OnServerLost);
        if (!ActiveServer->start(MAX_CLIENTS, port.programPort()))
            return false;
        SetUserName(HOST_ID, LocalName);
    }
    std::atomic<bool> stop{false};
    std::vector<std::atomic<int64_t>> pingSeen(PINGS);
    std::vector<RawPeer> readers;
    std::vector<std::thread> threads;
    for (int i = 0; i < READERS; ++i) {
        readers.push_back(RawPeer::connectTo(port.tcpPort));
        readers.back().send("login\nr" + std::to_string(i) + "\n");
    }
    RawPeer storm = RawPeer::connectTo(port.tcpPort);
    for (int i = 0; i < READERS; ++i)
        threads.emplace_back(ReadAll, readers[size_t(i)].handle(), std::cref(stop),
                             i == 0 ? pingSeen.data() : nullptr);
    threads.emplace_back(ReadAll, storm.handle(), std::cref(stop), nullptr);
    if (!WaitFor([] { return ChatView.users().size() == READERS + 1; }))
        return false;
    const double before = RssMiB();

    // The host types a line every 1/PINGS of the storm, as the Enter command does while hosting.
    std::vector<int64_t> pingSent(PINGS);
    int pings = 0;
    const auto start = Clock::now();
    std::string batch;
    size_t peakList = 0;
    for (int i = 0; i < logins; ++i) {
        batch += "login\n" + StormName(i, nameBytes) + "\n";
        if (batch.size() < 16 * 1024 && i + 1 < logins)
            continue;
        if (!storm.send(batch))
            return false;
        batch.clear();
        if (pings < PINGS && i >= int64_t(logins) * pings / PINGS) {
            std::lock_guard<CheckedMutex> guard(ChatLock);
            const std::string text = "ping" + std::to_string(pings);
            AppendChatLine(LocalName, text);
            FormatInto(SendBuffer, HOST_MSG_FORMAT, text.c_str());
            pingSent[size_t(pings++)] = Clock::now().time_since_epoch().count();
            ActiveServer->broadcast(SendBuffer);
        }
        peakList = std::max(peakList, ChatView.users().size());
    }
    // The storm's slot is the one after the readers'; its last name, cut as the host cuts it.
    const std::string last = StormName(logins - 1, nameBytes).substr(0, 99);
    const bool through = WaitFor(
        [&] {
            std::lock_guard<CheckedMutex> guard(ChatLock);
            return UserTable[READERS] == last;
        },
        600000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const bool pingsIn = WaitFor([&] { return pingSeen[size_t(pings - 1)] != 0; }, 10000);
    const double after = RssMiB();
    std::vector<double> delays;
    for (int k = 0; k < pings; ++k)
        if (pingSeen[size_t(k)] != 0)
            delays.push_back(double(pingSeen[size_t(k)] - pingSent[size_t(k)]) / 1e9);
    std::sort(delays.begin(), delays.end());
    const size_t listed = ChatView.users().size();
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    EndActiveServer();

    std::printf("host:   %d logins of %zu-byte names in %.1f s, %d readers\n", logins, nameBytes,
                seconds, READERS);
    std::printf("  user list:                %zu entries at the end, %zu at most\n", listed,
                std::max(peakList, listed));
    std::printf("  RSS before / after:       %.1f MiB / %.1f MiB\n", before, after);
    if (!delays.empty())
        std::printf("  host line to a client:    median %.3f s, slowest %.3f s (%zu lines)\n",
                    delays[delays.size() / 2], delays.back(), delays.size());
    return through && pingsIn && peakList <= MAX_CLIENTS + 1 && listed == READERS + 2;
}

bool ClientStorm(int logins, size_t nameBytes) {
    RawListener host;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        ResetChatView(true);
        ActiveClient = std::make_unique<ChatClient>(OnClientData, OnClientLost);
        if (!ActiveClient->connect("127.0.0.1", host.programPort()))
            return false;
    }
    RawPeer peer = host.accept();
    peer.send("login\n-1\nHost\n");
    if (!WaitFor([] { return ChatView.users().size() == 1; }))
        return false;
    const double before = RssMiB();
    const auto start = Clock::now();
    std::string batch;
    size_t peakList = 0;
    for (int i = 0; i < logins; ++i) {
        // Every id and, now and then, the host's greeting again.
        const int id = i % 100 == 99 ? HOST_ID : i % MAX_CLIENTS;
        batch += "login\n" + std::to_string(id) + "\n" + StormName(i, nameBytes) + "\n";
        if (batch.size() < 16 * 1024 && i + 1 < logins)
            continue;
        if (!peer.send(batch))
            return false;
        batch.clear();
        peakList = std::max(peakList, ChatView.users().size());
    }
    peer.send("msg\n-1\nstorm over\n");
    const bool through = WaitFor(
        [] { return ChatView.logText().find(">: storm over") != std::string::npos; }, 600000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double after = RssMiB();
    const size_t listed = ChatView.users().size();
    std::unique_ptr<ChatClient> client;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        client = std::move(ActiveClient);
    }
    if (client)
        client->close();

    std::printf("client: %d logins of %zu-byte names from a raw host in %.1f s\n", logins,
                nameBytes, seconds);
    std::printf("  user list:                %zu entries at the end, %zu at most\n", listed,
                std::max(peakList, listed));
    std::printf("  RSS before / after:       %.1f MiB / %.1f MiB\n", before, after);
    return through && std::max(peakList, listed) <= MAX_CLIENTS + 1;
}

} // namespace

int main(int argc, char** argv) {
    int logins = 100000;
    size_t nameBytes = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--logins") == 0)
            logins = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--name-bytes") == 0)
            nameBytes = size_t(std::max(1, std::atoi(argv[i + 1])));
    }
    const bool hostHeld = HostStorm(logins, nameBytes);
    const bool clientHeld = ClientStorm(logins, nameBytes);
    std::printf("rename_storm: %s\n", hostHeld && clientHeld ? "PASS" : "FAIL");
    return hostHeld && clientHeld ? 0 : 1;
}
