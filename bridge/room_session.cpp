// The bridge as a room's client: its login, its lines, and how it tells its own lines and the
// room's answer to its login from everything else.
#include "bridge/room_session.h"

#include "wire/formatting.h"

#include <algorithm>

std::string RoomSession::start(Clock::time_point now) {
    hostName.clear();
    for (std::string& name : names)
        name.clear();
    own = UNKNOWN;
    echoes.clear();
    replyStarted = false;
    replyUntil = now;
    replyLastId = HOST_ID;
    ownCandidates.clear();
    char login[SEND_BUFFER_SIZE];
    const int length = FormatInto(login, CLIENT_LOGIN_FORMAT, loginName.c_str());
    return std::string(login, static_cast<size_t>(length));
}

std::string RoomSession::say(std::string_view text) {
    const std::string line(CutToCharBoundary(text, MAX_LINE_TEXT));
    if (line.empty())
        return {};
    echoes.push_back(line);
    if (echoes.size() > ECHO_LIMIT)
        echoes.pop_front();
    char message[SEND_BUFFER_SIZE];
    const int length = FormatInto(message, CLIENT_MSG_FORMAT, line.c_str());
    return std::string(message, static_cast<size_t>(length));
}

void RoomSession::receive(const Message& message, Clock::time_point now,
                          std::vector<RoomEvent>& events) {
    switch (message.kind) {
    case MessageKind::Login:
        login(message.id, message.field, now, events);
        break;
    case MessageKind::Logoff:
        if (message.id == HOST_ID) {
            events.push_back({RoomEvent::Kind::Ended, hostName, {}});
        } else if (IsClientId(message.id) && !names[message.id].empty()) {
            if (message.id != own)
                events.push_back({RoomEvent::Kind::Exit, names[message.id], {}});
            names[message.id].clear();
        }
        break;
    case MessageKind::Msg: {
        if (message.id != HOST_ID && !IsClientId(message.id))
            break;
        if (isOwnEcho(message.id, message.field))
            break;
        const std::string& name = message.id == HOST_ID ? hostName : names[message.id];
        events.push_back({RoomEvent::Kind::Line, name, std::string(message.field)});
        break;
    }
    }
}

void RoomSession::login(int64_t id, std::string_view name, Clock::time_point now,
                        std::vector<RoomEvent>& events) {
    if (id != HOST_ID && !IsClientId(id))
        return;
    // The answer to the login names every participant once, in rising id order, the bridge
    // among them; what comes after it, or later, is somebody coming in.
    if (!replyStarted) {
        replyStarted = true;
        replyUntil = now + REPLY_WINDOW;
    }
    const bool inReply = now < replyUntil && id > replyLastId;
    if (id == HOST_ID) {
        // The greeting opens the answer; a later one (the host logged in again) changes nothing
        // else.
        hostName = name;
        return;
    }
    if (inReply) {
        replyLastId = id;
        if (mayBeOwnName(name))
            ownCandidates.push_back(id);
        own = ownCandidates.size() == 1 ? ownCandidates.front() : UNKNOWN;
    } else {
        replyUntil = Clock::time_point{};
        if (names[id].empty() && id != own)
            events.push_back({RoomEvent::Kind::Entry, std::string(name), {}});
    }
    names[id] = name;
}

// The host numbers a name already taken ("bridge (2)"), so the bridge's entry in the answer to
// its login carries the name it asked for, numbered or not.
bool RoomSession::mayBeOwnName(std::string_view name) const {
    if (name == loginName)
        return true;
    const std::string head = loginName + " (";
    if (name.size() <= head.size() + 1 || name.substr(0, head.size()) != head || name.back() != ')')
        return false;
    const std::string_view digits = name.substr(head.size(), name.size() - head.size() - 1);
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The host relays every line to its sender too. The bridge's own come back under its id, in the
// order said; while the id is not known for sure (two participants whose names may be the
// bridge's), the first line that comes back as said tells it.
bool RoomSession::isOwnEcho(int64_t id, std::string_view text) {
    const bool matchesNext = !echoes.empty() && echoes.front() == text;
    if (own == UNKNOWN && matchesNext &&
        (ownCandidates.empty() ||
         std::find(ownCandidates.begin(), ownCandidates.end(), id) != ownCandidates.end()))
        own = id;
    if (id != own)
        return false;
    // Lines the host cut or lost leave their texts behind; each relay of the bridge's id takes
    // its text and those said before it.
    const auto said = std::find(echoes.begin(), echoes.end(), text);
    if (said != echoes.end())
        echoes.erase(echoes.begin(), said + 1);
    return true;
}
