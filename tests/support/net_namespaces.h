// Two network namespaces of our own joined by a veth pair, so that a test can take a link down
// under a live connection. Needs root and the ip command; says why when they cannot be made.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

// Runs `ip` with the arguments and waits for it; true when it exits with 0. When it cannot be
// started at all, why says so.
inline bool RunIp(std::vector<std::string> arguments, std::string* why = nullptr) {
    arguments.insert(arguments.begin(), "ip");
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = ::posix_spawnp(&child, "ip", nullptr, nullptr, argv.data(), environ);
    if (spawned != 0) {
        if (why != nullptr)
            *why = std::string("cannot run ip: ") + std::strerror(spawned);
        return false;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A host side and a client side, each a namespace with loopback and one end of the veth pair.
// Their addresses exist only inside the two namespaces. The namespaces are named after the
// process, so that tests running at the same time never meet, and are deleted with this object;
// those of a process that died before deleting them are deleted by the next one made.
class NamespacePair {
public:
    enum Side { HOST = 0, CLIENT = 1 };
    static constexpr const char* HOST_ADDRESS = "10.203.0.1";
    static constexpr const char* CLIENT_ADDRESS = "10.203.0.2";

    // tag tells apart several pairs in one process.
    explicit NamespacePair(const std::string& tag = "") {
        if (::geteuid() != 0) {
            why = "making network namespaces needs root";
            return;
        }
        DeleteStale();
        const std::string prefix = PREFIX + std::to_string(::getpid()) + "-" + tag;
        names[HOST] = prefix + "host";
        names[CLIENT] = prefix + "client";
        for (const std::string& name : names) {
            if (!RunIp({"netns", "add", name}, &why)) {
                if (why.empty())
                    why = "ip netns add " + name + " failed (no permission for namespaces?)";
                return;
            }
            made.push_back(name);
        }
        const bool linked = RunIp({"-n", names[HOST], "link", "add", DEVICES[HOST], "type", "veth",
                                   "peer", "name", DEVICES[CLIENT], "netns", names[CLIENT]}) &&
                            configure(HOST, HOST_ADDRESS) && configure(CLIENT, CLIENT_ADDRESS);
        if (!linked) {
            why = "the veth pair between the namespaces could not be set up";
            return;
        }
        for (int side : {HOST, CLIENT}) {
            handles[side] = ::open(("/run/netns/" + names[side]).c_str(), O_RDONLY | O_CLOEXEC);
            if (handles[side] < 0) {
                why = "cannot open namespace " + names[side] + ": " + std::strerror(errno);
                return;
            }
        }
    }
    ~NamespacePair() {
        for (int handle : handles)
            if (handle >= 0)
                ::close(handle);
        for (const std::string& name : made)
            RunIp({"netns", "del", name});
    }
    NamespacePair(const NamespacePair&) = delete;
    NamespacePair& operator=(const NamespacePair&) = delete;

    bool ready() const { return why.empty(); }

    // Runs body on a thread of its own inside side's namespace and waits for it. Sockets made
    // there stay in that namespace whichever thread uses them later. False if the thread could
    // not enter the namespace (body did not run).
    template <class Body> [[nodiscard]] bool inside(Side side, Body&& body) {
        bool entered = false;
        std::thread([&] {
            entered = ::setns(handles[side], CLONE_NEWNET) == 0;
            if (entered)
                body();
        }).join();
        return entered;
    }

    // Takes side's end of the link down: its peer's packets are dropped from then on, without a
    // reset or any other word, as when a cable is pulled.
    [[nodiscard]] bool cut(Side side) {
        return RunIp({"-n", names[side], "link", "set", DEVICES[side], "down"});
    }

    static in_addr_t address(Side side) {
        return ::inet_addr(side == HOST ? HOST_ADDRESS : CLIENT_ADDRESS);
    }

    // Deletes the namespaces of this program named after a process that no longer exists.
    static void DeleteStale() {
        std::vector<std::string> stale;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/run/netns", error)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(PREFIX, 0) != 0)
                continue;
            const long pid = std::strtol(name.c_str() + std::strlen(PREFIX), nullptr, 10);
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) < 0 && errno == ESRCH)
                stale.push_back(name);
        }
        for (const std::string& name : stale)
            RunIp({"netns", "del", name});
    }

    std::string why; // empty when the pair is ready

private:
    static constexpr const char* PREFIX = "parlox-";
    static constexpr const char* DEVICES[2] = {"veth-host", "veth-client"};

    bool configure(Side side, const char* address) {
        return RunIp({"-n", names[side], "addr", "add", std::string(address) + "/24", "dev",
                      DEVICES[side]}) &&
               RunIp({"-n", names[side], "link", "set", "lo", "up"}) &&
               RunIp({"-n", names[side], "link", "set", DEVICES[side], "up"});
    }

    std::string names[2];
    std::vector<std::string> made;
    int handles[2] = {-1, -1};
};
