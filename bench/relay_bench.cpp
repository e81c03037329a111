// relay_bench: the load generator and the checks of the relay comparison. It starts one relay
// (our host, the hosting window or ngircd) on a free loopback port, joins a room of raw clients,
// measures it and prints one figure per line, "name value", for bench/run_relay_bench.sh, which
// runs it over and over and makes the tables and the chart. Not part of ctest.
//
//   relay_bench --relay ours|window|minimal|ngircd [--clients N] [--pattern P]
//   relay_bench --target HOST:PORT --protocol ours|irc [--clients N] [--pattern P]
//
// --target measures a relay already running (under a profiler, say); --pattern runs one send
// pattern (line, 16 or burst) after the join storm and the latency, for a profile of that one.
//
// Figures: the join storm (every client connects at once; ms until every roster is complete),
// fan-out latency (one line at a time; us until every other client has it), then for each send
// pattern (one line per send, 16 lines per send, the whole burst in one go) throughput in
// deliveries/s with every delivery checked for loss, corruption, duplication and order, and the
// relay's CPU per delivery; last the relay's RSS and what the room added to it since before the
// join, its threads, and for the window its event loop's longest gap. The relay's CPU per line of
// the fan-out latency shows what the quiet room's path costs apart from the scheduling.
//
// Relays: ours, the hosting window, ngircd, and minimal_relay (bench/minimal_relay.cpp), the
// least a host of our protocol can do, as a yardstick.
//
// Our host runs in a child process (this program, re-executed with --serve) so that its RSS, CPU
// and threads are measured exactly as ngircd's are, without the bench's clients in them.
#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "chat/server_relay.h"
#include "chat/window_ops.h"
#include "tests/support/loopback.h"
#include "tests/support/wait.h"
#include "wire/protocol.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Protocol { Ours, Irc };

constexpr int WARMUP_LINES = 200;
constexpr int LATENCY_LINES = 1000;
constexpr int THROUGHPUT_LINES = 1000;  // per client and send pattern
constexpr int LINE_TIMEOUT_MS = 5000;   // one latency line must reach everybody within this
constexpr int STALL_TIMEOUT_MS = 10000; // a throughput phase with no delivery for this long ends
constexpr int JOIN_TIMEOUT_MS = 15000;
constexpr size_t PAD = 40; // bytes of checkable filler in every line
constexpr int SENDS_PER_TURN = 16;

double MicrosSince(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::micro>(end - start).count();
}

// ---------------------------------------------------------------------------------------------
// Lines: "<phase><sender:2>.<seq:7>.<filler>", where the filler follows from sender and seq, so
// that a receiver can tell a corrupted line from a good one without keeping what was sent.

char Filler(int sender, int seq, size_t i) {
    return static_cast<char>(
        'a' + (static_cast<unsigned>(sender) * 31u + static_cast<unsigned>(seq) * 7u + i) % 26u);
}

std::string MakeText(char phase, int sender, int seq) {
    char head[32]; // room for any int, so the format can never be cut
    std::snprintf(head, sizeof head, "%c%02d.%07d.", phase, sender, seq);
    std::string text = head;
    for (size_t i = 0; i < PAD; ++i)
        text += Filler(sender, seq, i);
    return text;
}

struct Stamp {
    char phase = 0;
    int sender = -1;
    int seq = -1;
};

