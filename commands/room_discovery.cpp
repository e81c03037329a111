// The program's discovery backend and the announcement of the hosted room.
#include "commands/room_discovery.h"

#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "commands/people_count_watch.h"
#include "discovery/discovery.h"
#include "wire/formatting.h"

#include <memory>
#include <mutex>

RoomList FoundRooms;

namespace {

// Both used on the user-interface thread only.
std::unique_ptr<Discovery> RoomDiscovery;
std::unique_ptr<PeopleCountWatch> PeopleWatch;

// DNS labels hold at most 63 bytes.
constexpr size_t INSTANCE_NAME_LIMIT = 63;

// The host and every connection it holds.
int PeopleInRoom() {
    std::lock_guard<CheckedMutex> guard(ChatLock);
    return ActiveServer ? 1 + static_cast<int>(ActiveServer->occupiedSlots()) : 1;
}

} // namespace

void StartRoomDiscovery() {
    if (!RoomDiscovery)
        RoomDiscovery = CreateDiscovery(FoundRooms);
}

void StopRoomDiscovery() {
    WithdrawRoom();
    RoomDiscovery.reset();
}

std::string RoomInstanceName(std::string_view name, std::string_view machine) {
    std::string chosen(name.empty() || name == "<name>" ? "Parlox room on " + std::string(machine)
                                                        : std::string(name));
    return std::string(CutToCharBoundary(chosen, INSTANCE_NAME_LIMIT));
}

void AnnounceRoom(std::string_view name, uint16_t typedPort) {
    if (!RoomDiscovery)
        return;
    PeopleWatch.reset();
    const int people = PeopleInRoom();
    RoomDiscovery->announce({std::string(name), SwappedPort(typedPort), typedPort, people});
    Discovery* discovery = RoomDiscovery.get();
    PeopleWatch = std::make_unique<PeopleCountWatch>(
        people, PeopleInRoom, [discovery](int now) { discovery->setPeople(now); });
}

void WithdrawRoom() {
    // The watch first: it may be telling the backend a count.
    PeopleWatch.reset();
    if (RoomDiscovery)
        RoomDiscovery->withdraw();
}
