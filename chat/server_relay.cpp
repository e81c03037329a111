// The host's relay: answers logins with the greeting and the roster, shows and relays chat lines,
// and announces departures.
#include "chat/server_relay.h"

#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "chat/send_batch.h"
#include "chat/unique_name.h"
#include "chat/window_ops.h"
#include "wire/block_parser.h"
#include "wire/protocol.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

// The slot's client has left.
void Depart(ChatServer& server, int32_t slot, SendBatch& batch) {
    ChatLock.assertHeld("Depart");
    RemoveUserName(slot);
    UserTable[slot].clear();
    FormatInto(SendBuffer, DEPARTURE_FORMAT, slot);
    server.broadcast(SendBuffer, batch);
}

// The slot's client has logged in asking for the name wanted. It takes that name,
// numbered when someone else in the room (the host included) already goes by it, in place of any
// name it had. The newcomer hears the greeting first, then every named participant in id order
// (itself included); every other named participant hears of the newcomer in the same pass.
void Arrive(ChatServer& server, int32_t slot, std::string_view wanted, SendBatch& batch) {
    ChatLock.assertHeld("Arrive");
    std::vector<std::string_view> others = {LocalName};
    for (int32_t id = 0; id < MAX_CLIENTS; ++id)
        if (id != slot && !UserTable[id].empty())
            others.push_back(UserTable[id]);
    UserTable[slot] = UniqueName(wanted, others);
    SetUserName(slot, UserTable[slot]);
    // An empty host name would leave the greeting without its name token, and the client would
    // take the next roster entry's keyword as the name: send no greeting then.
    if (!LocalName.empty()) {
        FormatInto(SendBuffer, HOST_GREETING_FORMAT, LocalName.c_str());
        server.sendTo(slot, SendBuffer, batch);
    }
    for (int32_t id = 0; id < MAX_CLIENTS; ++id) {
        if (UserTable[id].empty())
            continue;
        FormatInto(SendBuffer, ROSTER_ENTRY_FORMAT, id, UserTable[id].c_str());
        server.sendTo(slot, SendBuffer, batch);
        if (id != slot) {
            FormatInto(SendBuffer, ROSTER_ENTRY_FORMAT, slot, UserTable[slot].c_str());
            server.sendTo(id, SendBuffer, batch);
        }
    }
}

} // namespace

void OnServerData(int32_t slot, char* bytes, int32_t count) {
    // Every message of the block is queued under ChatLock, in order; the block's sends go out
    // together after it, so that a block of many messages costs each connection one send. Only
    // the thread that owns the server destroys it, after stopping it, which waits for this
    // reader: the server outlives the call.
    SendBatch batch(slot);
    ChatServer* server;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        server = ActiveServer.get();
        if (!server || !IsClientId(slot))
            return;
        BlockParser parser(bytes, static_cast<size_t>(count), Receiver::Host);
        Message message;
        while (parser.next(message)) {
            switch (message.kind) {
            case MessageKind::Logoff:
                Depart(*server, slot, batch);
                break;
            case MessageKind::Login:
                Arrive(*server, slot, message.field, batch);
                break;
            case MessageKind::Msg: {
                // A line too long for the relay is cut once, here, so that the host's log and
                // every client's log show the same text. %s needs a terminated copy; one buffer
                // per reader thread, reused for every line.
                thread_local std::string text;
                text.assign(CutToCharBoundary(message.field, MAX_LINE_TEXT));
                AppendChatLine(UserTable[slot], text);
                FormatInto(SendBuffer, RELAY_FORMAT, slot, text.c_str());
                server->broadcast(SendBuffer, batch);
                break;
            }
            }
        }
    }
    server->send(batch);
}

void OnServerLost(int32_t slot) {
    SendBatch batch(slot);
    ChatServer* server;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        server = ActiveServer.get();
        if (!server || !IsClientId(slot) || UserTable[slot].empty())
            return;
        Depart(*server, slot, batch);
    }
    server->send(batch);
}
