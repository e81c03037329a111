// minimal_relay: the least a host of our protocol can do, as a yardstick for the relay bench: one
// thread per connection, one lock, every line sent to every connection at once with blocking
// sends. No flow control, no log, no names checked, no limits; never for real use. Not part of
// ctest.
//
//   minimal_relay TCP_PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr int SLOTS = 32;

std::mutex Lock; // guards everything below
int Sockets[SLOTS];
std::string Names[SLOTS];

void SendTo(int slot, const std::string& bytes) {
    if (Sockets[slot] >= 0)
        ::send(Sockets[slot], bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

void Broadcast(const std::string& bytes) {
    for (int i = 0; i < SLOTS; ++i)
        SendTo(i, bytes);
}

// One message: "login\nNAME\n", "msg\nTEXT\n" or "logoff\n".
void Handle(int slot, const std::string& keyword, const std::string& field) {
    std::lock_guard<std::mutex> guard(Lock);
    if (keyword == "msg") {
        Broadcast("msg\n" + std::to_string(slot) + "\n" + field + "\n");
    } else if (keyword == "login") {
        Names[slot] = field;
        SendTo(slot, "login\n-1\nhost\n");
        const std::string entry = "login\n" + std::to_string(slot) + "\n" + field + "\n";
        for (int i = 0; i < SLOTS; ++i) {
            if (Names[i].empty())
                continue;
            SendTo(slot, "login\n" + std::to_string(i) + "\n" + Names[i] + "\n");
            if (i != slot)
                SendTo(i, entry);
        }
    } else if (keyword == "logoff") {
        Names[slot].clear();
        Broadcast("logoff\n" + std::to_string(slot) + "\n");
    }
}

void Serve(int slot, int fd) {
    std::string in;
    char chunk[16384];
    for (;;) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        in.append(chunk, static_cast<size_t>(n));
        size_t at = 0;
        for (;;) {
            const size_t keywordEnd = in.find('\n', at);
            if (keywordEnd == std::string::npos)
                break;
            const std::string keyword = in.substr(at, keywordEnd - at);
            if (keyword == "logoff") {
                Handle(slot, keyword, "");
                at = keywordEnd + 1;
                continue;
            }
            const size_t fieldEnd = in.find('\n', keywordEnd + 1);
            if (fieldEnd == std::string::npos)
                break;
            Handle(slot, keyword, in.substr(keywordEnd + 1, fieldEnd - keywordEnd - 1));
            at = fieldEnd + 1;
        }
        in.erase(0, at);
    }
    std::lock_guard<std::mutex> guard(Lock);
    ::close(fd);
    Sockets[slot] = -1;
    Names[slot].clear();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: minimal_relay TCP_PORT\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    for (int& fd : Sockets)
        fd = -1;
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
        ::listen(listener, 10) < 0) {
        std::perror("minimal_relay");
        return 1;
    }
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            continue;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int slot = -1;
        {
            std::lock_guard<std::mutex> guard(Lock);
            for (int i = 0; i < SLOTS && slot < 0; ++i) {
                if (Sockets[i] < 0)
                    slot = i;
            }
            if (slot >= 0)
                Sockets[slot] = fd;
        }
        if (slot < 0) {
            ::close(fd);
            continue;
        }
        std::thread(Serve, slot, fd).detach();
    }
}
