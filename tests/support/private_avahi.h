// An Avahi daemon of the test's own: a network namespace with one multicast interface, a system
// bus (dbus-daemon) on a socket in a folder of its own, and avahi-daemon in that namespace with
// its runtime folder on a private /run. DBUS_SYSTEM_BUS_ADDRESS points this process (and the
// avahi-browse and avahi-publish it runs) at that bus. Needs root, ip, dbus-daemon and the Avahi
// tools; says why when they are missing.
#pragma once

#include "tests/support/net_namespaces.h"
#include "tests/support/wait.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

// A program the test started, ended with SIGTERM and reaped when this goes (or by stop()).
class ChildProcess {
public:
    ChildProcess() = default;
    // Starts argv[0] (looked up in PATH) with its output into logPath, or discarded.
    explicit ChildProcess(std::vector<std::string> argv, const std::string& logPath = "/dev/null") {
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(),
                                           O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char*> args;
        for (std::string& arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        if (::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
            pid = -1;
        ::posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() { stop(); }
    ChildProcess(ChildProcess&& other) noexcept : pid(std::exchange(other.pid, -1)) {}
    ChildProcess& operator=(ChildProcess&& other) noexcept {
        stop();
        pid = std::exchange(other.pid, -1);
        return *this;
    }

    bool started() const { return pid > 0; }
    void stop() {
        if (pid <= 0)
            return;
        ::kill(pid, SIGTERM);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
    }

private:
    pid_t pid = -1;
};

// Runs a program to its end and returns what it wrote to its standard output; exitCode gets its
// exit status (-1 when it could not run or did not end normally).
inline std::string RunForOutput(std::vector<std::string> argv, int* exitCode = nullptr) {
    int pipeEnds[2];
    if (exitCode != nullptr)
        *exitCode = -1;
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t child = -1;
    const int spawned = ::posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::string output;
    char chunk[4096];
    ssize_t got = 0;
    while (spawned == 0 && (got = ::read(pipeEnds[0], chunk, sizeof chunk)) != 0) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        output.append(chunk, static_cast<size_t>(got));
    }
    ::close(pipeEnds[0]);
    if (spawned != 0)
        return output;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (exitCode != nullptr && WIFEXITED(status))
        *exitCode = WEXITSTATUS(status);
    return output;
}

inline bool OnPath(const std::string& program) {
    int code = -1;
    RunForOutput({"sh", "-c", "command -v " + program}, &code);
    return code == 0;
}

class PrivateAvahi {
public:
    static constexpr const char* ADDRESS = "10.204.0.1";

    PrivateAvahi() {
        if (::geteuid() != 0) {
            why = "a namespace with an Avahi daemon of its own needs root";
            return;
        }
        for (const char* tool :
             {"ip", "dbus-daemon", "avahi-daemon", "avahi-browse", "avahi-publish"}) {
            if (!OnPath(tool)) {
                why = std::string(tool) + " is not installed";
                return;
            }
        }
        char folderTemplate[] = "/tmp/parlox-avahi-XXXXXX";
        if (::mkdtemp(folderTemplate) == nullptr) {
            why = "cannot make a folder for the bus";
            return;
        }
        folder = folderTemplate;
        NamespacePair::DeleteStale();
        namespaceName = "parlox-" + std::to_string(::getpid()) + "-avahi";
        if (!RunIp({"netns", "add", namespaceName}, &why)) {
            if (why.empty())
                why = "ip netns add failed (no permission for namespaces?)";
            return;
        }
        madeNamespace = true;
        // A veth pair, both ends inside: an interface that can multicast is all the daemon needs.
        if (!RunIp({"-n", namespaceName, "link", "add", "parlox0", "type", "veth", "peer", "name",
                    "parlox1"}) ||
            !RunIp({"-n", namespaceName, "link", "set", "parlox1", "up"}) ||
            !RunIp({"-n", namespaceName, "addr", "add", std::string(ADDRESS) + "/24", "dev",
                    "parlox0"}) ||
            !RunIp({"-n", namespaceName, "link", "set", "lo", "up"}) ||
            !RunIp({"-n", namespaceName, "link", "set", "parlox0", "up"})) {
            why = "the namespace's multicast interface could not be set up";
            return;
        }
        writeConfigs();
        bus = ChildProcess({"dbus-daemon", "--nofork", "--config-file=" + folder + "/bus.conf"},
                           folder + "/bus.log");
        if (!bus.started() || !WaitFor([&] { return ::access(socket().c_str(), F_OK) == 0; })) {
            why = "dbus-daemon did not start (see " + folder + "/bus.log)";
            return;
        }
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket()).c_str(), 1);
        if (!startDaemon())
            why = "avahi-daemon did not start (see " + folder + "/avahi.log)";
    }
    ~PrivateAvahi() {
        daemon.stop();
        bus.stop();
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        if (madeNamespace)
            RunIp({"netns", "del", namespaceName});
        if (!folder.empty())
            RunForOutput({"rm", "-rf", folder});
    }
    PrivateAvahi(const PrivateAvahi&) = delete;
    PrivateAvahi& operator=(const PrivateAvahi&) = delete;

