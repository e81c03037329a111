// relay_bench: how fast our host relays a room, next to an established IRC server, ncat's chat
// mode and the loopback floor, all on 127.0.0.1. Fan-out latency, throughput with every delivery
// checked, join storm, and the relay's CPU per delivery, RSS and threads. Not part of ctest.
//
//   relay_bench [--runs N] [--data DIR]          our host, the hosting window, ngircd and ncat side
//                                                by side; with --data, the latency samples and the
//                                                throughput medians go to DIR for the chart
//   relay_bench --target HOST:PORT --protocol ours|irc|ncat [--runs N]   one relay already running
//
// Our host runs in a child process (this program, re-executed with --serve) so that its RSS, CPU
// and threads are measured exactly as the anchors' are, without the bench's clients in them.
#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "chat/protocol.h"
#include "chat/server_relay.h"
#include "chat/window_ops.h"
#include "tests/support/loopback.h"

#include <arpa/inet.h>
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
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Protocol { Ours, Irc, Ncat };

constexpr int WARMUP_LINES = 200;
constexpr int LATENCY_LINES = 2000;
constexpr int LINE_TIMEOUT_MS = 5000;   // one latency line must reach everybody within this
constexpr int STALL_TIMEOUT_MS = 10000; // a throughput phase with no delivery for this long ends
constexpr int JOIN_TIMEOUT_MS = 15000;
constexpr size_t PAD = 40; // bytes of checkable filler in every line

// Throughput phase: how many lines each send of a client carries; 0 sends a client's whole burst
// at once. A person typing makes one send per line.
int LinesPerSend = 0;

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
    case Protocol::Ncat:
        return text + "\n";
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
    case Protocol::Ncat:
        return {};
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// Sockets.

void SetNoDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void SetNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

