// The room the README's pictures show: the host's banner, three people and a few lines.
#pragma once

#include "chat/window_ops.h"
#include "wire/protocol.h"

#include <string>

// Into ChatView, as a host named Ann would see it; with emoji where the picture's system has a
// font for them (the Windows pictures are taken under Wine, which has none).
inline void ShowSampleRoom(bool emoji = true) {
    const char* pizza = emoji ? " \xF0\x9F\x8D\x95" : "";
    const char* heart = emoji ? " \xE2\x9D\xA4\xEF\xB8\x8F" : "";
    AppendLog("----- Hosting on port: %d -----", 5000);
    AppendLog("IP List:");
    AppendLog("     1) %s", "office-pc");
    AppendLog("     2) %s", "192.168.1.20");
    AppendLog("----------------------------------------");
    SetUserName(HOST_ID, "Ann");
    SetUserName(0, "Bob");
    SetUserName(1, "Chlo\xc3\xa9");
    AppendChatLine("Bob", std::string("Morning! Lunch at 12?") + pizza);
    AppendChatLine("Ann", "Sure, the usual place.");
    AppendChatLine("Chlo\xc3\xa9",
                   std::string("Count me in \xe2\x80\x93 sch\xc3\xb6ne Gr\xc3\xbc\xc3\x9f"
                               "e from upstairs") +
                       heart);
}
