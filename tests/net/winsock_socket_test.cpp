// The Winsock backend: its error rows, the listener's exclusive port, the port rule, the wake-up
// of a blocked receive, the loopback waker, sends that never wait for a peer.
#include "net/socket_poll.h"
#include "net/tcp_socket.h"
#include "net/waker.h"
#include "tests/support/wait.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

uint16_t Swapped(uint16_t number) {
    return static_cast<uint16_t>((number >> 8) | (number << 8));
}

uint16_t BoundTcpPort(SocketHandle handle) {
    sockaddr_in address{};
    int length = sizeof address;
    ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A room listening on a port the system picked: listen on number 0, then read the port back.
// Returns the number to give the program to reach it.
uint16_t ListenAnywhere(TcpSocket& room) {
    EXPECT_TRUE(room.listen(0)) << room.lastError;
    return Swapped(BoundTcpPort(room.handle));
}

struct CodeCase {
    const char* name;
    int code;
    const char* text;
};

class WinsockErrorRow : public ::testing::TestWithParam<CodeCase> {};

} // namespace

TEST_P(WinsockErrorRow, CodeGoesStraightToItsRow) {
    ::WSASetLastError(GetParam().code);
    EXPECT_EQ(TcpSocket::describeLastError(), GetParam().text);
    // Only a code without a row is reset.
    EXPECT_EQ(::WSAGetLastError(), *GetParam().text == '\0' ? 0 : GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WinsockErrorRow,
    ::testing::Values(
        CodeCase{"NoError", 0, ""},
        CodeCase{"Refused", WSAECONNREFUSED, "WSAECONNREFUSED\nConnection refused"},
        CodeCase{"InUse", WSAEADDRINUSE, "WSAEADDRINUSE\nAddress already in use"},
        CodeCase{"NotASocket", WSAENOTSOCK, "WSAENOTSOCK\nSocket operation on nonsocket"},
        CodeCase{"Overlapped", WSA_IO_PENDING,
                 "WSA_IO_PENDING\nOverlapped operations will complete later"},
        CodeCase{"NotStarted", WSANOTINITIALISED,
                 "WSANOTINITIALISED\nSuccessful WSAStartup not yet performed"},
        CodeCase{"NoData", WSANO_DATA, "WSANO_DATA\nValid name, no data record of requested type"},
        CodeCase{"Unlisted", 10066, ""}, CodeCase{"NotWinsock", 2, ""}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(WinsockSocket, FailuresLeaveTheirTexts) {
    TcpSocket none;
    EXPECT_FALSE(none.close());
    EXPECT_EQ(none.lastError, "WSAENOTSOCK\nSocket operation on nonsocket");

    auto room = TcpSocket::createStream();
    const uint16_t number = ListenAnywhere(*room);
    room.reset(); // the port is free again, and nothing listens on it
    auto socket = TcpSocket::createStream();
    socket->address = "earlier";
    EXPECT_FALSE(socket->connect("127.0.0.1", number));
    EXPECT_EQ(socket->lastError, "WSAECONNREFUSED\nConnection refused");
    EXPECT_FALSE(socket->open);
    EXPECT_EQ(socket->address, "earlier");
}

// The number goes into the address unconverted, so the TCP port is the number with its bytes
// swapped; a peer that uses network order meets the room on the swapped number.
TEST(WinsockSocket, ListenNumberIsTcpPortWithBytesSwapped) {
    auto probe = TcpSocket::createStream();
    const uint16_t number = ListenAnywhere(*probe);
    probe.reset();
    auto room = TcpSocket::createStream();
    ASSERT_TRUE(room->listen(number)) << room->lastError;
    EXPECT_EQ(room->port, number);
    EXPECT_EQ(BoundTcpPort(room->handle), Swapped(number));

    SOCKET plain = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(Swapped(number));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(plain, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_TRUE(room->accept()) << room->lastError;
    TcpSocket slot(room->acceptedHandle);
    ::closesocket(plain);
}

// SO_REUSEADDR on Windows would let another program bind the room's port and take its
// connections; the exclusive listener refuses even a socket that asks for reuse.
TEST(WinsockSocket, ListenerKeepsItsPortFromEveryoneElse) {
    auto room = TcpSocket::createStream();
    const uint16_t number = ListenAnywhere(*room);

    // Windows answers a second exclusive listener with WSAEADDRINUSE, Wine with WSAEACCES.
    auto second = TcpSocket::createStream();
    EXPECT_FALSE(second->listen(number));
    EXPECT_TRUE(second->lastError == "WSAEADDRINUSE\nAddress already in use" ||
                second->lastError == "WSAEACCES\nPermission Denied: Access in use")
        << second->lastError;
    EXPECT_FALSE(second->open);

    SOCKET thief = ::socket(AF_INET, SOCK_STREAM, 0);
    const BOOL reuse = TRUE;
    ::setsockopt(thief, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                 sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(Swapped(number));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(::bind(thief, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::closesocket(thief);
}

class WinsockConnected : public ::testing::Test {
protected:
    void SetUp() override {
        const uint16_t number = ListenAnywhere(*room);
        ASSERT_TRUE(client->connect("127.0.0.1", number)) << client->lastError;
        ASSERT_TRUE(room->accept()) << room->lastError;
        peer = std::make_unique<TcpSocket>(room->acceptedHandle);
    }

    std::unique_ptr<TcpSocket> room = TcpSocket::createStream();
    std::unique_ptr<TcpSocket> client = TcpSocket::createStream();
    std::unique_ptr<TcpSocket> peer;
};

// Whether the wake-up meets the receive already blocked or just before it, the receive ends.
TEST_F(WinsockConnected, WakeEndsRecvBlockedInAnotherThread) {
    std::atomic<bool> reading{false};
    std::atomic<int> result{-2};
    std::thread reader([&] {
        char buffer[64];
        reading = true;
        result = client->recv(buffer, sizeof buffer);
    });
    ASSERT_TRUE(WaitFor([&] { return reading.load(); }));
    client->wake();
    const bool woke = WaitFor([&] { return result != -2; });
    if (!woke)
        peer.reset(); // ends the reader anyway so that the test can join it
    reader.join();
    EXPECT_TRUE(woke);
    EXPECT_LE(result, 0);
    EXPECT_NE(client->handle, NO_HANDLE);
}

TEST_F(WinsockConnected, SendsGiveUpOnPeerThatStopsReading) {
    const std::vector<char> big(1 << 20, 'z');
    int32_t sent = 0;
    bool full = false;
    for (int round = 0; round < 4096 && !full; ++round) {
        const int32_t got = client->trySend(big.data(), static_cast<int32_t>(big.size()));
        ASSERT_NE(got, -1);
        full = got == TcpSocket::WOULD_BLOCK;
        if (!full)
            sent += got;
    }
    EXPECT_TRUE(full) << sent;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(client->sendAll(big.data(), static_cast<int32_t>(big.size()), 300), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
}

TEST_F(WinsockConnected, SendAllDeliversEverythingToASlowReader) {
    std::string data(1 << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    std::string received;
    std::thread reader([&] {
        char buffer[8192];
        while (received.size() < data.size()) {
            const int32_t got = peer->recv(buffer, sizeof buffer);
            if (got <= 0)
                break;
            received.append(buffer, static_cast<size_t>(got));
        }
    });
    EXPECT_EQ(client->sendAll(data.data(), static_cast<int32_t>(data.size()), 5000), 1 << 20);
    reader.join();
    EXPECT_TRUE(received == data);
}

TEST(WinsockWaker, WakeFromAnotherThreadEndsPollUntilDrained) {
    Waker waker;
    ASSERT_TRUE(waker.ready()) << waker.lastError;
    PollEntry entries[2] = {{NO_HANDLE, POLL_READABLE, 0}, {waker.pollHandle(), POLL_READABLE, 0}};
    EXPECT_EQ(PollSockets(entries, 2, 0), 0);

    std::thread waking([&] {
        waker.wake();
        waker.wake();
    });
    EXPECT_EQ(PollSockets(entries, 2, 5000), 1);
    EXPECT_EQ(entries[1].ready, POLL_READABLE);
    EXPECT_EQ(entries[0].ready, 0u);
    waking.join();
    waker.drain();
    EXPECT_EQ(PollSockets(entries, 2, 0), 0);
    waker.wake();
    EXPECT_EQ(PollSockets(entries, 2, 5000), 1);
}
