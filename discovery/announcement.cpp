// The TXT strings every backend announces a room with.
#include "discovery/discovery.h"

std::vector<std::string> AnnouncementTxt(const Announcement& announcement) {
    return {"port=" + std::to_string(announcement.typedPort),
            "users=" + std::to_string(announcement.people), "v=1"};
}
