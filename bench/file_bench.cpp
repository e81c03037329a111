// file_bench: one run of the file comparison, for bench/run_file_bench.sh. A file (1 GiB unless
// told) goes from one peer through our host to one receiver and then to three at once, beside a
// plain copy of the same bytes through one relay hop made with socat (file -> relaying socat ->
// file). Each part of ours runs in a process of its own (this program, re-executed with --role),
// so that the memory each grows by is its own. Meanwhile raw chat clients measure the room's
// fan-out, idle and during each transfer. Prints one figure per line, "name value". Not in ctest.
//
//   file_bench [--mib N] [--folder DIR]
#include "chat/program_state.h"
#include "commands/commands.h"
#include "files/file_peer.h"
#include "files/offer_line.h"
#include "model/ui_tasks.h"
#include "tests/support/loopback.h"
#include "tests/support/wait.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// VmRSS or VmHWM of this process, in KiB.
long StatusKib(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field) + 1);
    return -1;
}

// The roles' side: commands on stdin, one per line; answers on stdout.
//   MEM    -> "MEM <rss KiB> <peak KiB>"    RESET -> the peak starts again from now ("RESET")
// A role ends at the end of its input.
void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// The processor time this process has used, in seconds.
double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool MemoryCommand(const std::string& command) {
    if (command == "MEM") {
        Say("MEM " + std::to_string(StatusKib("VmRSS:")) + " " +
            std::to_string(StatusKib("VmHWM:")) + " " + std::to_string(CpuSeconds()));
        return true;
    }
    if (command == "RESET") {
        std::ofstream("/proc/self/clear_refs") << "5"; // the peak RSS starts again from now
        Say("RESET");
        return true;
    }
    return false;
}

// The host: the window's Host command (room, file service and the host's own files) on the port.
int RunHost(uint16_t typedPort) {
    HostCommand({"Host", "", std::to_string(typedPort)});
    if (ChatView.logText().find("Files cannot pass") != std::string::npos)
        return Say("FAILED " + ChatView.logText()), 1;
    Say("READY");
    for (std::string command; std::getline(std::cin, command);)
        MemoryCommand(command);
    CloseCommand();
    RunUiTasks();
    return 0;
}

// A window's files alone (the bench hands the offer line over itself).
struct Peer {
    std::mutex mutex;
    std::vector<std::string> notes;
    std::unique_ptr<FilePeer> files;

    explicit Peer(uint16_t typedPort) {
        FilePeer::Hooks hooks;
        hooks.sendChatLine = [](const std::string& text) {
            Say("LINE " + text);
        };
        hooks.note = [this](const std::string& line) {
            std::lock_guard<std::mutex> guard(mutex);
            notes.push_back(line);
        };
        hooks.changed = [] {
        };
        files = std::make_unique<FilePeer>("127.0.0.1", typedPort, std::move(hooks));
    }
    std::string note() {
        std::lock_guard<std::mutex> guard(mutex);
        return notes.empty() ? "" : notes.back();
    }
};

int RunSender(uint16_t typedPort, const std::string& path) {
    Peer peer(typedPort);
    peer.files->offerFile(path);
    for (std::string command; std::getline(std::cin, command);)
        MemoryCommand(command);
    return 0;
}

//   SEE <line> -> "LISTED" once the offer is listed    SAVE <path> -> "DONE <s> <note>" when done
int RunReceiver(uint16_t typedPort) {
    Peer peer(typedPort);
    std::string id;
    for (std::string command; std::getline(std::cin, command);) {
        if (MemoryCommand(command))
            continue;
        if (command.rfind("SEE ", 0) == 0) {
            id = ParseOfferLine(command.substr(4))->id;
            peer.files->lineSeen("Sender", command.substr(4));
            WaitFor([&] { return !peer.files->offers().empty(); }, 10000);
            Say("LISTED");
        } else if (command.rfind("SAVE ", 0) == 0) {
            const auto start = Clock::now();
            peer.files->save(id, command.substr(5));
            WaitFor([&] { return !peer.note().empty(); }, 3600 * 1000);
            Say("DONE " + std::to_string(SecondsSince(start)) + " " + peer.note());
        }
    }
    return 0;
}

