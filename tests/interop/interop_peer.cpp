// One side of a two-program chat on loopback, built for Linux and for Windows alike, so that
// scripts/interop-windows.sh can pair the two builds: as "host" it opens a room, as "client" it
// joins one, each through the window's own commands, and both follow the same script: login,
// roster, a line each way (with non-ASCII letters), the client's departure. Before it leaves it
// prints its log and user list, and it exits 0 when every step was seen within its time.
// With a folder after the number it passes files instead, both ways through the host: each side
// offers FOLDER/from-<role>.bin, saves the other's offer as FOLDER/<role>-got.bin, says so in a
// line and waits for the other to say the same.
// Usage: interop_peer host|client NAME NUMBER [FOLDER]
#include "chat/window_ops.h"
#include "commands/commands.h"
#include "commands/room_files.h"
#include "model/ui_tasks.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string HOST_LINE = "hello from the host \xc3\xbc 100% %s";
const std::string CLIENT_LINE = "hello from the client \xe2\x82\xac %n";

// Runs the tasks the network threads hand over, as the window would, until condition holds.
template <class Condition> bool Await(const char* step, Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        RunUiTasks();
        if (std::chrono::steady_clock::now() > deadline) {
            std::printf("TIMEOUT waiting for: %s\n", step);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool LogHas(const std::string& text) {
    return ChatView.logText().find(text) != std::string::npos;
}

size_t UserCount() {
    return ChatView.users().size();
}

bool RunHost(const FieldTexts& fields) {
    HostCommand(fields);
    if (UserCount() != 1)
        return false;
    std::printf("READY\n");
    std::fflush(stdout);
    if (!Await("the client's login", [] { return UserCount() == 2; }))
        return false;
    EnterCommand(HOST_LINE);
    return Await("the client's line", [] { return LogHas(">: " + CLIENT_LINE + "\n"); }) &&
           Await("the client's departure", [] { return UserCount() == 1; });
}

// The id of the first offer listed from someone else, once there is one.
std::string OtherOffer() {
    for (const OfferView& offer : RoomFileOffers())
        if (offer.state == OfferView::State::Available)
            return offer.offerId;
    return {};
}

// Both sides, once the other is in the room: offer, save, say so, hear the other say so.
bool PassFiles(const std::string& role, const std::string& other, const std::string& folder) {
    OfferRoomFile(folder + "from-" + role + ".bin");
    if (!Await("the other side's offer", [] { return !OtherOffer().empty(); }))
        return false;
    SaveRoomFile(OtherOffer(), folder + role + "-got.bin");
    if (!Await("the saved file", [] { return LogHas("<<Saved from-"); }))
        return false;
    EnterCommand(role + " saved");
    return Await("the other side's saved file", [&] { return LogHas(">: " + other + " saved\n"); });
}

bool RunFilesHost(const FieldTexts& fields, const std::string& folder) {
    HostCommand(fields);
    std::printf("READY\n");
    std::fflush(stdout);
    return Await("the client's login", [] { return UserCount() == 2; }) &&
           PassFiles("host", "client", folder) &&
           Await("the client's departure", [] { return UserCount() == 1; });
}

bool RunFilesClient(const FieldTexts& fields, const std::string& folder) {
    ConnectCommand(fields);
    return Await("the room", [] { return UserCount() == 2; }) &&
           PassFiles("client", "host", folder);
}

bool RunClient(const FieldTexts& fields) {
    ConnectCommand(fields);
    if (!Await("the host's line", [] { return LogHas(">: " + HOST_LINE + "\n"); }))
        return false;
    EnterCommand(CLIENT_LINE);
    return Await("the relayed own line", [] { return LogHas(">: " + CLIENT_LINE + "\n"); });
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: interop_peer host|client NAME NUMBER [FOLDER]\n");
        return 2;
    }
    const std::string role = argv[1];
    const FieldTexts fields{argv[2], "127.0.0.1", argv[3]};
    bool done;
    if (argc == 5)
        done = role == "host" ? RunFilesHost(fields, argv[4]) : RunFilesClient(fields, argv[4]);
    else
        done = role == "host" ? RunHost(fields) : RunClient(fields);
    // Shown before leaving: what the client sees after its own logoff races with the host's word
    // of that departure.
    std::printf("LOG\n%sUSERS\n", ChatView.logText().c_str());
    for (const std::string& user : ChatView.users())
        std::printf("%s\n", user.c_str());
    std::fflush(stdout);
    CloseCommand();
    RunUiTasks();
    return done ? 0 : 1;
}
