// RoomList: the rooms found on the network and whether finding works at all, changed by the
// discovery backend's thread and observed by the window, which shows it on its own thread.
#pragma once

#include "discovery/found_room.h"

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class RoomList {
public:
    // The most rooms kept: announcements of further rooms are dropped until some go, so that a
    // flood of announcements costs bounded memory and work.
    static constexpr size_t ROOM_LIMIT = 1000;

    // key tells the backend's services apart; a room put again under its key replaces the old.
    void put(const std::string& key, FoundRoom room);
    void remove(const std::string& key);
    // Finding works (again): no reason to show. The rooms stay as they are.
    void setAvailable();
    // Finding does not work now, for the reason given in a user's words; every room goes.
    void setUnavailable(std::string why);

    struct Snapshot {
        std::string unavailable;      // empty while finding works
        std::vector<FoundRoom> rooms; // in no particular order
    };
    Snapshot snapshot() const;

    // Called after every change on the changing thread, outside the list's lock. It must return
    // at once and never wait for the window's thread.
    void setObserver(std::function<void()> observer);

private:
    void notify() const;

    // Guards every field below. Innermost: nothing is called while it is held.
    mutable std::mutex mutex;
    std::map<std::string, FoundRoom> rooms;
    std::string unavailable;
    std::function<void()> observer;
};
