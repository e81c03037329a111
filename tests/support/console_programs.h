// The console programs as a user runs them, for end-to-end tests: parlox-room on a port of the
// test's own, parlox-bridge, and raw chat peers in a room. The programs' paths come from the
// build (PARLOX_ROOM_PROGRAM, PARLOX_BRIDGE_PROGRAM).
#pragma once

#include "tests/support/child_process.h"
#include "tests/support/irc_server.h"
#include "tests/support/loopback.h"

#include <string>
#include <vector>

// A program started with its standard output and error in files of a scratch folder.
class ConsoleProgram {
public:
    explicit ConsoleProgram(const std::string& what) : folder(what) {}

    void start(std::vector<std::string> argv) {
        process = ChildProcess(std::move(argv), outPath(), errPath());
    }
    std::string out() const { return ReadWholeFile(outPath()); }
    std::string err() const { return ReadWholeFile(errPath()); }
    // Waits until the standard output (or error) holds text.
    bool waitOut(const std::string& text, int timeoutMs = 10000) const {
        return WaitFor([&] { return out().find(text) != std::string::npos; }, timeoutMs);
    }
    bool waitErr(const std::string& text, int timeoutMs = 10000) const {
        return WaitFor([&] { return err().find(text) != std::string::npos; }, timeoutMs);
    }
    // Sends the signal and waits for the end; the exit status, or -2 when it did not end.
    int endWith(int signalNumber, int timeoutMs = 10000) {
        process.signal(signalNumber);
        int code = -2;
        if (!process.waitExit(timeoutMs, &code))
            return -2;
        return code;
    }
    int waitExit(int timeoutMs = 10000) {
        int code = -2;
        return process.waitExit(timeoutMs, &code) ? code : -2;
    }

    ScratchFolder folder;
    ChildProcess process;

private:
    std::string outPath() const { return folder.path + "/out.txt"; }
    std::string errPath() const { return folder.path + "/err.txt"; }
};

// parlox-room on a port reserved for the test, started and stopped as often as the test likes.
class RoomProgram : public ConsoleProgram {
public:
    RoomProgram() : ConsoleProgram("room") {}

    // Starts the room and waits for the end of its banner; false when it did not open.
    bool open(const std::string& name = "Test room", std::vector<std::string> more = {}) {
        std::vector<std::string> argv = {PARLOX_ROOM_PROGRAM, "--port",
                                         std::to_string(port.programPort()), "--name", name};
        argv.insert(argv.end(), more.begin(), more.end());
        start(argv);
        return WaitFor([&] { return Occurrences(out(), BANNER_END) > openings; }, 10000) &&
               ++openings > 0u;
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port.programPort()); }

    static constexpr const char* BANNER_END = "\n----------------------------------------\n";
    ReservedPort port;
    size_t openings = 0; // the output file is kept across restarts
};

// A raw client in a room: logs in, says lines, keeps every byte the host sends.
class RoomPeer {
public:
    bool join(uint16_t tcpPort, const std::string& name) {
        peer = RawPeer::connectTo(tcpPort);
        return peer.valid() && peer.send("login\n" + name + "\n") &&
               peer.readUntil("\n" + name + "\n");
    }
    void say(const std::string& text) { peer.send("msg\n" + text + "\n"); }
    // How many relayed lines so far had exactly this text.
    size_t lines(const std::string& text) {
        all += ReadAvailable(peer);
        return Occurrences(all, "\n" + text + "\n");
    }
    // Reads until count lines with exactly this text have come; false on timeout.
    bool waitLines(const std::string& text, size_t count = 1, int timeoutMs = 10000) {
        return WaitFor([&] { return lines(text) >= count; }, timeoutMs);
    }
    bool waitEnd(int timeoutMs = 10000) { return peer.readEnd(timeoutMs); }

    RawPeer peer;
    std::string all; // every byte the host sent, once lines() has read it
};

// parlox-bridge with the options given.
class BridgeProgram : public ConsoleProgram {
public:
    BridgeProgram() : ConsoleProgram("bridge") {}
    void run(std::vector<std::string> options) {
        options.insert(options.begin(), PARLOX_BRIDGE_PROGRAM);
        start(options);
    }
};

// Two sites joined through IRC, as the README draws them: two ngircd servers linked into one
// network, and at each site a room with a bridge into #office on its own server (nicks siteone
// and sitetwo).
struct TwoSites {
    // Starts everything and waits until both bridges have joined; false with the reason in why.
    bool start() {
        one.linkWith(two);
        if (!two.start() || !one.start()) {
            why = one.why + two.why;
            return false;
        }
        if (!WaitFor([&] { return one.linkedWith(two); }, 20000)) {
            why = "the servers did not link";
            return false;
        }
        if (!roomOne.open("Site one") || !roomTwo.open("Site two")) {
            why = "a room did not open";
            return false;
        }
        bridgeOne.run({"--room", roomOne.address(), "--irc",
                       "127.0.0.1:" + std::to_string(one.port.tcpPort), "--channel", "#office",
                       "--nick", "siteone"});
        bridgeTwo.run({"--room", roomTwo.address(), "--irc",
                       "127.0.0.1:" + std::to_string(two.port.tcpPort), "--channel", "#office",
                       "--nick", "sitetwo"});
        if (!bridgeOne.waitOut("joined #office", 20000) ||
            !bridgeTwo.waitOut("joined #office", 20000)) {
            why = "a bridge did not join: " + bridgeOne.err() + bridgeTwo.err();
            return false;
        }
        return true;
    }

    TestIrcServer one{"irc1.test"};
    TestIrcServer two{"irc2.test"};
    RoomProgram roomOne;
    RoomProgram roomTwo;
    BridgeProgram bridgeOne;
    BridgeProgram bridgeTwo;
    std::string why;
};
