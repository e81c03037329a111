// The Commands fixture: the window's commands run without a window, against raw loopback peers.
#pragma once

#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "commands/commands.h"
#include "tests/support/chat_state.h"
#include "tests/support/loopback.h"
#include "tests/support/wait.h"
#include "wire/protocol.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

using Names = std::vector<std::string>;

class Commands : public ::testing::Test {
protected:
    void SetUp() override { ResetChatState(); }
    void TearDown() override {
        CloseCommand();
        ResetChatState();
    }
    static FieldTexts fields(const std::string& name, const std::string& address, uint16_t port) {
        return {name, address, std::to_string(port)};
    }
    // Hosts as Ann on the test's port and returns a raw client that logged in as guest and has
    // read its reply.
    RawPeer hostWithGuest(const std::string& guest) {
        HostCommand(fields("Ann", "", ProgramPort(tcpPort)));
        RawPeer peer = RawPeer::connectTo(tcpPort);
        peer.send("login\n" + guest + "\n");
        EXPECT_TRUE(peer.readUntil("login\n0\n" + guest + "\n"));
        peer.take();
        return peer;
    }
    static bool hasClient() {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        return ActiveClient != nullptr;
    }

    const ReservedPort port;
    const uint16_t tcpPort = port.tcpPort;
};