// The coordinator's side of a role: a child process spoken to in lines.
class Child {
public:
    explicit Child(const std::vector<std::string>& args) {
        int in[2], out[2];
        // Close-on-exec, so that no other child holds this one's ends open.
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        if (::posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ) != 0)
            std::abort();
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        toChild = in[1];
        fromChild = out[0];
    }
    ~Child() {
        ::close(toChild);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(fromChild);
    }
    void tell(const std::string& line) {
        const std::string bytes = line + "\n";
        if (::write(toChild, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            std::abort();
    }
    // The next line that starts with prefix (others are skipped); empty after timeoutMs.
    std::string await(const std::string& prefix, int timeoutMs = 600000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const size_t end = buffer.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer.substr(0, end);
                buffer.erase(0, end + 1);
                if (line.rfind(prefix, 0) == 0)
                    return line;
                continue;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd watched{fromChild, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&watched, 1, static_cast<int>(left.count())) <= 0)
                return {};
            char chunk[65536];
            const ssize_t got = ::read(fromChild, chunk, sizeof chunk);
            if (got <= 0)
                return {};
            buffer.append(chunk, static_cast<size_t>(got));
        }
    }
    // RSS when the peak was last reset, and the peak since, in KiB; the processor time used so
    // far, in seconds.
    std::pair<long, long> memory() {
        tell("MEM");
        std::istringstream fields(await("MEM "));
        std::string word;
        long rss = 0, peak = 0;
        fields >> word >> rss >> peak >> cpu;
        return {rss, peak};
    }
    double cpu = 0;
    long resetPeak() {
        tell("RESET");
        await("RESET");
        return memory().first;
    }

private:
    pid_t pid = 0;
    int toChild = -1;
    int fromChild = -1;
    std::string buffer;
};

// Raw chat clients: one says a numbered line every few milliseconds, the others read; the fan-out
// of a line is the time until the last of them has it.
class ChatProbe {
public:
    explicit ChatProbe(uint16_t tcpPort) {
        for (int i = 0; i < 4; ++i) {
            clients.push_back(RawPeer::connectTo(tcpPort));
            clients.back().send("login\nprobe" + std::to_string(i) + "\n");
        }
        for (RawPeer& client : clients)
            client.readUntil("login\n" + std::to_string(&client - clients.data()) + "\nprobe");
        for (RawPeer& client : clients)
            client.drain(200);
    }
    // Lines every 10 ms until stop; the median fan-out in microseconds.
    double measure(const std::atomic<bool>& stop, int atLeast = 100) {
        std::vector<double> fanOut;
        for (int n = 0; !stop || n < atLeast; ++n) {
            const std::string line = "msg\n0\nprobe " + std::to_string(sequence++) + "\n";
            const auto sent = Clock::now();
            clients[0].send(line.substr(0, 4) + line.substr(6));
            for (size_t i = 1; i < clients.size(); ++i) {
                clients[i].readUntil(line, 10000);
                clients[i].take();
            }
            fanOut.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
            clients[0].drain(0);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::sort(fanOut.begin(), fanOut.end());
        return fanOut[fanOut.size() / 2];
    }

private:
    std::vector<RawPeer> clients;
    int sequence = 0;
};

void MakeFile(const fs::path& path, uint64_t bytes) {
    std::mt19937_64 random(42);
    std::vector<uint64_t> block(1 << 17); // 1 MiB, repeated with a changing first word
    for (uint64_t& word : block)
        word = random();
    std::ofstream out(path, std::ios::binary);
    for (uint64_t done = 0; done < bytes; done += sizeof(uint64_t) * block.size()) {
        block[0] = done;
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(std::min<uint64_t>(bytes - done, 1 << 20)));
    }
}

uint16_t FreePort() {
    const ReservedPort port;
    return port.tcpPort;
}

double plainSeconds = 0; // when the sender had sent everything
double plainCpu = 0;     // the three socat processes' processor time, seconds

