// How long a vanished peer stays in the room at the shipped keep-alive timings. Two pairs of
// network namespaces joined by veth links: in one a ChatServer with a quiet and a busy client, in
// the other a quiet and a busy ChatClient with a fake host. Both links go down at once, and the
// bench reports when each of the four connections ended. Needs root and the ip command; takes
// about a minute. Exits 0 when every connection ended within 75 s.
#include "chat/chat_client.h"
#include "chat/chat_server.h"
#include "chat/keep_alive.h"
#include "tests/support/loopback.h"
#include "tests/support/net_namespaces.h"
#include "tests/support/wait.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using Side = NamespacePair::Side;

constexpr uint16_t HOST_PORT = 5000;
constexpr auto GIVE_UP = std::chrono::seconds(120);
constexpr auto BOUND = std::chrono::seconds(75);

// When each connection ended (steady-clock ticks; 0 while it stands): the host's two slots and
// the two clients.
std::atomic<Clock::rep> SlotLost[2];
std::atomic<Clock::rep> ClientLost[2];
ChatClient* Clients[2];

void OnSlotLost(int32_t slot) {
    if (slot == 0 || slot == 1)
        SlotLost[slot] = Clock::now().time_since_epoch().count();
}

void OnClientGone(ChatClient* client) {
    for (int i : {0, 1})
        if (Clients[i] == client)
            ClientLost[i] = Clock::now().time_since_epoch().count();
}

bool AllLost() {
    for (int i : {0, 1})
        if (SlotLost[i] == 0 || ClientLost[i] == 0)
            return false;
    return true;
}

// Seconds from the cut to the loss, or -1 when the connection still stands.
double SecondsAfter(Clock::time_point cut, Clock::rep lost) {
    if (lost == 0)
        return -1;
    return std::chrono::duration<double>(Clock::time_point(Clock::duration(lost)) - cut).count();
}

} // namespace

int main() {
    const KeepAliveTimings& timings = ChatKeepAlive;
    std::printf("half_open_bench: keep-alive idle %d s, probes every %d s, %d probes; "
                "unacknowledged data %d ms\n",
                timings.idleSeconds, timings.intervalSeconds, timings.probeCount,
                timings.userTimeoutMs);
    NamespacePair hostPair("h");
    NamespacePair clientPair("c");
    for (const NamespacePair* pair : {&hostPair, &clientPair}) {
        if (!pair->ready()) {
            std::printf("cannot run: %s\n", pair->why.c_str());
            return 2;
        }
    }

    // The host, and two raw clients from the other namespace: slot 0 quiet, slot 1 busy.
    ChatServer server(nullptr, OnSlotLost);
    bool started = false;
    (void)hostPair.inside(Side::HOST, [&] { started = server.start(2, HOST_PORT); });
    RawPeer peers[2];
    (void)hostPair.inside(Side::CLIENT, [&] {
        for (int i : {0, 1}) {
            peers[i] =
                RawPeer::connectTo(ProgramPort(HOST_PORT), NamespacePair::address(Side::HOST));
            started = started && WaitFor([&] { return server.occupiedSlots() == uint32_t(i + 1); });
        }
    });

    // Two clients and a fake host that accepts them: client 0 quiet, client 1 busy.
    std::unique_ptr<RawListener> fakeHost;
    (void)clientPair.inside(Side::HOST, [&] {
        fakeHost = std::make_unique<RawListener>(NamespacePair::address(Side::HOST));
    });
    ChatClient quiet(nullptr, OnClientGone), busy(nullptr, OnClientGone);
    Clients[0] = &quiet;
    Clients[1] = &busy;
    bool connected = false;
    (void)clientPair.inside(Side::CLIENT, [&] {
        connected = quiet.connect(NamespacePair::HOST_ADDRESS, fakeHost->programPort()) &&
                    busy.connect(NamespacePair::HOST_ADDRESS, fakeHost->programPort());
    });
    RawPeer accepted[2] = {fakeHost->accept(), fakeHost->accept()};
    if (!started || !peers[0].valid() || !peers[1].valid() || !connected || !accepted[0].valid() ||
        !accepted[1].valid()) {
        std::printf("the connections could not be made\n");
        return 1;
    }

    // Each observer's side keeps its link; the vanished peer's end goes down.
    if (!hostPair.cut(Side::CLIENT) || !clientPair.cut(Side::HOST)) {
        std::printf("the links could not be taken down\n");
        return 1;
    }
    const auto cut = Clock::now();
    // The busy ones go on talking to the vanished peer, one line a second.
    while (!AllLost() && Clock::now() - cut < GIVE_UP) {
        server.sendTo(1, "msg\n-1\nanyone?\n");
        busy.send("msg\nanyone?\n");
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }

    const double times[4] = {SecondsAfter(cut, SlotLost[0]), SecondsAfter(cut, SlotLost[1]),
                             SecondsAfter(cut, ClientLost[0]), SecondsAfter(cut, ClientLost[1])};
    const char* names[4] = {"host, quiet client:", "host, busy room:", "client, quiet room:",
                            "client, busy (sending):"};
    bool pass = true;
    for (int i = 0; i < 4; ++i) {
        const bool inTime = times[i] >= 0 && times[i] <= std::chrono::seconds(BOUND).count();
        pass = pass && inTime;
        if (times[i] < 0)
            std::printf("  %-26s still connected after %lld s\n", names[i],
                        static_cast<long long>(std::chrono::seconds(GIVE_UP).count()));
        else
            std::printf("  %-26s connection ended %.1f s after the link went down\n", names[i],
                        times[i]);
    }
    (void)hostPair.inside(Side::HOST, [&] { server.stop(); });
    std::printf("half_open_bench: %s\n", pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
