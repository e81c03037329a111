// The host role's commands: Host with its banner, the host send path and the host teardown.
#include "commands/host_commands.h"

#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "chat/server_relay.h"
#include "chat/window_ops.h"
#include "commands/connection_fields.h"
#include "commands/room_discovery.h"
#include "commands/room_files.h"
#include "net/tcp_socket.h"
#include "wire/protocol.h"

#include <memory>
#include <mutex>
#include <sstream>

namespace {

// The banner: port, host name and the machine's addresses, numbered, for others to connect to.
void AppendBanner() {
    AppendLog("----- Hosting on port: %d -----", PortNumber);
    AppendLog("IP List:");
    AppendLog("     1) %s", LookupSocket.localHostName().c_str());
    std::istringstream addresses(LookupSocket.localAddressList());
    std::string address;
    for (int number = 2; addresses >> address; ++number)
        AppendLog("     %d) %s", number, address.c_str());
    AppendLog("----------------------------------------");
}

} // namespace

void HostTeardown() {
    WithdrawRoom();
    EndHostedFiles();
    EndActiveServer();
}

bool HostCommand(const FieldTexts& fields) {
    HostTeardown();
    std::string instanceName;
    uint16_t typedPort = 0;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        ResetChatView(true);
        ReadConnectionFields(fields);
        ActiveServer = std::make_unique<ChatServer>(OnServerData, OnServerLost);
        if (!ActiveServer->start(MAX_CLIENTS, PortNumber)) {
            AppendLog("<<Error: %s>>", ActiveServer->lastError().c_str());
            return false;
        }
        AppendBanner();
        SetUserName(HOST_ID, LocalName);
        instanceName = RoomInstanceName(LocalName, LookupSocket.localHostName());
        typedPort = PortNumber;
    }
    // The room works whether or not it can be announced or pass files; neither waits.
    AnnounceRoom(instanceName, typedPort);
    StartHostedFiles(typedPort);
    return true;
}

void HostSend(const std::string& typed) {
    ChatLock.assertHeld("HostSend");
    // The host shows exactly what its clients get: a long line is cut once, here.
    const std::string text(CutToCharBoundary(typed, MAX_LINE_TEXT));
    AppendChatLine(LocalName, text);
    // An empty line shows in the host's own log only: as an empty field it would reach no client
    // and could swallow the next message.
    if (text.empty())
        return;
    FormatInto(SendBuffer, HOST_MSG_FORMAT, text.c_str());
    ActiveServer->broadcast(SendBuffer);
}
