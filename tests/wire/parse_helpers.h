// Test helper: the messages of a block as short strings ("msg 3 hi", "login Bob", "logoff").
#pragma once

#include "wire/block_parser.h"

#include <string>
#include <string_view>
#include <vector>

inline std::vector<std::string> ParseAll(std::string_view block, Receiver receiver) {
    static constexpr const char* KIND_NAMES[] = {"login", "msg", "logoff"};
    std::vector<std::string> found;
    BlockParser parser(block.data(), block.size(), receiver);
    Message message;
    while (parser.next(message)) {
        std::string text = KIND_NAMES[static_cast<int>(message.kind)];
        if (receiver == Receiver::Client)
            text += " " + std::to_string(message.id);
        if (message.kind != MessageKind::Logoff)
            text += " " + std::string(message.field);
        found.push_back(text);
    }
    return found;
}