// The plain copy: receiving socat, relaying socat, sending socat; seconds from the sender's start
// to the receiver's end.
double PlainCopy(const fs::path& source, const fs::path& target) {
    const std::string hop = std::to_string(FreePort());
    const std::string end = std::to_string(FreePort());
    const auto spawn = [](const std::string& command) {
        pid_t pid = 0;
        const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
        ::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ);
        return pid;
    };
    const pid_t receiver =
        spawn("exec socat -u -b 131072 TCP-LISTEN:" + end + ",bind=127.0.0.1,reuseaddr OPEN:'" +
              target.string() + "',creat,trunc");
    const pid_t relay = spawn("exec socat -u -b 131072 TCP-LISTEN:" + hop +
                              ",bind=127.0.0.1,reuseaddr TCP:127.0.0.1:" + end);
    // Both listen once a connect to them works; the probe connection itself is harmless only for
    // the relay, so the bench waits for the ports to be taken instead.
    WaitFor(
        [&] {
            return std::system(
                       ("ss -ltn | grep -q ':" + end + " ' && ss -ltn | grep -q ':" + hop + " '")
                           .c_str()) == 0;
        },
        10000);
    const auto start = Clock::now();
    const pid_t sender =
        spawn("exec socat -u -b 131072 OPEN:'" + source.string() + "' TCP:127.0.0.1:" + hop);
    const double seconds = [&] {
        int status = 0;
        double cpu = 0;
        for (const pid_t pid : {sender, relay, receiver}) {
            rusage usage{};
            ::wait4(pid, &status, 0, &usage);
            cpu += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
            if (pid == sender)
                plainSeconds = SecondsSince(start);
        }
        plainCpu = cpu;
        return SecondsSince(start);
    }();
    return seconds;
}

struct Transfer {
    std::vector<double> seconds;
    double hostCpu = 0, senderCpu = 0, receiverCpu = 0;        // seconds, the first receiver's
    long hostGrowth = 0, senderGrowth = 0, receiverGrowth = 0; // KiB, the largest receiver's
    double chatP50 = 0;
    bool whole = true;
};

