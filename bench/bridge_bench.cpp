// bridge_bench: what a line costs on its way from one room to another through IRC, and what a
// burst costs a bridge. Two ngircd servers linked on loopback, a parlox-room and a parlox-bridge
// (with their defaults) at each end, and raw clients in both rooms, all real programs.
//
// Trip: Ann in room one says a line; the time until Bob in room two reads it as
// "<siteone> <Ann> ..." is one sample. Lines go one at a time, 1.1 s apart, so that the bridge's
// pace (a line a second after a burst of four) never holds one back: the figure is the trip
// itself. Memory: Ann says N lines at once, twice; bridge one's resident memory is read every
// 50 ms from before the first burst until 10 s after the second.
// Usage: bridge_bench [--runs N] [--lines N] [--burst N]
#include "tests/support/console_programs.h"
#include "tests/support/irc_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string LoadAverage() {
    std::string text = ReadWholeFile("/proc/loadavg");
    const size_t third = text.find(' ', text.find(' ', text.find(' ') + 1) + 1);
    return text.substr(0, third);
}

// A field of /proc/<pid>/status in KiB.
double StatusKib(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::stod(line.substr(field.size() + 1));
    return 0;
}

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const size_t at = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

// The two sites with a client in each room.
struct Sites : TwoSites {
    RoomPeer ann;
    RoomPeer bob;

    bool start() {
        return TwoSites::start() && ann.join(roomOne.port.tcpPort, "Ann") &&
               bob.join(roomTwo.port.tcpPort, "Bob");
    }
};

// The trip of `lines` lines, in milliseconds each; empty when one did not arrive within 10 s.
std::vector<double> Trips(Sites& sites, int run, int lines) {
    std::vector<double> trips;
    for (int i = 0; i < lines; ++i) {
        const std::string text = "trip " + std::to_string(run) + "." + std::to_string(i);
        const auto start = Clock::now();
        sites.ann.say(text);
        if (!sites.bob.waitLines("<siteone> <Ann> " + text, 1, 10000))
            return {};
        trips.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_until(start + std::chrono::milliseconds(1100));
    }
    return trips;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 3;
    int lines = 100;
    int burst = 10000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--lines") == 0)
            lines = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--burst") == 0)
            burst = std::atoi(argv[i + 1]);
    }
    if (runs < 1 || lines < 2 || burst < 1) {
        std::fputs("usage: bridge_bench [--runs N] [--lines N] [--burst N]\n", stderr);
        return 2;
    }
    std::printf("bridge_bench: load average before: %s\n", LoadAverage().c_str());
    Sites sites;
    if (!sites.start()) {
        std::fprintf(stderr, "bridge_bench: the two sites did not come up: %s\n",
                     sites.why.c_str());
        return 1;
    }

    std::vector<double> medians;
    std::vector<double> p99s;
    for (int run = 1; run <= runs; ++run) {
        const std::vector<double> trips = Trips(sites, run, lines);
        if (trips.empty()) {
            std::fprintf(stderr, "bridge_bench: a line did not arrive within 10 s\n");
            return 1;
        }
        medians.push_back(Percentile(trips, 0.5));
        p99s.push_back(Percentile(trips, 0.99));
        std::printf("run %d: %d lines, median %.2f ms, p99 %.2f ms, slowest %.2f ms\n", run, lines,
                    medians.back(), p99s.back(), *std::max_element(trips.begin(), trips.end()));
        std::fflush(stdout);
    }
    std::printf("trip room -> IRC -> room through two bridges: median %.2f ms (runs %.2f-%.2f), "
                "p99 %.2f ms (runs %.2f-%.2f)\n",
                Percentile(medians, 0.5), *std::min_element(medians.begin(), medians.end()),
                *std::max_element(medians.begin(), medians.end()), Percentile(p99s, 0.5),
                *std::min_element(p99s.begin(), p99s.end()),
                *std::max_element(p99s.begin(), p99s.end()));

    // The burst, twice: the queue is bounded, so the second costs no more than the first.
    const pid_t bridge = sites.bridgeOne.process.id();
    const double before = StatusKib(bridge, "VmRSS");
    double peak = before;
    double afterFirst = 0;
    const auto sample = [&](Clock::duration length) {
        const auto until = Clock::now() + length;
        while (Clock::now() < until) {
            // Ann reads the room as a person's window does; a client that read nothing would be
            // held back and in the end dropped by the room, and the burst would not be one.
            sites.ann.lines("");
            peak = std::max(peak, StatusKib(bridge, "VmRSS"));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    };
    for (int round = 0; round < 2; ++round) {
        std::string bytes;
        for (int i = 0; i < burst; ++i)
            bytes += "msg\nburst " + std::to_string(round) + "." + std::to_string(i) + "\n";
        sites.ann.peer.send(bytes);
        sample(std::chrono::seconds(10));
        if (round == 0)
            afterFirst = StatusKib(bridge, "VmRSS");
    }
    const double afterSecond = StatusKib(bridge, "VmRSS");
    sites.ann.lines("");
    const size_t notices = Occurrences(sites.ann.all, " not carried to #office");
    std::printf("burst: %d lines at once, twice; bridge RSS before %.1f MiB, after the first "
                "%.1f MiB, after the second %.1f MiB, peak %.1f MiB; %zu notices of lines not "
                "carried said in the room\n",
                burst, before / 1024, afterFirst / 1024, afterSecond / 1024, peak / 1024, notices);
    std::printf("bridge_bench: load average after: %s\n", LoadAverage().c_str());
    return 0;
}
