// Another Parlox window of a room, inside a test: a chat client that only speaks (logged in under
// a name) and a FilePeer whose offers go out as its chat lines.
#pragma once

#include "chat/chat_client.h"
#include "files/file_peer.h"

#include <string>

struct OtherWindow {
    OtherWindow(const std::string& name, uint16_t typedPort)
        : files("127.0.0.1", typedPort, hooks()) {
        joined = chat.connect("127.0.0.1", typedPort) &&
                 chat.send(("login\n" + name + "\n").c_str()) > 0;
    }
    FilePeer::Hooks hooks() {
        FilePeer::Hooks hooks;
        hooks.sendChatLine = [this](const std::string& text) {
            chat.send(("msg\n" + text + "\n").c_str());
        };
        hooks.note = [](const std::string&) {
        };
        hooks.changed = [] {
        };
        return hooks;
    }

    ChatClient chat;
    FilePeer files; // after chat: its threads send through it
    bool joined = false;
};
