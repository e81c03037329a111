// Test fixtures: the window's host with raw clients, and the window's client with a fake host.
#pragma once

#include "chat/chat_client.h"
#include "chat/chat_server.h"
#include "chat/client_messages.h"
#include "chat/program_state.h"
#include "chat/server_relay.h"
#include "chat/window_ops.h"
#include "model/ui_tasks.h"
#include "tests/support/chat_state.h"
#include "tests/support/loopback.h"
#include "tests/support/wait.h"
#include "wire/protocol.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

// Whether a thread of this process is blocked in accept, read from /proc/self/task/*/syscall,
// whose first field is the number of the call a blocked thread waits in. Some architectures
// (arm64) have only accept4.
inline bool SomeThreadAccepts() {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream call(task.path() / "syscall");
        long number = -1;
        if (!(call >> number))
            continue;
#ifdef SYS_accept
        if (number == SYS_accept)
            return true;
#endif
        if (number == SYS_accept4)
            return true;
    }
    return false;
}

// The three lines a client shows when its host has gone.
inline const std::string DEPARTURE_LINES = "----------------------------------------\n"
                                           "Server disconnected\n"
                                           "----------------------------------------\n";

// ActiveServer started as the Host command starts it, by a host named Ann on a free port.
class HostedRoom : public ::testing::Test {
protected:
    void SetUp() override {
        ResetChatState();
        std::lock_guard<CheckedMutex> guard(ChatLock);
        LocalName = "Ann";
        ActiveServer = std::make_unique<ChatServer>(OnServerData, OnServerLost);
        ASSERT_TRUE(ActiveServer->start(MAX_CLIENTS, port.programPort()));
        SetUserName(HOST_ID, LocalName);
    }
    void TearDown() override { ResetChatState(); }

    ChatServer& server() { return *ActiveServer; }

    // A raw client in the next slot (waits until the server has taken it).
    RawPeer join() {
        const uint32_t before = server().occupiedSlots();
        RawPeer peer = RawPeer::connectTo(tcpPort);
        EXPECT_TRUE(WaitFor([&] { return server().occupiedSlots() == before + 1; }));
        return peer;
    }
    // A raw client that logs in and has had its reply up to lastRosterEntry (kept in `received`).
    RawPeer joinAs(const std::string& name, const std::string& lastRosterEntry) {
        RawPeer peer = join();
        peer.send("login\n" + name + "\n");
        EXPECT_TRUE(peer.readUntil(lastRosterEntry));
        return peer;
    }

    ReservedPort port;
    const uint16_t tcpPort = port.tcpPort;
};

// ActiveClient connected to a fake host that the test speaks for.
class ClientRoom : public ::testing::Test {
protected:
    void SetUp() override { ResetChatState(); }
    void TearDown() override { ResetChatState(); }

    // Makes the window's client, connected to the fake host, and returns the host's end.
    RawPeer connectClient() {
        {
            std::lock_guard<CheckedMutex> guard(ChatLock);
            ActiveClient = std::make_unique<ChatClient>(OnClientData, OnClientLost);
            EXPECT_TRUE(ActiveClient->connect("127.0.0.1", host.programPort()));
        }
        return host.accept();
    }
    // True once the client has been taken out of ActiveClient (and destroyed, as the window would).
    bool clientGone() {
        RunUiTasks();
        std::lock_guard<CheckedMutex> guard(ChatLock);
        return ActiveClient == nullptr;
    }

    RawListener host;
};
