// RoomList: a map of rooms under one lock, with a notice after each change.
#include "discovery/room_list.h"

#include <utility>

void RoomList::put(const std::string& key, FoundRoom room) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        const auto found = rooms.find(key);
        if (found != rooms.end()) {
            found->second = std::move(room);
        } else if (rooms.size() < ROOM_LIMIT) {
            rooms.emplace(key, std::move(room));
        } else {
            return;
        }
    }
    notify();
}

void RoomList::remove(const std::string& key) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (rooms.erase(key) == 0)
            return;
    }
    notify();
}

void RoomList::setAvailable() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (unavailable.empty())
            return;
        unavailable.clear();
    }
    notify();
}

void RoomList::setUnavailable(std::string why) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        unavailable = std::move(why);
        rooms.clear();
    }
    notify();
}

RoomList::Snapshot RoomList::snapshot() const {
    std::lock_guard<std::mutex> guard(mutex);
    Snapshot snapshot{unavailable, {}};
    snapshot.rooms.reserve(rooms.size());
    for (const auto& entry : rooms)
        snapshot.rooms.push_back(entry.second);
    return snapshot;
}

void RoomList::setObserver(std::function<void()> newObserver) {
    std::lock_guard<std::mutex> guard(mutex);
    observer = std::move(newObserver);
}

void RoomList::notify() const {
    std::function<void()> call;
    {
        std::lock_guard<std::mutex> guard(mutex);
        call = observer;
    }
    if (call)
        call();
}
