// Fuzz target: OnServerData, the host's handling of whatever its clients send, with a started
// ChatServer on loopback and the view model in place of the window.
//
// Three raw clients sit in slots 0..2. The input is a series of (slot, block) pairs handed to
// OnServerData as the slot readers would; afterwards each client's stream is read up to an end
// mark and must be well formed: every token in keyword position is a keyword, every message has
// all its fields, every id is -1..31. A malformed stream would make the room's clients misread
// every message after it. The host's view must stay sound (ViewIsSound), and no two people in
// the room may go by names that look alike.
#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "chat/server_relay.h"
#include "chat/window_ops.h"
#include "tests/fuzz/view_oracle.h"
#include "tests/support/loopback.h"
#include "tests/support/wait.h"
#include "wire/protocol.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int CLIENTS = 3;
// Sent to each client after the input; the greeting's -1 id never precedes this name otherwise.
const std::string END_MARK = "login\n-1\n#end-of-input#\n";

void Check(bool condition) {
    if (!condition)
        std::abort();
}

struct FuzzedRoom {
    ReservedPort port;
    uint16_t tcpPort = port.tcpPort;
    std::vector<RawPeer> clients;

    FuzzedRoom() {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        LocalName = "Host";
        ActiveServer = std::make_unique<ChatServer>(OnServerData, OnServerLost);
        Check(ActiveServer->start(MAX_CLIENTS, ProgramPort(tcpPort)));
    }

    // (Re)connects the clients; a client the host dropped for an overfull queue comes back.
    void connectAll() {
        clients.clear();
        Check(WaitFor([&] { return ActiveServer->occupiedSlots() == 0; }));
        for (int i = 0; i < CLIENTS; ++i) {
            clients.push_back(RawPeer::connectTo(tcpPort));
            Check(clients.back().valid());
            Check(WaitFor([&] { return ActiveServer->occupiedSlots() == uint32_t(i + 1); }));
        }
    }
};

FuzzedRoom& TheRoom() {
    static FuzzedRoom* room = [] {
        auto* made = new FuzzedRoom;
        made->connectAll();
        return made;
    }();
    return *room;
}

bool IsKeyword(std::string_view token) {
    return token == "login" || token == "msg" || token == "logoff";
}

// Walks the tokens of a host-to-client stream the way a strict reader would.
void CheckWellFormed(const std::string& stream) {
    Check(stream.find('\0') == std::string::npos);
    Check(!stream.empty() && stream.back() == '\n');
    std::vector<std::string_view> tokens;
    for (size_t start = 0; start < stream.size();) {
        const size_t end = stream.find('\n', start);
        Check(end != start); // an empty token would shift every later field
        tokens.emplace_back(stream.data() + start, end - start);
        start = end + 1;
    }
    for (size_t i = 0; i < tokens.size();) {
        Check(IsKeyword(tokens[i]));
        const size_t fields = tokens[i] == "logoff" ? 1 : 2;
        Check(i + fields < tokens.size());
        const int64_t id = ReadId(tokens[i + 1]);
        Check(std::to_string(id) == tokens[i + 1] && (id == HOST_ID || IsClientId(id)));
        i += fields + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedRoom& room = TheRoom();
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        ResetChatView(true);
        SetUserName(HOST_ID, LocalName); // as the Host command lists the host
    }
    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        // Mostly the occupied slots; sometimes a free one or one out of range.
        const int32_t slot = input.ConsumeBool() ? input.ConsumeIntegralInRange(0, CLIENTS - 1)
                                                 : input.ConsumeIntegralInRange(-2, 33);
        std::string block = input.ConsumeRandomLengthString(1023);
        OnServerData(slot, block.data(), static_cast<int32_t>(block.size()));
    }
    Check(ViewIsSound());
    {
        // Names as the list shows them, ASCII letters folded: all different.
        std::vector<std::string> looks = ChatView.users();
        for (std::string& look : looks)
            for (char& c : look)
                c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        std::sort(looks.begin(), looks.end());
        Check(std::adjacent_find(looks.begin(), looks.end()) == looks.end());
    }
    bool dropped = false;
    for (int i = 0; i < CLIENTS; ++i) {
        RawPeer& client = room.clients[size_t(i)];
        if (ActiveServer->sendTo(i, END_MARK.c_str()) < 0 || !client.readUntil(END_MARK)) {
            dropped = true; // the queue passed its bound: the host let the client go
            continue;
        }
        const std::string stream = client.take();
        Check(stream.size() >= END_MARK.size() &&
              stream.compare(stream.size() - END_MARK.size(), END_MARK.size(), END_MARK) == 0);
        CheckWellFormed(stream);
    }
    if (dropped)
        room.connectAll();
    return 0;
}