Transfer Ours(Child& host, Child& sender, const std::string& line, int receivers, ChatProbe& probe,
              const fs::path& folder, const std::string& self, uint16_t typedPort) {
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < receivers; ++i) {
        children.push_back(std::make_unique<Child>(std::vector<std::string>{
            self, "--role", "receiver", "--port", std::to_string(typedPort)}));
        children.back()->tell("SEE " + line);
        children.back()->await("LISTED");
    }
    const long hostStart = host.resetPeak();
    const long senderStart = sender.resetPeak();
    std::vector<long> receiverStart;
    for (auto& child : children)
        receiverStart.push_back(child->resetPeak());
    const double hostCpu = host.cpu, senderCpu = sender.cpu, receiverCpu = children[0]->cpu;
    for (int i = 0; i < receivers; ++i)
        children[static_cast<size_t>(i)]->tell("SAVE " +
                                               (folder / ("got-" + std::to_string(i))).string());
    std::atomic<bool> stop{false};
    double p50 = 0;
    std::thread chat([&] { p50 = probe.measure(stop, 20); });
    Transfer result;
    for (auto& child : children) {
        const std::string done = child->await("DONE ");
        result.seconds.push_back(std::atof(done.c_str() + 5));
        result.whole = result.whole && done.find(" Saved ") != std::string::npos;
    }
    stop = true;
    chat.join();
    result.chatP50 = p50;
    result.hostGrowth = host.memory().second - hostStart;
    result.senderGrowth = sender.memory().second - senderStart;
    result.hostCpu = host.cpu - hostCpu;
    result.senderCpu = sender.cpu - senderCpu;
    for (size_t i = 0; i < children.size(); ++i)
        result.receiverGrowth =
            std::max(result.receiverGrowth, children[i]->memory().second - receiverStart[i]);
    result.receiverCpu = children[0]->cpu - receiverCpu;
    for (int i = 0; i < receivers; ++i)
        fs::remove(folder / ("got-" + std::to_string(i)));
    return result;
}

} // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> options;
    for (int i = 1; i + 1 < argc; i += 2)
        options[argv[i]] = argv[i + 1];
    const uint16_t typedPort = static_cast<uint16_t>(std::atoi(options["--port"].c_str()));
    if (options["--role"] == "host")
        return RunHost(typedPort);
    if (options["--role"] == "sender")
        return RunSender(typedPort, options["--file"]);
    if (options["--role"] == "receiver")
        return RunReceiver(typedPort);

    const uint64_t mib =
        options.count("--mib") ? std::strtoull(options["--mib"].c_str(), nullptr, 10) : 1024;
    const fs::path folder =
        fs::path(options.count("--folder") ? options["--folder"]
                                           : fs::temp_directory_path().string()) /
        ("parlox-file-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path source = folder / "source.bin";
    MakeFile(source, mib << 20);
    const double bytes = static_cast<double>(mib << 20);
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    const auto step = [](const char* what) {
        std::fprintf(stderr, "file_bench: %s\n", what);
    };
    // Each copy starts with what earlier ones wrote on its way to the disk, so that none of them
    // pays for another's writing back.
    step("the plain copy");
    ::sync();
    const double plain = PlainCopy(source, folder / "plain.bin");
    const bool plainWhole = fs::file_size(folder / "plain.bin") == mib << 20;
    fs::remove(folder / "plain.bin");

    // A room port whose file service port is free too.
    uint16_t tcpPort = 0;
    for (int tries = 0; tries < 100 && tcpPort == 0; ++tries) {
        const ReservedPort room, service;
        if (service.tcpPort == room.tcpPort + 1)
            tcpPort = room.tcpPort;
    }
    if (tcpPort == 0)
        tcpPort = FreePort();
    const uint16_t roomPort = ProgramPort(tcpPort);
    Child host({self, "--role", "host", "--port", std::to_string(roomPort)});
    if (host.await("READY", 20000).empty())
        return std::fprintf(stderr, "file_bench: the host did not start\n"), 1;
    step("the idle room");
    ChatProbe probe(tcpPort);
    std::atomic<bool> stop{true};
    const double idleP50 = probe.measure(stop, 200);

    Child sender(
        {self, "--role", "sender", "--port", std::to_string(roomPort), "--file", source.string()});
    step("the offer");
    const std::string line = sender.await("LINE ").substr(5);
    step("one receiver");
    ::sync();
    const Transfer one = Ours(host, sender, line, 1, probe, folder, self, roomPort);
    step("three receivers");
    ::sync();
    const Transfer three = Ours(host, sender, line, 3, probe, folder, self, roomPort);
    fs::remove_all(folder);

    const auto rate = [&](double seconds) {
        return bytes / seconds / 1e6;
    }; // MB/s
    std::printf("file_mib %llu\n", static_cast<unsigned long long>(mib));
    std::printf("plain_mbps %.1f\n", rate(plain));
    std::printf("plain_whole %d\n", plainWhole ? 1 : 0);
    std::printf("one_mbps %.1f\n", rate(one.seconds[0]));
    std::printf("one_ratio %.3f\n", rate(one.seconds[0]) / rate(plain));
    double slowest = 0;
    for (double seconds : three.seconds)
        slowest = std::max(slowest, seconds);
    std::printf("three_mbps_each %.1f\n", rate(slowest));
    std::printf("three_ratio %.3f\n", rate(slowest) / rate(plain));
    std::printf("whole %d\n", one.whole && three.whole ? 1 : 0);
    std::printf("host_growth_mib_one %.1f\n", one.hostGrowth / 1024.0);
    std::printf("host_growth_mib_three %.1f\n", three.hostGrowth / 1024.0);
    std::printf("sender_growth_mib %.1f\n",
                std::max(one.senderGrowth, three.senderGrowth) / 1024.0);
    std::printf("receiver_growth_mib %.1f\n",
                std::max(one.receiverGrowth, three.receiverGrowth) / 1024.0);
    std::printf("cpu_s_plain_all %.2f\n", plainCpu);
    std::printf("cpu_s_one_host %.2f\n", one.hostCpu);
    std::printf("cpu_s_one_sender %.2f\n", one.senderCpu);
    std::printf("cpu_s_one_receiver %.2f\n", one.receiverCpu);
    std::printf("chat_p50_idle_us %.0f\n", idleP50);
    std::printf("chat_p50_one_us %.0f\n", one.chatP50);
    std::printf("chat_p50_three_us %.0f\n", three.chatP50);
    std::printf("chat_ratio_one %.2f\n", one.chatP50 / idleP50);
    std::printf("chat_ratio_three %.2f\n", three.chatP50 / idleP50);
    return 0;
}
