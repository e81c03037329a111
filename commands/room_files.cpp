// The window's file service and FilePeer, tied to its commands and to the chat's lines.
#include "commands/room_files.h"

#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "commands/commands.h"
#include "files/file_names.h"
#include "files/file_relay.h"
#include "files/service_protocol.h"
#include "model/ui_tasks.h"
#include "text/shown_text.h"

#include <memory>
#include <mutex>

namespace {

enum class Role { Host, Client };

// Used on the user-interface thread only.
std::unique_ptr<FileRelay> HostedRelay;

// The window's FilePeer: made and destroyed on the user-interface thread, read under ChatLock by
// the chat watcher on network threads. Each new one gets a new generation, so that work queued
// for an earlier room finds it gone.
std::unique_ptr<FilePeer> RoomPeer;
Role RoomRole = Role::Host;
uint64_t RoomGeneration = 0;

// Guards Observer. A leaf lock: the observer only queues a call.
std::mutex ObserverLock;
std::function<void()> Observer;

void Notify() {
    std::function<void()> observer;
    {
        std::lock_guard<std::mutex> guard(ObserverLock);
        observer = Observer;
    }
    if (observer)
        observer();
}

void Note(const std::string& text) {
    AppendLogLine("<<" + ShownText(text) + ">>");
}

// The chat watcher: under ChatLock, on the thread that shows the line.
void LineShown(std::string_view name, std::string_view text) {
    if (RoomPeer)
        RoomPeer->lineSeen(name, text);
}

void EndPeer() {
    std::unique_ptr<FilePeer> ended;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        ended = std::move(RoomPeer);
        ++RoomGeneration;
    }
    // Outside ChatLock: the peer's threads may be showing lines meanwhile.
    ended.reset();
    Notify();
}

// The view was reset: a new room begins (its peer comes next) or the client's host has gone.
void ViewReset() {
    if (!RoomPeer || RoomRole != Role::Client)
        return;
    PostUiTask([generation = RoomGeneration] {
        if (generation == RoomGeneration && !ActiveClient)
            EndPeer();
    });
}

void MakePeer(Role role, const std::string& address, uint16_t typedPort);

void StartPeer(Role role, const std::string& address, uint16_t typedPort) {
    EndPeer();
    SetChatWatcher({LineShown, ViewReset});
    MakePeer(role, address, typedPort);
    Notify();
}

void MakePeer(Role role, const std::string& address, uint16_t typedPort) {
    std::lock_guard<CheckedMutex> guard(ChatLock);
    const uint64_t generation = ++RoomGeneration;
    FilePeer::Hooks hooks;
    hooks.note = Note;
    hooks.changed = Notify;
    // The offer's line goes out as if typed, on the user-interface thread, into the same room.
    hooks.sendChatLine = [generation](const std::string& text) {
        PostUiTask([generation, text] {
            if (generation == RoomGeneration && RoomPeer)
                EnterCommand(text);
        });
    };
    RoomPeer = std::make_unique<FilePeer>(address, typedPort, std::move(hooks));
    RoomRole = role;
}

void EndPeerOf(Role role) {
    if (RoomPeer && RoomRole == role)
        EndPeer();
}

} // namespace

void StartHostedFiles(uint16_t typedPort) {
    EndHostedFiles();
    HostedRelay = std::make_unique<FileRelay>();
    if (!HostedRelay->start(typedPort)) {
        const std::string& error = HostedRelay->lastError;
        Note("Files cannot pass through this room: TCP port " +
             std::to_string(FileServiceTcpPort(typedPort)) + " cannot be used (" +
             error.substr(error.find('\n') + 1) + ")");
        HostedRelay.reset();
        return;
    }
    StartPeer(Role::Host, "127.0.0.1", typedPort);
}

void EndHostedFiles() {
    EndPeerOf(Role::Host);
    HostedRelay.reset();
}

void StartJoinedFiles(const std::string& address, uint16_t typedPort) {
    StartPeer(Role::Client, address, typedPort);
}

void EndJoinedFiles() {
    EndPeerOf(Role::Client);
}

void SetRoomFilesObserver(std::function<void()> observer) {
    std::lock_guard<std::mutex> guard(ObserverLock);
    Observer = std::move(observer);
}

bool InRoomWithFiles() {
    return RoomPeer != nullptr;
}

std::vector<OfferView> RoomFileOffers() {
    return RoomPeer ? RoomPeer->offers() : std::vector<OfferView>();
}

void OfferRoomFile(const std::string& path) {
    if (RoomPeer)
        RoomPeer->offerFile(path);
    else
        Note("Could not offer " + ShownFileName(FileNameOf(path)) +
             ": host a room or connect to one first");
}

void SaveRoomFile(const std::string& offerId, const std::string& target) {
    if (RoomPeer && !RoomPeer->save(offerId, target))
        Note("Could not save " + ShownFileName(FileNameOf(target)) +
             ": the offer has ended, or it is being saved already");
}

void CancelRoomFile(const std::string& offerId) {
    if (RoomPeer)
        RoomPeer->cancel(offerId);
}

void WithdrawRoomFile(const std::string& offerId) {
    if (RoomPeer)
        RoomPeer->withdraw(offerId);
}