sockaddr_in Loopback(uint16_t tcpPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(tcpPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Waits (up to timeoutMs) until a socket of this machine listens on the TCP port. It reads the
// kernel's table instead of probing: ncat's chat broker quits when a connection it listed is gone.
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

// CPU time (user and system) of the process pid, its ended threads included, in nanoseconds.
// The kernel counts it in clock ticks, so phases are kept long enough for that to be fine.
double CpuNanos(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14)
            ticks += std::atof(field.c_str());
    }
    return ticks * 1e9 / static_cast<double>(::sysconf(_SC_CLK_TCK));
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
    bool joined = false; // ncat: announced as connected
    bool ended = false;  // the relay closed the connection
    std::string in;
    size_t inPos = 0;
    std::string out;
    size_t outPos = 0;
    size_t sendBytes = 0;       // most bytes one send may carry; 0 for no limit
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
            // ncat's clients say nothing on joining, so a connection whose handshake the full
            // listen queue dropped stays unseen for seconds; and its join is not compared. Join
            // them one at a time.
            if (protocol == Protocol::Ncat &&
                !pumpUntil([&client] { return client.joined; }, JOIN_TIMEOUT_MS))
                return -1.0;
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

    // Every client sends `lines` lines as fast as it can. Deliveries per second at the receivers,
    // with every delivery checked.
    double throughput(int lines, Errors& errors, long& deliveries) {
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
        // Every line is the same length, so a send of LinesPerSend lines is a fixed byte count.
        const size_t lineBytes = WireLine(protocol, MakeText('T', 0, 0)).size();
        for (Client& client : clients)
            client.sendBytes = static_cast<size_t>(LinesPerSend) * lineBytes;
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
        deliveries = delivered;
        const double seconds = MicrosSince(start, lastArrival) / 1e6;
        return seconds > 0 ? static_cast<double>(delivered) / seconds : 0;
    }

private:
    bool everyoneJoined() const {
        for (const Client& client : clients) {
            if (protocol == Protocol::Ncat ? !client.joined : client.rosterCount < size())
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

    void flush(Client& client) {
        while (client.outPos < client.out.size()) {
            size_t size = client.out.size() - client.outPos;
            if (client.sendBytes != 0)
                size = std::min(size, client.sendBytes);
            const ssize_t sent =
                ::send(client.fd, client.out.data() + client.outPos, size, MSG_NOSIGNAL);
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
        switch (protocol) {
        case Protocol::Ours:
            parseOurs(client, now);
            break;
        case Protocol::Irc:
        case Protocol::Ncat:
            parseLines(client, now);
            break;
        }
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

    // IRC and ncat: one message per line.
    void parseLines(Client& client, Clock::time_point now) {
        for (;;) {
            const size_t end = client.in.find('\n', client.inPos);
            if (end == std::string::npos)
                return;
            std::string_view line =
                std::string_view(client.in).substr(client.inPos, end - client.inPos);
            client.inPos = end + 1;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (protocol == Protocol::Irc)
                ircLine(client, line, now);
            else
                ncatLine(client, line, now);
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

    void ncatLine(Client& client, std::string_view line, Clock::time_point now) {
        if (line.rfind("<announce>", 0) == 0) {
            if (line.find(" is connected as ") != std::string_view::npos &&
                line.find("already") == std::string_view::npos)
                client.joined = true; // the broker announces only to connections it serves
            return;
        }
        const size_t gap = line.find("> ");
        if (line.rfind("<user", 0) == 0 && gap != std::string_view::npos)
            line.remove_prefix(gap + 2);
        chat(client, -1, line, now);
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
    long delivered = 0;
    long duplicated = 0;
    long reordered = 0;
    long corrupted = 0;

public:
    int ended = 0; // connections the relay closed
};

// ---------------------------------------------------------------------------------------------
// The loopback floor: no relay at all, one thread sending 64 bytes on each of n connections in
// turn, then waiting until every receiver has its 64 bytes.

std::vector<double> LoopbackFloor(int n, int count) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, n);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<int> senders, receivers;
    const int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < n; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        SetNoDelay(fd);
        SetNonBlocking(fd);
        receivers.push_back(fd);
        const int accepted = ::accept(listener, nullptr, nullptr);
        SetNoDelay(accepted);
        senders.push_back(accepted);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = static_cast<uint32_t>(i);
        ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event);
    }
    ::close(listener);
    char line[64];
    std::memset(line, 'f', sizeof line);
    std::vector<double> samples;
    std::vector<size_t> got(static_cast<size_t>(n));
    for (int i = 0; i < WARMUP_LINES + count; ++i) {
        std::fill(got.begin(), got.end(), 0);
        int complete = 0;
        const auto start = Clock::now();
        for (int fd : senders)
            ::send(fd, line, sizeof line, MSG_NOSIGNAL);
        epoll_event events[64];
        while (complete < n) {
            const int ready = ::epoll_wait(epollFd, events, 64, LINE_TIMEOUT_MS);
            if (ready <= 0)
                break;
            for (int e = 0; e < ready; ++e) {
                const size_t who = events[e].data.u32;
                char chunk[256];
                const ssize_t r = ::recv(receivers[who], chunk, sizeof chunk, 0);
                if (r > 0 && (got[who] += static_cast<size_t>(r)) == sizeof line)
                    ++complete;
            }
        }
        if (i >= WARMUP_LINES)
            samples.push_back(MicrosSince(start, Clock::now()));
    }
    for (int fd : senders)
        ::close(fd);
    for (int fd : receivers)
        ::close(fd);
    ::close(epollFd);
    return samples;
}

// ---------------------------------------------------------------------------------------------
// Figures.

double Percentile(std::vector<double> samples, double p) {
    if (samples.empty())
        return NAN;
    std::sort(samples.begin(), samples.end());
    const size_t at = static_cast<size_t>(std::ceil(p * static_cast<double>(samples.size()))) - 1;
    return samples[std::min(at, samples.size() - 1)];
}

// One run's figures for one relay and one room size; NAN where not measured.
struct Figures {
    double p50 = NAN, p99 = NAN, max = NAN; // fan-out latency, us
    double thr200 = NAN, thr1000 = NAN;     // deliveries/s
    double errors = NAN;                    // lost + corrupted + duplicated + reordered
    double joinMs = NAN;
    double cpuNsPerDelivery = NAN;
    double rssKiB = NAN, threads = NAN;
    double gapMs = NAN;          // the hosting window's longest event-loop gap
    std::vector<double> samples; // this run's latency samples, us
};

struct Relay {
    std::string label;
    Protocol protocol;
    bool throughput;     // ncat splices lines under load: latency only
    bool window = false; // the real program: window_bench --serve
};

// Measures one room size against the relay at host:tcpPort; pid is the relay's process for its
// cost figures, or -1 when the relay is not ours to watch.
Figures Measure(const Relay& relay, const std::string& host, uint16_t tcpPort, pid_t pid, int n) {
    Figures figures;
    Room room(relay.protocol, host, tcpPort, n);
    const double join = room.joinStorm();
    if (join < 0) {
        std::fprintf(stderr, "relay_bench: %s: the room of %d never completed\n",
                     relay.label.c_str(), n);
        return figures;
    }
    if (relay.protocol != Protocol::Ncat)
        figures.joinMs = join;
    const std::vector<double> samples = room.latency(WARMUP_LINES, LATENCY_LINES);
    figures.samples = samples;
    figures.p50 = Percentile(samples, 0.50);
    figures.p99 = Percentile(samples, 0.99);
    figures.max = Percentile(samples, 1.0);
    if (!relay.throughput)
        return figures;
    Errors errors;
    const double cpuBefore = pid > 0 ? CpuNanos(pid) : 0;
    long deliveries200 = 0, deliveries1000 = 0;
    figures.thr200 = room.throughput(200, errors, deliveries200);
    figures.thr1000 = room.throughput(1000, errors, deliveries1000);
    if (pid > 0) {
        const long total = deliveries200 + deliveries1000;
        figures.cpuNsPerDelivery =
            total > 0 ? (CpuNanos(pid) - cpuBefore) / static_cast<double>(total) : NAN;
        figures.rssKiB = static_cast<double>(StatusField(pid, "VmRSS"));
        figures.threads = static_cast<double>(StatusField(pid, "Threads"));
    }
    figures.errors = static_cast<double>(errors.total());
    if (errors.total() > 0)
        std::fprintf(stderr,
                     "relay_bench: %s, %d clients: lost %ld, corrupted %ld, duplicated %ld, "
                     "reordered %ld; connections the relay closed: %d\n",
                     relay.label.c_str(), n, errors.lost, errors.corrupted, errors.duplicated,
                     errors.reordered, room.ended);
    return figures;
}

double Median(std::vector<double> values) {
    values.erase(
        std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }),
        values.end());
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

constexpr double Figures::*FIELDS[] = {
    &Figures::p50,     &Figures::p99,     &Figures::max,    &Figures::thr200,
    &Figures::thr1000, &Figures::errors,  &Figures::joinMs, &Figures::cpuNsPerDelivery,
    &Figures::rssKiB,  &Figures::threads, &Figures::gapMs};

// The runs' median, or with `pick` their minimum (-1) or maximum (+1), field by field.
Figures Summary(const std::vector<Figures>& runs, int pick) {
    Figures m;
    for (double Figures::*field : FIELDS) {
        std::vector<double> values;
        for (const Figures& run : runs) {
            if (!std::isnan(run.*field))
                values.push_back(run.*field);
        }
        if (values.empty())
            m.*field = NAN;
        else if (pick < 0)
            m.*field = *std::min_element(values.begin(), values.end());
        else if (pick > 0)
            m.*field = *std::max_element(values.begin(), values.end());
        else
            m.*field = Median(values);
    }
    return m;
}

Figures MedianOf(const std::vector<Figures>& runs) {
    Figures m = Summary(runs, 0);
    // Errors are not noise: show the worst run.
    double worst = 0;
    for (const Figures& run : runs)
        worst = std::isnan(run.errors) ? worst : std::max(worst, run.errors);
    m.errors = std::isnan(m.errors) ? NAN : worst;
    return m;
}

std::string Cell(double value, int decimals = 0) {
    if (std::isnan(value))
        return "-";
    char text[32];
    // Large counts in millions, so that a cell with its range stays readable.
    if (std::fabs(value) >= 1e6)
        std::snprintf(text, sizeof text, "%.2fM", value / 1e6);
    else
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// "median (min-max)", or the median alone when the runs agree.
std::string RangeCell(double median, double low, double high, int decimals) {
    const std::string middle = Cell(median, decimals);
    if (std::isnan(median) || Cell(low, decimals) == Cell(high, decimals))
        return middle;
    return middle + " (" + Cell(low, decimals) + "-" + Cell(high, decimals) + ")";
}

std::string Ratio(double ours, double theirs) {
    if (std::isnan(ours) || std::isnan(theirs) || theirs == 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2fx", ours / theirs);
    return text;
}

struct Row {
    const char* name;
    double Figures::*field;
    int decimals;
};

const Row ROWS[] = {
    {"fan-out latency p50 (us)", &Figures::p50, 0},
    {"fan-out latency p99 (us)", &Figures::p99, 0},
    {"fan-out latency max (us)", &Figures::max, 0},
    {"throughput, 200 lines each (deliveries/s)", &Figures::thr200, 0},
    {"throughput, 1000 lines each (deliveries/s)", &Figures::thr1000, 0},
    {"lost+corrupted+duplicated+reordered (worst run)", &Figures::errors, 0},
    {"join storm, last roster complete (ms)", &Figures::joinMs, 1},
    {"relay CPU per delivery (ns)", &Figures::cpuNsPerDelivery, 0},
    {"relay RSS after the throughput runs (KiB)", &Figures::rssKiB, 0},
    {"relay threads", &Figures::threads, 0},
    {"window event-loop longest gap (ms)", &Figures::gapMs, 1},
};

// Prints one table, a Markdown table: columns are relays, each cell the median and the range of
// the runs; then each of our relays' medians over the anchor's (ngircd when measured).
void PrintTable(int n, const std::vector<std::string>& labels,
                const std::vector<std::vector<Figures>>& runs) {
    std::vector<Figures> median, low, high;
    for (const std::vector<Figures>& relay : runs) {
        median.push_back(MedianOf(relay));
        low.push_back(Summary(relay, -1));
        high.push_back(Summary(relay, 1));
    }
    const size_t anchor =
        static_cast<size_t>(std::find(labels.begin(), labels.end(), "ngircd") - labels.begin());
    std::vector<size_t> compared;
    for (size_t c = 0; anchor < labels.size() && c < labels.size(); ++c) {
        if (labels[c] == "ours" || labels[c] == "window")
            compared.push_back(c);
    }
    std::printf("\n%d clients, medians of %zu runs (min-max)\n\n| |", n, runs[0].size());
    for (const std::string& label : labels)
        std::printf(" %s |", label.c_str());
    for (size_t c : compared)
        std::printf(" %s/%s |", labels[c].c_str(), labels[anchor].c_str());
    std::printf("\n|---|");
    for (size_t c = 0; c < labels.size() + compared.size(); ++c)
        std::printf("---:|");
    std::printf("\n");
    for (const Row& row : ROWS) {
        bool any = false;
        for (const Figures& column : median)
            any = any || !std::isnan(column.*row.field);
        if (!any)
            continue;
        std::printf("| %s |", row.name);
        for (size_t c = 0; c < median.size(); ++c)
            std::printf(" %s |", RangeCell(median[c].*row.field, low[c].*row.field,
                                           high[c].*row.field, row.decimals)
                                     .c_str());
        for (size_t c : compared)
            std::printf(" %s |", Ratio(median[c].*row.field, median[anchor].*row.field).c_str());
        std::printf("\n");
    }
    std::fflush(stdout);
}

// For the chart: every run's latency samples per relay (one file each, sorted, with the fraction
// of lines at or below each), and the throughput medians.
void WriteData(const std::string& dir, int n, const std::vector<std::string>& labels,
               const std::vector<std::vector<Figures>>& runs) {
    std::ofstream throughput(dir + "/throughput_" + std::to_string(n) + ".dat");
    throughput << "# relay thr200 thr1000 (deliveries/s, medians)\n";
    for (size_t r = 0; r < labels.size(); ++r) {
        std::vector<double> samples;
        for (const Figures& run : runs[r])
            samples.insert(samples.end(), run.samples.begin(), run.samples.end());
        std::sort(samples.begin(), samples.end());
        std::ofstream latency(dir + "/latency_" + std::to_string(n) + "_" + labels[r] + ".dat");
        for (size_t i = 0; i < samples.size(); ++i)
            latency << samples[i] << " " << double(i + 1) / double(samples.size()) << "\n";
        const Figures median = MedianOf(runs[r]);
        if (!std::isnan(median.thr200))
            throughput << labels[r] << " " << median.thr200 << " " << median.thr1000 << "\n";
    }
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
        std::lock_guard<std::mutex> guard(ChatLock);
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

bool StartRelay(const Relay& relay, RelayProcess& process, std::string& config) {
    // Given up at once: the relays bind the port themselves, and the bench runs alone.
    const uint16_t tcpPort = ReservedPort().tcpPort;
    if (relay.window) {
        config = "/tmp/relay_bench_gap_" + std::to_string(::getpid());
        return process.start({SiblingPath("window_bench"), "--serve",
                              std::to_string(ProgramPort(tcpPort)), "--gap-file", config},
                             tcpPort);
    }
    switch (relay.protocol) {
    case Protocol::Ours:
        return process.start({SelfPath(), "--serve", std::to_string(ProgramPort(tcpPort))},
                             tcpPort);
    case Protocol::Irc:
        config = WriteNgircdConfig(tcpPort);
        return process.start({"ngircd", "--nodaemon", "--config", config}, tcpPort);
    case Protocol::Ncat:
        return process.start({"ncat", "--chat", "--listen", "--max-conns", "100", "127.0.0.1",
                              std::to_string(tcpPort)},
                             tcpPort);
    }
    return false;
}

bool OnPath(const char* program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

bool ParseProtocol(const std::string& name, Protocol& protocol) {
    if (name == "ours")
        protocol = Protocol::Ours;
    else if (name == "irc")
        protocol = Protocol::Irc;
    else if (name == "ncat")
        protocol = Protocol::Ncat;
    else
        return false;
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: relay_bench [--runs N] [--clients N]... [--relays ours,window,ngircd,ncat]"
                 " [--data DIR] [--lines-per-send N]\n"
                 "       relay_bench --target HOST:PORT --protocol ours|irc|ncat [--runs N]\n"
                 "(PORT is the TCP port; for our protocol that is the number the host listens on\n"
                 "after swapping its bytes)\n");
    return 2;
}

struct Options {
    int runs = 5;
    std::vector<int> sizes;
    std::string target;
    std::string protocolName = "ours";
    std::string only = "ours,window,ngircd,ncat";
    std::string dataDir;
};

// False on an argument it does not know.
bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        if (arg == "--runs")
            options.runs = std::max(1, std::atoi(value));
        else if (arg == "--clients")
            options.sizes.push_back(std::clamp(std::atoi(value), 2, MAX_CLIENTS));
        else if (arg == "--target")
            options.target = value;
        else if (arg == "--protocol")
            options.protocolName = value;
        else if (arg == "--relays")
            options.only = value;
        else if (arg == "--data")
            options.dataDir = value;
        else if (arg == "--lines-per-send")
            LinesPerSend = std::max(0, std::atoi(value));
        else
            return false;
    }
    if (options.sizes.empty())
        options.sizes = {8, 32};
    return true;
}

// Measures a relay that is already running somewhere.
int MeasureTarget(const Options& options) {
    Protocol protocol = Protocol::Ours;
    const size_t colon = options.target.rfind(':');
    if (colon == std::string::npos || !ParseProtocol(options.protocolName, protocol))
        return Usage();
    const std::string host = options.target.substr(0, colon);
    const auto tcpPort = static_cast<uint16_t>(std::atoi(options.target.c_str() + colon + 1));
    const Relay relay{options.protocolName, protocol, protocol != Protocol::Ncat};
    for (int n : options.sizes) {
        std::vector<Figures> all;
        for (int run = 0; run < options.runs; ++run)
            all.push_back(Measure(relay, host, tcpPort, -1, n));
        PrintTable(n, {relay.label}, {all});
    }
    return 0;
}

// The relays asked for that this machine has.
std::vector<Relay> ChooseRelays(const std::string& only) {
    const auto wanted = [&only](const char* label) {
        return ("," + only + ",").find(std::string(",") + label + ",") != std::string::npos;
    };
    const auto have = [](const std::string& program, const char* hint) {
        if (program.find('/') != std::string::npos ? ::access(program.c_str(), X_OK) == 0
                                                   : OnPath(program.c_str()))
            return true;
        std::fprintf(stderr, "relay_bench: %s not found; %s\n", program.c_str(), hint);
        return false;
    };
    const char* script = "bench/run_relay_bench.sh builds and installs what it needs";
    std::vector<Relay> relays;
    if (wanted("ours"))
        relays.push_back({"ours", Protocol::Ours, true});
    if (wanted("window") && have(SiblingPath("window_bench"), script))
        relays.push_back({"window", Protocol::Ours, true, true});
    if (wanted("ngircd") && have("ngircd", script))
        relays.push_back({"ngircd", Protocol::Irc, true});
    if (wanted("ncat") && have("ncat", script))
        relays.push_back({"ncat", Protocol::Ncat, false});
    return relays;
}

// One run of one relay in a process of its own.
Figures MeasureOnce(const Relay& relay, int n) {
    RelayProcess process;
    std::string config;
    if (!StartRelay(relay, process, config))
        return Figures();
    Figures figures = Measure(relay, "127.0.0.1", process.tcpPort, process.pid, n);
    process.stop();
    if (relay.window) {
        std::ifstream gap(config);
        gap >> figures.gapMs;
    }
    if (!config.empty())
        std::remove(config.c_str());
    return figures;
}

int Compare(const Options& options) {
    const std::vector<Relay> relays = ChooseRelays(options.only);
    std::printf("relay_bench: %d runs; %d latency lines after %d of warm-up; loopback 127.0.0.1\n",
                options.runs, LATENCY_LINES, WARMUP_LINES);
    for (int n : options.sizes) {
        // Runs interleave the relays, so that a burst of noise on the machine hits them alike.
        std::vector<std::vector<Figures>> all(relays.size() + 1);
        for (int run = 0; run < options.runs; ++run) {
            for (size_t r = 0; r < relays.size(); ++r)
                all[r].push_back(MeasureOnce(relays[r], n));
            Figures floor;
            floor.samples = LoopbackFloor(n, LATENCY_LINES);
            floor.p50 = Percentile(floor.samples, 0.50);
            floor.p99 = Percentile(floor.samples, 0.99);
            floor.max = Percentile(floor.samples, 1.0);
            all[relays.size()].push_back(floor);
            std::fprintf(stderr, "relay_bench: %d clients, run %d of %d done\n", n, run + 1,
                         options.runs);
        }
        std::vector<std::string> labels;
        for (const Relay& relay : relays)
            labels.push_back(relay.label);
        labels.push_back("floor");
        PrintTable(n, labels, all);
        if (!options.dataDir.empty())
            WriteData(options.dataDir, n, labels, all);
    }
    return 0;
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
    return options.target.empty() ? Compare(options) : MeasureTarget(options);
}