int Digits(std::string_view text, size_t from, size_t count) {
    int value = 0;
    for (size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The stamp of a line, or nothing when the line is not exactly what MakeText makes.
std::optional<Stamp> ReadText(std::string_view text) {
    if (text.size() != 12 + PAD || text[3] != '.' || text[11] != '.')
        return std::nullopt;
    Stamp stamp{text[0], Digits(text, 1, 2), Digits(text, 4, 7)};
    if (stamp.sender < 0 || stamp.seq < 0)
        return std::nullopt;
    for (size_t i = 0; i < PAD; ++i) {
        if (text[12 + i] != Filler(stamp.sender, stamp.seq, i))
            return std::nullopt;
    }
    return stamp;
}

std::string ClientName(int index) {
    char name[16];
    std::snprintf(name, sizeof name, "b%02d", index);
    return name;
}

// What a client sends to say text to the room.
std::string WireLine(Protocol protocol, const std::string& text) {
    switch (protocol) {
    case Protocol::Ours:
        return "msg\n" + text + "\n";
    case Protocol::Irc:
        return "PRIVMSG #bench :" + text + "\r\n";
    }
    return {};
}

std::string LoginBytes(Protocol protocol, int index) {
    const std::string name = ClientName(index);
    switch (protocol) {
    case Protocol::Ours:
        return "login\n" + name + "\n";
    case Protocol::Irc:
        return "NICK " + name + "\r\nUSER " + name + " 0 * :bench\r\nJOIN #bench\r\n";
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// Sockets.

void SetNoDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

sockaddr_in Loopback(uint16_t tcpPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(tcpPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Waits (up to timeoutMs) until a socket of this machine listens on the TCP port. It reads the
// kernel's table instead of probing, so that no connection of its own is in the relay's figures.
bool WaitListening(uint16_t tcpPort, int timeoutMs) {
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, ":%04X 00000000:0000 0A", tcpPort);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        std::ifstream table("/proc/net/tcp");
        std::string line;
        while (std::getline(table, line)) {
            if (line.find(wanted) != std::string::npos)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// The relays under test, each in a process of its own that the bench starts and always stops.

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

long StatusField(pid_t pid, const char* field) {
    std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + key.size());
    }
    return -1;
}

// CPU time of the process pid in nanoseconds: the scheduler's count of time on the processor for
// each of its threads, which is exact where the tick-based figures of /proc/PID/stat are not. The
// relays' threads live as long as the measurement, so none of their time goes missing.
double CpuNanos(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (dir == nullptr)
        return NAN;
    double nanos = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            nanos += std::atof(ReadFile(tasks + "/" + entry->d_name + "/schedstat").c_str());
    }
    ::closedir(dir);
    return nanos;
}

class RelayProcess {
public:
    RelayProcess() = default;
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;
    ~RelayProcess() { stop(); }

    // Starts argv with stdin, stdout and stderr on /dev/null (stderr to errPath if given), and
    // waits until it listens on tcpPort.
    bool start(const std::vector<std::string>& argv, uint16_t port) {
        tcpPort = port;
        pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the bench
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            if (!std::getenv("RELAY_BENCH_VERBOSE"))
                ::dup2(null, 2);
            std::vector<char*> args;
            for (const std::string& arg : argv)
                args.push_back(const_cast<char*>(arg.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        if (pid < 0 || !WaitListening(tcpPort, 5000)) {
            std::fprintf(stderr, "relay_bench: %s did not start listening\n", argv[0].c_str());
            stop();
            return false;
        }
        return true;
    }

    // SIGTERM, then SIGKILL if it has not ended within two seconds.
    void stop() {
        if (pid <= 0)
            return;
        ::kill(pid, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (::waitpid(pid, nullptr, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid = -1;
    }

    pid_t pid = -1;
    uint16_t tcpPort = 0;
};

std::string SelfPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string("relay_bench");
}

std::string WriteNgircdConfig(uint16_t tcpPort) {
    const std::string path = "/tmp/relay_bench_ngircd_" + std::to_string(::getpid()) + ".conf";
    std::ofstream out(path);
    out << "[Global]\n"
           "Name = bench.invalid\n"
           "Info = relay bench\n"
           "Listen = 127.0.0.1\n"
           "Ports = "
        << tcpPort
        << "\n"
           "MotdPhrase = \"bench\"\n"
           "[Limits]\n"
           "MaxConnections = 0\n"
           "MaxConnectionsIP = 0\n"
           "MaxJoins = 0\n"
           "MaxNickLength = 16\n"
           "MaxPenaltyTime = 0\n"
           "PingTimeout = 600\n"
           "PongTimeout = 600\n"
           "[Options]\n"
           "DNS = no\n"
           "Ident = no\n"
           "PAM = no\n";
    return path;
}

// ---------------------------------------------------------------------------------------------
// The room: N raw clients driven by one epoll loop on this thread.

struct Errors {
    long lost = 0;
    long corrupted = 0;
    long duplicated = 0;
    long reordered = 0;
    long total() const { return lost + corrupted + duplicated + reordered; }
};

struct Client {
    int fd = -1;
    int index = 0;
    bool connected = false;
    bool ended = false; // the relay closed the connection
    std::string in;
    size_t inPos = 0;
    std::string out;
    size_t outPos = 0;
    std::vector<int> rosterIds; // ours: index of the client each id names, or -1
    std::vector<bool> inRoster; // by client index
    int rosterCount = 0;
    std::vector<std::vector<bool>> seen; // throughput: [sender][seq]
    std::vector<int> maxSeen;
};

class Room {
public:
    Room(Protocol p, std::string h, uint16_t port, int n)
        : protocol(p), host(std::move(h)), tcpPort(port), clients(static_cast<size_t>(n)) {
        epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    }
    ~Room() {
        for (Client& client : clients) {
            if (client.fd >= 0)
                ::close(client.fd);
        }
        ::close(epollFd);
    }
    Room(const Room&) = delete;
    Room& operator=(const Room&) = delete;

    int size() const { return static_cast<int>(clients.size()); }

    // Connects every client at once and logs it in; the time until the last roster is complete
    // (every client knows every client), in ms, or a negative value on failure.
    double joinStorm() {
        const auto start = Clock::now();
        for (int i = 0; i < size(); ++i) {
            Client& client = clients[static_cast<size_t>(i)];
            client.index = i;
            client.rosterIds.assign(MAX_CLIENTS + 1, -1);
            client.inRoster.assign(clients.size(), false);
            client.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            SetNoDelay(client.fd);
            sockaddr_in address = Loopback(tcpPort);
            ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
            ::connect(client.fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            client.out = LoginBytes(protocol, i);
            epoll_event event{};
            event.events = EPOLLIN | EPOLLOUT;
            event.data.u32 = static_cast<uint32_t>(i);
            ::epoll_ctl(epollFd, EPOLL_CTL_ADD, client.fd, &event);
        }
        const bool done = pumpUntil([this] { return everyoneJoined(); }, JOIN_TIMEOUT_MS);
        return done ? MicrosSince(start, Clock::now()) / 1000.0 : -1.0;
    }

    // One stamped line at a time, from each client in turn; the next leaves only when every
    // other client has the last one. Microseconds per line after the warm-up.
    std::vector<double> latency(int warmup, int count) {
        std::vector<double> samples;
        samples.reserve(static_cast<size_t>(count));
        for (int i = 0; i < warmup + count; ++i) {
            const int sender = i % size();
            latencySeq = i;
            latencyHave = 0;
            const auto start = Clock::now();
            queue(clients[static_cast<size_t>(sender)],
                  WireLine(protocol, MakeText('L', sender, i)));
            if (!pumpUntil([this] { return latencyHave >= size() - 1; }, LINE_TIMEOUT_MS)) {
                std::fprintf(stderr, "relay_bench: latency line %d never reached everybody\n", i);
                return {};
            }
            if (i >= warmup)
                samples.push_back(MicrosSince(start, lastArrival));
        }
        return samples;
    }

    // Every client sends `lines` lines as fast as it can, linesPerSend of them in each send (0: all
    // in one go; the kernel may still split a large send). Deliveries per second at the
    // receivers, with every delivery checked.
    double throughput(int lines, int linesPerSend, Errors& errors, long& deliveries) {
        const bool echo = protocol == Protocol::Ours;
        const long receivers = echo ? size() : size() - 1;
        const long expected = static_cast<long>(size()) * receivers * lines;
        std::vector<std::string> bursts(clients.size());
        for (Client& client : clients) {
            client.seen.assign(clients.size(), std::vector<bool>(static_cast<size_t>(lines)));
            client.maxSeen.assign(clients.size(), -1);
            for (int seq = 0; seq < lines; ++seq)
                bursts[static_cast<size_t>(client.index)] +=
                    WireLine(protocol, MakeText('T', client.index, seq));
        }
        const size_t lineBytes = WireLine(protocol, MakeText('T', 0, 0)).size();
        sendSize = linesPerSend > 0 ? lineBytes * static_cast<size_t>(linesPerSend) : SIZE_MAX;
        const auto start = Clock::now();
        for (Client& client : clients)
            queue(client, bursts[static_cast<size_t>(client.index)]);
        throughputLines = lines;
        delivered = 0;
        duplicated = 0;
        reordered = 0;
        lastArrival = start;
        pumpUntil([&] { return delivered >= expected; }, STALL_TIMEOUT_MS, true);
        // Whatever was still on its way when the count was reached (duplicates) shows up here.
        pumpUntil([] { return false; }, 50);
        long distinct = 0;
        for (const Client& client : clients) {
            for (size_t sender = 0; sender < clients.size(); ++sender) {
                if (!echo && static_cast<int>(sender) == client.index)
                    continue;
                distinct +=
                    std::count(client.seen[sender].begin(), client.seen[sender].end(), true);
            }
        }
        errors.lost += expected - distinct;
        errors.duplicated += duplicated;
        errors.reordered += reordered;
        errors.corrupted += corrupted;
        corrupted = 0;
        throughputLines = 0;
        sendSize = SIZE_MAX;
        deliveries = delivered;
        const double seconds = MicrosSince(start, lastArrival) / 1e6;
        return seconds > 0 ? static_cast<double>(delivered) / seconds : 0;
    }

private:
    bool everyoneJoined() const {
        for (const Client& client : clients) {
            if (client.rosterCount < size())
                return false;
        }
        return true;
    }

    void queue(Client& client, const std::string& bytes) {
        client.out.append(bytes);
        if (client.connected)
            flush(client);
    }

    // Runs the loop until done() or until timeoutMs pass (since the start, or with `stall` since
    // the last delivery). True when done() was reached.
    bool pumpUntil(const std::function<bool()>& done, int timeoutMs, bool stall = false) {
        epoll_event events[64];
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            const auto now = Clock::now();
            if (stall && lastArrival + std::chrono::milliseconds(timeoutMs) > deadline)
                deadline = lastArrival + std::chrono::milliseconds(timeoutMs);
            if (now >= deadline)
                return false;
            const int wait = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1);
            const int n = ::epoll_wait(epollFd, events, 64, wait);
            const auto woke = Clock::now();
            for (int i = 0; i < n; ++i) {
                Client& client = clients[events[i].data.u32];
                if (events[i].events & (EPOLLIN | EPOLLERR | EPOLLHUP))
                    readFrom(client, woke);
                if (events[i].events & EPOLLOUT) {
                    client.connected = true;
                    flush(client);
                }
            }
        }
        return true;
    }

    // Sends what the client has queued, at most SENDS_PER_TURN sends at a time: like the people
    // of a room, every client reads between its lines, and one whose sending fills the loop's
    // turn would stop reading and fall behind on purpose.
    void flush(Client& client) {
        for (int sends = 0; sends < SENDS_PER_TURN && client.outPos < client.out.size(); ++sends) {
            const ssize_t sent =
                ::send(client.fd, client.out.data() + client.outPos,
                       std::min(sendSize, client.out.size() - client.outPos), MSG_NOSIGNAL);
            if (sent <= 0)
                break;
            client.outPos += static_cast<size_t>(sent);
        }
        const bool idle = client.outPos == client.out.size();
        if (idle) {
            client.out.clear();
            client.outPos = 0;
        }
        epoll_event event{};
        event.events = EPOLLIN | (idle && client.connected ? 0u : static_cast<uint32_t>(EPOLLOUT));
        event.data.u32 = static_cast<uint32_t>(client.index);
        ::epoll_ctl(epollFd, EPOLL_CTL_MOD, client.fd, &event);
    }

    void readFrom(Client& client, Clock::time_point now) {
        char chunk[65536];
        for (int round = 0; round < 4; ++round) {
            const ssize_t n = ::recv(client.fd, chunk, sizeof chunk, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                if (!client.ended)
                    ++ended;
                client.ended = true;
                ::epoll_ctl(epollFd, EPOLL_CTL_DEL, client.fd, nullptr);
                break;
            }
            if (n < 0)
                break;
            // Acknowledge at once, as an interactive client's reply would: a relay that leaves
            // Nagle's algorithm on would otherwise hold each next line for our delayed ACK
            // (about 40 ms), which measures the ACK timer rather than the relay.
            const int one = 1;
            ::setsockopt(client.fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
            client.in.append(chunk, static_cast<size_t>(n));
            parse(client, now);
            if (static_cast<size_t>(n) < sizeof chunk)
                break;
        }
    }

    void parse(Client& client, Clock::time_point now) {
        if (protocol == Protocol::Ours)
            parseOurs(client, now);
        else
            parseIrc(client, now);
        if (client.inPos > 0 && client.inPos * 2 >= client.in.size()) {
            client.in.erase(0, client.inPos);
            client.inPos = 0;
        }
    }

    // Our protocol: tokens end in newlines, runs of newlines give no empty token.
    static bool NextToken(const std::string& in, size_t& pos, std::string_view& token) {
        while (pos < in.size() && in[pos] == '\n')
            ++pos;
        const size_t end = in.find('\n', pos);
        if (end == std::string::npos)
            return false;
        token = std::string_view(in).substr(pos, end - pos);
        pos = end + 1;
        return true;
    }

    void parseOurs(Client& client, Clock::time_point now) {
        for (;;) {
            size_t pos = client.inPos;
            std::string_view keyword, id, field;
            if (!NextToken(client.in, pos, keyword) || !NextToken(client.in, pos, id))
                return;
            if (keyword == "logoff") {
                const int slot = std::atoi(std::string(id).c_str());
                if (slot >= 0 && slot < MAX_CLIENTS &&
                    client.rosterIds[static_cast<size_t>(slot)] >= 0) {
                    const int gone = client.rosterIds[static_cast<size_t>(slot)];
                    client.rosterIds[static_cast<size_t>(slot)] = -1;
                    client.inRoster[static_cast<size_t>(gone)] = false;
                    --client.rosterCount;
                }
                client.inPos = pos;
                continue;
            }
            if (!NextToken(client.in, pos, field))
                return;
            client.inPos = pos;
            const int slot = std::atoi(std::string(id).c_str());
            if (keyword == "login") {
                // Client names are "bNN"; the host's greeting (id -1) names the host.
                if (slot < 0 || slot >= MAX_CLIENTS || field.size() != 3 || field[0] != 'b')
                    continue;
                const int index = Digits(field, 1, 2);
                if (index < 0 || index >= size())
                    continue;
                client.rosterIds[static_cast<size_t>(slot)] = index;
                if (!client.inRoster[static_cast<size_t>(index)]) {
                    client.inRoster[static_cast<size_t>(index)] = true;
                    ++client.rosterCount;
                }
            } else if (keyword == "msg") {
                const int from = slot >= 0 && slot < MAX_CLIENTS
                                     ? client.rosterIds[static_cast<size_t>(slot)]
                                     : -2;
                chat(client, from, field, now);
            }
        }
    }

    // IRC: one message per line.
    void parseIrc(Client& client, Clock::time_point now) {
        for (;;) {
            const size_t end = client.in.find('\n', client.inPos);
            if (end == std::string::npos)
                return;
            std::string_view line =
                std::string_view(client.in).substr(client.inPos, end - client.inPos);
            client.inPos = end + 1;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            ircLine(client, line, now);
        }
    }

    void addToRoster(Client& client, std::string_view nick) {
        while (!nick.empty() && (nick[0] == '@' || nick[0] == '+' || nick[0] == '~'))
            nick.remove_prefix(1);
        if (nick.size() != 3 || nick[0] != 'b')
            return;
        const int index = Digits(nick, 1, 2);
        if (index < 0 || index >= size() || client.inRoster[static_cast<size_t>(index)])
            return;
        client.inRoster[static_cast<size_t>(index)] = true;
        ++client.rosterCount;
    }

    void ircLine(Client& client, std::string_view line, Clock::time_point now) {
        std::string_view prefix;
        if (!line.empty() && line[0] == ':') {
            const size_t space = line.find(' ');
            if (space == std::string_view::npos)
                return;
            prefix = line.substr(1, space - 1);
            line.remove_prefix(space + 1);
        }
        const size_t space = line.find(' ');
        const std::string_view command = line.substr(0, space);
        const std::string_view rest =
            space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        const std::string_view nick = prefix.substr(0, prefix.find('!'));
        if (command == "PRIVMSG") {
            const size_t colon = rest.find(" :");
            const int from = nick.size() == 3 && nick[0] == 'b' ? Digits(nick, 1, 2) : -2;
            if (colon != std::string_view::npos)
                chat(client, from, rest.substr(colon + 2), now);
        } else if (command == "JOIN") {
            addToRoster(client, nick);
        } else if (command == "353") {
            const size_t colon = rest.find(" :");
            std::string_view names =
                colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 2);
            while (!names.empty()) {
                const size_t gap = names.find(' ');
                addToRoster(client, names.substr(0, gap));
                names = gap == std::string_view::npos ? std::string_view() : names.substr(gap + 1);
            }
        } else if (command == "PING") {
            queue(client, "PONG " + std::string(rest) + "\r\n");
        }
    }

    // One chat line at a receiver; `from` is the sender's client index as the relay named it
    // (-1 when the protocol names nobody usable, -2 when the relay's name fits no client).
    void chat(Client& client, int from, std::string_view text, Clock::time_point now) {
        const std::optional<Stamp> stamp = ReadText(text);
        if (!stamp || stamp->sender >= size() || (from != -1 && from != stamp->sender)) {
            ++corrupted;
            return;
        }
        if (stamp->phase == 'L') {
            if (stamp->seq == latencySeq && stamp->sender != client.index) {
                ++latencyHave;
                lastArrival = now;
            }
            return;
        }
        if (stamp->phase != 'T' || stamp->seq >= throughputLines) {
            ++corrupted;
            return;
        }
        lastArrival = now;
        ++delivered;
        std::vector<bool>& seen = client.seen[static_cast<size_t>(stamp->sender)];
        int& highest = client.maxSeen[static_cast<size_t>(stamp->sender)];
        if (seen[static_cast<size_t>(stamp->seq)]) {
            ++duplicated;
            return;
        }
        seen[static_cast<size_t>(stamp->seq)] = true;
        if (stamp->seq < highest)
            ++reordered;
        highest = std::max(highest, stamp->seq);
    }

    const Protocol protocol;
    const std::string host;
    const uint16_t tcpPort;
    int epollFd = -1;
    std::vector<Client> clients;

    int latencySeq = -1;
    int latencyHave = 0;
    Clock::time_point lastArrival;
    int throughputLines = 0;
    size_t sendSize = SIZE_MAX; // bytes a client hands to one send
    long delivered = 0;
    long duplicated = 0;
    long reordered = 0;
    long corrupted = 0;

public:
    int ended = 0; // connections the relay closed
};

// ---------------------------------------------------------------------------------------------
// Measuring.

double Percentile(std::vector<double> samples, double p) {
    if (samples.empty())
        return NAN;
    std::sort(samples.begin(), samples.end());
    const size_t at = static_cast<size_t>(std::ceil(p * static_cast<double>(samples.size()))) - 1;
    return samples[std::min(at, samples.size() - 1)];
}

void Print(const char* name, double value) {
    std::printf("%s %.6g\n", name, value);
}

struct SendPattern {
    const char* name;
    int linesPerSend; // 0: the whole burst in one go
};

const SendPattern PATTERNS[] = {{"line", 1}, {"16", 16}, {"burst", 0}};

// Measures the relay at host:tcpPort and prints its figures; pid is the relay's process for its
// cost figures, or -1 when the relay is not ours to watch. False when the room never completed
// or a delivery was wrong.
bool Measure(Protocol protocol, const std::string& host, uint16_t tcpPort, pid_t pid, int n,
             const std::string& only) {
    // What the relay holds before anybody joins (the window: on the screen and hosting), so that
    // what hosting the room added to it shows.
    const long rssBefore = pid > 0 ? StatusField(pid, "VmRSS") : -1;
    Room room(protocol, host, tcpPort, n);
    const double join = room.joinStorm();
    if (join < 0) {
        std::fprintf(stderr, "relay_bench: the room of %d never completed\n", n);
        return false;
    }
    Print("join_ms", join);
    const double latencyCpuBefore = pid > 0 ? CpuNanos(pid) : 0;
    const std::vector<double> samples = room.latency(WARMUP_LINES, LATENCY_LINES);
    if (pid > 0)
        Print("latency_cpu_us_per_line",
              (CpuNanos(pid) - latencyCpuBefore) / 1000.0 / (WARMUP_LINES + LATENCY_LINES));
    Print("latency_p50_us", Percentile(samples, 0.50));
    Print("latency_p99_us", Percentile(samples, 0.99));
    Print("latency_max_us", Percentile(samples, 1.0));
    bool good = !samples.empty();
    for (const SendPattern& pattern : PATTERNS) {
        if (!only.empty() && only != pattern.name)
            continue;
        Errors errors;
        long deliveries = 0;
        const double cpuBefore = pid > 0 ? CpuNanos(pid) : 0;
        const double rate =
            room.throughput(THROUGHPUT_LINES, pattern.linesPerSend, errors, deliveries);
        const std::string prefix = std::string(pattern.name) + "_";
        Print((prefix + "deliveries_per_s").c_str(), rate);
        if (pid > 0 && deliveries > 0)
            Print((prefix + "cpu_ns_per_delivery").c_str(),
                  (CpuNanos(pid) - cpuBefore) / static_cast<double>(deliveries));
        Print((prefix + "errors").c_str(), static_cast<double>(errors.total()));
        if (errors.total() > 0) {
            good = false;
            std::fprintf(stderr,
                         "relay_bench: %s lines per send: lost %ld, corrupted %ld, duplicated "
                         "%ld, reordered %ld; connections the relay closed: %d\n",
                         pattern.name, errors.lost, errors.corrupted, errors.duplicated,
                         errors.reordered, room.ended);
        }
    }
    if (pid > 0) {
        const long rss = StatusField(pid, "VmRSS");
        Print("rss_kib", static_cast<double>(rss));
        Print("rss_added_kib", static_cast<double>(rss - rssBefore));
        Print("threads", static_cast<double>(StatusField(pid, "Threads")));
    }
    return good;
}

// ---------------------------------------------------------------------------------------------
// Our host in a process of its own: the real ChatServer and OnServerData, the view model in place
// of the window. Ends on SIGTERM with the host's departure, as the window's teardown does.

int ServeOurs(uint16_t programPort) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    // Blocked before the server's threads exist, so that they inherit the mask and only sigwait
    // below takes the signal.
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        LocalName = "host";
        ActiveServer = std::make_unique<ChatServer>(OnServerData, OnServerLost);
        if (!ActiveServer->start(MAX_CLIENTS, programPort)) {
            std::fprintf(stderr, "relay_bench: host: %s\n", ActiveServer->lastError().c_str());
            return 1;
        }
        SetUserName(HOST_ID, LocalName);
    }
    int signal = 0;
    ::sigwait(&signals, &signal);
    EndActiveServer();
    return 0;
}

std::string SiblingPath(const char* program) {
    const std::string self = SelfPath();
    return self.substr(0, self.rfind('/') + 1) + program;
}

bool StartRelay(const std::string& relay, RelayProcess& process, std::string& config) {
    // Given up at once: the relays bind the port themselves, and the bench runs alone.
    const uint16_t tcpPort = ReservedPort().tcpPort;
    if (relay == "window") {
        // The room joins once the window shows that it hosts, as people join a host who is
        // already in the room: a storm during the window's first paint after Host measures that
        // paint, not the relay.
        config = "/tmp/relay_bench_gap_" + std::to_string(::getpid());
        const bool started =
            process.start({SiblingPath("window_bench"), "--serve",
                           std::to_string(ProgramPort(tcpPort)), "--gap-file", config},
                          tcpPort);
        const std::string ready = config + ".ready"; // written by the window once it shows the room
        const bool shown = started && WaitFor([&ready] { return std::ifstream(ready).good(); });
        std::remove(ready.c_str());
        return shown;
    }
    if (relay == "ours")
        return process.start({SelfPath(), "--serve", std::to_string(ProgramPort(tcpPort))},
                             tcpPort);
    if (relay == "minimal")
        return process.start({SiblingPath("minimal_relay"), std::to_string(tcpPort)}, tcpPort);
    config = WriteNgircdConfig(tcpPort);
    return process.start({"ngircd", "--nodaemon", "--config", config}, tcpPort);
}

struct Options {
    std::string relay;
    std::string target;
    std::string protocolName = "ours";
    std::string pattern; // only this send pattern (for profiling); every one when empty
    int clients = 32;
};

int Usage() {
    std::fprintf(
        stderr,
        "usage: relay_bench --relay ours|window|minimal|ngircd [--clients N] [--pattern P]\n"
        "       relay_bench --target HOST:PORT --protocol ours|irc [--clients N]\n"
        "                   [--pattern P]\n"
        "(P is one send pattern, line, 16 or burst; every one by default)\n"
        "(PORT is the TCP port; for our protocol that is the number the host listens on\n"
        "after swapping its bytes)\n");
    return 2;
}

// False on an argument it does not know.
bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        if (arg == "--relay")
            options.relay = value;
        else if (arg == "--clients")
            options.clients = std::clamp(std::atoi(value), 2, MAX_CLIENTS);
        else if (arg == "--target")
            options.target = value;
        else if (arg == "--protocol")
            options.protocolName = value;
        else if (arg == "--pattern")
            options.pattern = value;
        else
            return false;
    }
    return options.relay.empty() != options.target.empty() &&
           (options.relay.empty() || options.relay == "ours" || options.relay == "window" ||
            options.relay == "minimal" || options.relay == "ngircd") &&
           (options.protocolName == "ours" || options.protocolName == "irc");
}

// One relay in a process of its own, measured once.
bool MeasureRelay(const Options& options) {
    RelayProcess process;
    std::string config;
    if (!StartRelay(options.relay, process, config))
        return false;
    const Protocol protocol = options.relay == "ngircd" ? Protocol::Irc : Protocol::Ours;
    const bool good = Measure(protocol, "127.0.0.1", process.tcpPort, process.pid, options.clients,
                              options.pattern);
    process.stop();
    if (options.relay == "window") {
        double gapMs = NAN;
        std::ifstream(config) >> gapMs;
        Print("window_gap_ms", gapMs);
    }
    if (!config.empty())
        std::remove(config.c_str());
    return good;
}

// Measures a relay that is already running somewhere.
bool MeasureTarget(const Options& options) {
    const size_t colon = options.target.rfind(':');
    if (colon == std::string::npos)
        return false;
    const std::string host = options.target.substr(0, colon);
    const auto tcpPort = static_cast<uint16_t>(std::atoi(options.target.c_str() + colon + 1));
    const Protocol protocol = options.protocolName == "irc" ? Protocol::Irc : Protocol::Ours;
    return Measure(protocol, host, tcpPort, -1, options.clients, options.pattern);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--serve")
        return ServeOurs(static_cast<uint16_t>(std::atoi(argv[2])));
    Options options;
    if (!ParseOptions(argc, argv, options))
        return Usage();
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return (options.target.empty() ? MeasureRelay(options) : MeasureTarget(options)) ? 0 : 1;
}