    bool ready() const { return why.empty(); }

    void stopDaemon() { daemon.stop(); }
    // Starts the daemon and waits until it answers on the bus.
    bool startDaemon() {
        // The namespace's own mount table (ip netns exec makes one) gets a private /run, where
        // the daemon keeps its pid file and socket apart from any daemon of the machine.
        daemon = ChildProcess({"ip", "netns", "exec", namespaceName, "sh", "-c",
                               "mount -t tmpfs parlox-run /run && exec avahi-daemon --no-chroot "
                               "--no-drop-root --no-rlimits -f " +
                                   folder + "/avahi.conf"},
                              folder + "/avahi.log");
        return daemon.started() &&
               WaitFor(
                   [] {
                       int code = -1;
                       RunForOutput({"timeout", "10", "avahi-browse", "-at"}, &code);
                       return code == 0;
                   },
                   20000);
    }

    // avahi-browse -rpt for the service type: one line per resolved service, fields split at ';'
    // (=;interface;protocol;name;type;domain;host;address;port;txt).
    static std::vector<std::vector<std::string>> browse(const std::string& type) {
        std::vector<std::vector<std::string>> services;
        // avahi-browse now and then waits for ever on a service that changes while it resolves
        // it: each look is bounded, and the callers look again.
        const std::string output = RunForOutput({"timeout", "10", "avahi-browse", "-rpt", type});
        size_t start = 0;
        while (start < output.size()) {
            size_t end = output.find('\n', start);
            if (end == std::string::npos)
                end = output.size();
            const std::string line = output.substr(start, end - start);
            start = end + 1;
            if (line.rfind("=;", 0) != 0)
                continue;
            std::vector<std::string> fields;
            size_t from = 0;
            for (size_t semicolon; (semicolon = line.find(';', from)) != std::string::npos;
                 from = semicolon + 1)
                fields.push_back(line.substr(from, semicolon - from));
            fields.push_back(line.substr(from));
            services.push_back(fields);
        }
        return services;
    }

    std::string why;

private:
    std::string socket() const { return folder + "/bus"; }

    void writeConfigs() const {
        std::ofstream(folder + "/bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
               "1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <type>system</type>\n"
               "  <listen>unix:path="
            << socket()
            << "</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "    <allow user=\"*\"/>\n"
               "    <deny own=\"*\"/>\n"
               "    <deny send_type=\"method_call\"/>\n"
               "    <allow send_type=\"signal\"/>\n"
               "    <allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n"
               "    <allow send_requested_reply=\"true\" send_type=\"error\"/>\n"
               "    <allow receive_type=\"method_call\"/>\n"
               "    <allow receive_type=\"method_return\"/>\n"
               "    <allow receive_type=\"error\"/>\n"
               "    <allow receive_type=\"signal\"/>\n"
               "    <allow send_destination=\"org.freedesktop.DBus\"/>\n"
               "  </policy>\n"
               "  <include ignore_missing=\"yes\">/usr/share/dbus-1/system.d/avahi-dbus.conf"
               "</include>\n"
               "  <include ignore_missing=\"yes\">/etc/dbus-1/system.d/avahi-dbus.conf</include>\n"
               "</busconfig>\n";
        std::ofstream(folder + "/avahi.conf") << "[server]\n"
                                                 "use-ipv4=yes\n"
                                                 "use-ipv6=no\n"
                                                 "allow-interfaces=parlox0\n"
                                                 "enable-dbus=yes\n"
                                                 "ratelimit-interval-usec=0\n"
                                                 "[wide-area]\n"
                                                 "enable-wide-area=no\n"
                                                 "[publish]\n"
                                                 "publish-hinfo=no\n"
                                                 "publish-workstation=no\n";
    }

    std::string folder;
    std::string namespaceName;
    bool madeNamespace = false;
    ChildProcess bus;
    ChildProcess daemon;
};
