// The Relay fixture: a FileRelay on loopback with short limits, windows' FilePeers that record
// what they say, and a folder of the test's own.
#pragma once

#include "files/file_peer.h"
#include "files/file_relay.h"
#include "files/random_id.h"
#include "files/sha256.h"
#include "tests/support/loopback.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// Short enough that a stalled peer ends within a test; the windows' own limits stay longer, so
// that what they report is the relay's word.
inline RelayTimings RelayWaits() {
    RelayTimings timings;
    timings.firstLineMs = 500;
    timings.uploadWaitMs = 1000;
    timings.stallMs = 500;
    timings.endWaitMs = 500;
    return timings;
}

inline std::string Bytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

inline std::string Digest(const std::string& bytes) {
    Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return hash.finishHex();
}

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// One window's FilePeer, with what it says recorded.
class Window {
public:
    explicit Window(uint16_t roomPort) : peer("127.0.0.1", roomPort, hooks()) {}

    bool noteWith(const std::string& part, int timeoutMs = 5000) {
        return WaitFor([&] { return !note(part).empty(); }, timeoutMs);
    }
    std::string note(const std::string& part) {
        std::lock_guard<std::mutex> guard(mutex);
        for (const std::string& line : notes)
            if (line.find(part) != std::string::npos)
                return line;
        return {};
    }
    // Offers the file and returns the chat line the offer goes out as.
    std::string offer(const fs::path& path) {
        size_t before;
        {
            std::lock_guard<std::mutex> guard(mutex);
            before = said.size();
        }
        peer.offerFile(Utf8(path));
        std::string line;
        WaitFor([&] {
            std::lock_guard<std::mutex> guard(mutex);
            line = said.size() > before ? said.back() : "";
            return !line.empty();
        });
        return line;
    }
    // Shows the line as from Ann; returns the offer's id once the menu lists it.
    std::string see(const std::string& line) {
        peer.lineSeen("Ann", line);
        const auto offer = ParseOfferLine(line);
        const bool listed = offer && WaitFor([&] {
                                for (const OfferView& view : peer.offers())
                                    if (view.offerId == offer->id && view.from == "Ann")
                                        return true;
                                return false;
                            });
        return listed ? offer->id : std::string();
    }
    size_t listed() { return peer.offers().size(); }

private:
    FilePeer::Hooks hooks() {
        FilePeer::Hooks hooks;
        hooks.note = [this](const std::string& line) {
            std::lock_guard<std::mutex> guard(mutex);
            notes.push_back(line);
        };
        hooks.sendChatLine = [this](const std::string& line) {
            std::lock_guard<std::mutex> guard(mutex);
            said.push_back(line);
        };
        hooks.changed = [] {
        };
        return hooks;
    }

    std::mutex mutex;
    std::vector<std::string> notes;
    std::vector<std::string> said;

public:
    FilePeer peer; // last: its threads use the records above
};

class Relay : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(relay.start(roomPort)) << relay.lastError;
        folder = fs::temp_directory_path() /
                 ("parlox-files-" + std::to_string(serviceTcpPort) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        relay.stop();
        fs::remove_all(folder);
    }
    // name is UTF-8 (a narrow path would be read in the system's code page on Windows).
    fs::path write(const std::string& name, const std::string& bytes) {
        const fs::path path = folder / fs::path(std::u8string(name.begin(), name.end()));
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::vector<std::string> leftIn(const fs::path& where) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(where))
            names.push_back(Utf8(entry.path().filename()));
        return names;
    }
    // A raw offerer's session: registers one offer of size bytes with the digest given.
    RawPeer rawOffer(uint64_t size, const std::string& digest, std::string& id) {
        RawPeer session = RawPeer::connectTo(serviceTcpPort);
        EXPECT_TRUE(session.readUntil("PARLOX-FILES 1\n"));
        session.send("SESSION\nOFFER 7 " + std::to_string(size) + " " + digest + "\n");
        EXPECT_TRUE(session.readUntil("OFFERED 7 ") && session.readUntil("\n", 5000));
        const std::string answer = session.take();
        id = answer.substr(answer.find("OFFERED 7 ") + 10, 32);
        return session;
    }
    std::string ticketFor(RawPeer& session, const std::string& id) {
        EXPECT_TRUE(session.readUntil("SEND " + id + " ") && session.readUntil("\n"));
        const std::string line = session.take();
        return line.substr(line.find("SEND ") + 38, 32);
    }

    const ReservedPort room; // the room's TCP port, and above it the file service's
    const uint16_t roomPort = room.programPort();
    const uint16_t serviceTcpPort = static_cast<uint16_t>(room.tcpPort + 1);
    FileRelay relay{RelayWaits()};
    fs::path folder;
};
