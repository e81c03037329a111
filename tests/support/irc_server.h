// IRC servers and peers for tests: an ngircd of the test's own on loopback ports (with TLS and
// links to other servers when asked), and a raw IRC client that registers, joins and reads lines
// with bounded waits. Needs ngircd (and openssl for TLS); says why when they are missing.
#pragma once

#include "tests/support/child_process.h"
#include "tests/support/loopback.h"
#include "tests/support/wait.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The contents of a file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// How many times text occurs in haystack.
inline size_t Occurrences(const std::string& haystack, const std::string& text) {
    size_t count = 0;
    for (size_t at = haystack.find(text); at != std::string::npos;
         at = haystack.find(text, at + text.size()))
        ++count;
    return count;
}

// Whatever the peer can read right now, without waiting; empty at the end of the connection.
inline std::string ReadAvailable(RawPeer& peer) {
    std::string got = peer.take();
    for (;;) {
        pollfd watched{peer.handle(), POLLIN, 0};
        if (peer.handle() == NO_RAW || PollRaw(&watched, 1, 0) <= 0)
            return got;
        char chunk[4096];
        const auto n = ::recv(peer.handle(), chunk, sizeof chunk, 0);
        if (n <= 0)
            return got;
        got.append(chunk, static_cast<size_t>(n));
    }
}

// A folder of the test's own under /tmp, removed with everything in it when this goes.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& what) {
        std::string name = "/tmp/parlox-" + what + "-" + std::to_string(::getpid()) + "-XXXXXX";
        if (::mkdtemp(name.data()) != nullptr)
            path = name;
    }
    ~ScratchFolder() {
        if (!path.empty())
            RunForOutput({"rm", "-rf", path});
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string path;
};

// One ngircd with the server's default flood penalties, listening on 127.0.0.1 only.
class TestIrcServer {
public:
    // name must hold a dot ("irc1.test"); with tls, a certificate for 127.0.0.1 and localhost is
    // made and a second port speaks TLS.
    explicit TestIrcServer(std::string serverName, bool tls = false)
        : name(std::move(serverName)), folder("ircd") {
        if (!OnPath("ngircd")) {
            why = "ngircd is not installed";
            return;
        }
        if (tls && !makeCertificate())
            return;
    }
    ~TestIrcServer() { stop(); }
    TestIrcServer(const TestIrcServer&) = delete;
    TestIrcServer& operator=(const TestIrcServer&) = delete;

    // Before start: the two servers form one network. The one that initiates connects.
    void linkWith(TestIrcServer& other) {
        links.push_back({other.name, other.port.tcpPort, true});
        other.links.push_back({name, port.tcpPort, false});
    }

    // Starts the server and waits until it takes connections.
    bool start() {
        if (!why.empty())
            return false;
        ::mkdir((folder.path + "/conf.d").c_str(), 0755);
        writeConfig();
        process = ChildProcess({"ngircd", "--nodaemon", "--config", folder.path + "/ngircd.conf"},
                               folder.path + "/ngircd.log");
        if (!process.started() || !WaitFor([&] { return accepts(port.tcpPort); }, 10000)) {
            why = "ngircd did not start (see " + folder.path + "/ngircd.log)";
            return false;
        }
        return true;
    }
    void stop() { process.stop(); }
    // Whether the server's log says the other server has joined the network.
    bool linkedWith(const TestIrcServer& other) const {
        return ReadWholeFile(folder.path + "/ngircd.log")
                   .find("Server \"" + other.name + "\" registered") != std::string::npos;
    }

    const std::string name;
    ReservedPort port;
    ReservedPort tlsPort;
    std::string certificate; // the certificate's file (PEM), with tls
    std::string why;         // why the server cannot run; empty when it can

private:
    struct Link {
        std::string name;
        uint16_t port;
        bool initiate;
    };

    static bool accepts(uint16_t tcpPort) {
        RawPeer probe = RawPeer::connectTo(tcpPort);
        return probe.valid();
    }

    bool makeCertificate() {
        certificate = folder.path + "/cert.pem";
        int code = -1;
        RunForOutput({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                      folder.path + "/key.pem", "-out", certificate, "-days", "2", "-subj",
                      "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"},
                     &code);
        if (code != 0)
            why = "openssl could not make a certificate";
        return code == 0;
    }

    void writeConfig() const {
        std::ofstream config(folder.path + "/ngircd.conf");
        config << "[Global]\nName = " << name << "\nInfo = Parlox test server\n"
               << "Listen = 127.0.0.1\nPorts = " << port.tcpPort << "\nMotdPhrase = test\n"
               << "[Limits]\nConnectRetry = 5\nMaxConnectionsIP = 0\n"
               << "[Options]\nDNS = no\nIdent = no\nPAM = no\nIncludeDir = " << folder.path
               << "/conf.d\n";
        if (!certificate.empty())
            config << "[SSL]\nCertFile = " << certificate << "\nKeyFile = " << folder.path
                   << "/key.pem\nPorts = " << tlsPort.tcpPort << "\n";
        for (const Link& link : links) {
            config << "[Server]\nName = " << link.name << "\nHost = 127.0.0.1\n"
                   << "MyPassword = parlox\nPeerPassword = parlox\n";
            if (link.initiate)
                config << "Port = " << link.port << "\n";
        }
    }

    ScratchFolder folder;
    std::vector<Link> links;
    ChildProcess process;
};

// A raw IRC client: registers under a nick, joins a channel and keeps every line it reads,
// answering the server's PINGs.
class IrcPeer {
public:
    // Connects, registers and joins; false when the server does not let it within the time.
    bool join(uint16_t tcpPort, const std::string& peerNick, const std::string& peerChannel) {
        nick = peerNick;
        channel = peerChannel;
        peer = RawPeer::connectTo(tcpPort);
        return peer.valid() &&
               peer.send("NICK " + nick + "\r\nUSER peer 0 * :test peer\r\nJOIN " + channel +
                         "\r\n") &&
               waitFor(" 366 " + nick + " ", 10000);
    }
    void say(const std::string& text) { peer.send("PRIVMSG " + channel + " :" + text + "\r\n"); }
    void send(const std::string& line) { peer.send(line + "\r\n"); }
    // Reads until a line holding text has arrived (counting from the start); false on timeout.
    bool waitFor(const std::string& text, int timeoutMs = 10000) {
        return WaitFor(
            [&] {
                pump();
                return all.find(text) != std::string::npos;
            },
            timeoutMs);
    }
    // How many lines read so far hold text.
    size_t count(const std::string& text) {
        pump();
        return Occurrences(all, text);
    }
    void hangUp() { peer.hangUp(); }

    std::string all; // every line read, each with its CR LF

private:
    void pump() {
        all += ReadAvailable(peer);
        for (size_t at = answered; (at = all.find("PING ", at)) != std::string::npos; ++at) {
            if (at == 0 || all[at - 1] == '\n') {
                const size_t end = all.find("\r\n", at);
                if (end == std::string::npos)
                    break;
                send("PONG " + all.substr(at + 5, end - at - 5));
                answered = end;
            }
        }
    }

    RawPeer peer;
    std::string nick;
    std::string channel;
    size_t answered = 0;
};
