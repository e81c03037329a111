// FilesMenuFeed: the room files' observer for the Files menu.
#include "commands/files_menu_feed.h"

#include "commands/room_files.h"

#include <algorithm>
#include <utility>

FilesMenuFeed::FilesMenuFeed(std::shared_ptr<WindowCall> refreshCall)
    : call(std::move(refreshCall)) {
    SetRoomFilesObserver([kept = call] { kept->request(); });
}

FilesMenuFeed::~FilesMenuFeed() {
    SetRoomFilesObserver({});
    call->detach();
}

bool FilesMenuFeed::refresh() {
    call->taken();
    std::vector<FileMenuItem> items = FileMenuItems(RoomFileOffers());
    const bool room = InRoomWithFiles();
    const bool same =
        refreshed && room == inRoom &&
        std::equal(items.begin(), items.end(), shown.begin(), shown.end(),
                   [](const FileMenuItem& a, const FileMenuItem& b) {
                       return a.text == b.text && a.action == b.action && a.offerId == b.offerId;
                   });
    if (same)
        return false;
    shown = std::move(items);
    inRoom = room;
    refreshed = true;
    return true;
}
