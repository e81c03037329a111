// An Avahi daemon of the test's own: a network namespace with one multicast interface, a system
// bus (dbus-daemon) on a socket in a folder of its own, and avahi-daemon in that namespace with
// its runtime folder on a private /run. DBUS_SYSTEM_BUS_ADDRESS points this process (and the
// avahi-browse and avahi-publish it runs) at that bus. Needs root, ip, dbus-daemon and the Avahi
// tools; says why when they are missing.
#pragma once

#include "tests/support/child_process.h"
#include "tests/support/net_namespaces.h"
#include "tests/support/wait.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

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
