// TcpSocket on real loopback connections: the port rule, failures and their texts, wake-up, sends.
#include "net/tcp_socket.h"
#include "tests/support/loopback.h"
#include "tests/support/wait.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace {

int NewSocket() {
    return ::socket(AF_INET, SOCK_STREAM, 0);
}

uint16_t BoundTcpPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

bool IsDescriptor(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

const char NOT_A_SOCKET[] = "WSAENOTSOCK\nSocket operation on nonsocket";

// A TcpSocket client connected to a raw peer.
class Connected : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(client.connect("127.0.0.1", host.programPort())) << client.lastError;
        peer = host.accept();
        ASSERT_TRUE(peer.valid());
    }

    RawListener host;
    TcpSocket client{NewSocket()};
    RawPeer peer;
};

} // namespace

TEST(TcpSocketConnect, RefusedLeavesFieldsAndReportsText) {
    TcpSocket socket(NewSocket());
    socket.address = "earlier";
    socket.port = 7;
    const ReservedPort nobody;
    EXPECT_FALSE(socket.connect("127.0.0.1", nobody.programPort()));
    EXPECT_EQ(socket.lastError, "WSAECONNREFUSED\nConnection refused");
    EXPECT_FALSE(socket.open);
    EXPECT_EQ(socket.address, "earlier");
    EXPECT_EQ(socket.port, 7);
}

// With a backlog of 0 the kernel queues one connection and drops later SYNs, so the second
// attempt can only end by the time limit.
TEST(TcpSocketConnect, GivesUpOnPeerThatNeverAnswers) {
    RawListener host;
    ASSERT_EQ(::listen(host.fd, 0), 0);
    const RawPeer queued = RawPeer::connectTo(host.tcpPort);
    ASSERT_TRUE(queued.valid());
    TcpSocket socket(NewSocket());
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(socket.connect("127.0.0.1", host.programPort()));
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(socket.lastError, "WSAETIMEDOUT\nConnection timed out");
    EXPECT_GE(took, std::chrono::milliseconds(TcpSocket::CONNECT_TIMEOUT_MS - 100));
    EXPECT_LT(took, std::chrono::milliseconds(TcpSocket::CONNECT_TIMEOUT_MS + 3000));
}

TEST(TcpSocketListen, NumberIsTcpPortWithBytesSwapped) {
    const ReservedPort port;
    const uint16_t tcpPort = port.tcpPort;
    TcpSocket room(NewSocket());
    ASSERT_TRUE(room.listen(ProgramPort(tcpPort))) << room.lastError;
    EXPECT_TRUE(room.open);
    EXPECT_EQ(room.port, ProgramPort(tcpPort));
    EXPECT_EQ(BoundTcpPort(room.handle), tcpPort);

    // A peer using network order meets the room on the swapped number; one of ours on the number.
    const RawPeer plain = RawPeer::connectTo(tcpPort);
    ASSERT_TRUE(plain.valid());
    ASSERT_TRUE(room.accept());
    TcpSocket slot(room.acceptedHandle);
    TcpSocket ours(NewSocket());
    ASSERT_TRUE(ours.connect("127.0.0.1", ProgramPort(tcpPort))) << ours.lastError;
    EXPECT_EQ(ours.port, ProgramPort(tcpPort));
    EXPECT_EQ(ours.address, "127.0.0.1");
    ASSERT_TRUE(room.accept());
    TcpSocket secondSlot(room.acceptedHandle);
}

TEST(TcpSocketListen, NumberWithEqualBytesIsSameTcpPort) {
    TcpSocket room(NewSocket());
    uint16_t number = 0;
    for (int high = 0xc0; high <= 0xfe && number == 0; ++high) {
        if (room.listen(static_cast<uint16_t>(high * 257)))
            number = static_cast<uint16_t>(high * 257);
    }
    ASSERT_NE(number, 0) << room.lastError;
    EXPECT_EQ(BoundTcpPort(room.handle), number);
}

TEST(TcpSocketListen, BusyPortFailsAtBindWithoutListening) {
    RawListener other;
    TcpSocket room(NewSocket());
    EXPECT_FALSE(room.listen(other.programPort()));
    EXPECT_EQ(room.lastError, "WSAEADDRINUSE\nAddress already in use");
    EXPECT_FALSE(room.open);
    EXPECT_EQ(room.port, 0);
    // Listening on the unbound socket would have succeeded on some random port.
    int listening = 1;
    socklen_t length = sizeof listening;
    ::getsockopt(room.handle, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length);
    EXPECT_EQ(listening, 0);
}

TEST(TcpSocketListen, ReopensPortWhoseClosedConnectionLingers) {
    const ReservedPort port;
    const uint16_t tcpPort = port.tcpPort;
    {
        TcpSocket room(NewSocket());
        ASSERT_TRUE(room.listen(ProgramPort(tcpPort))) << room.lastError;
        RawPeer visitor = RawPeer::connectTo(tcpPort);
        ASSERT_TRUE(visitor.valid());
        ASSERT_TRUE(room.accept());
        TcpSocket slot(room.acceptedHandle);
        // The room's side closes first, so its end of the connection stays in TIME_WAIT.
        EXPECT_TRUE(slot.close());
        EXPECT_TRUE(visitor.readEnd());
    }
    TcpSocket again(NewSocket());
    EXPECT_TRUE(again.listen(ProgramPort(tcpPort))) << again.lastError;
}

TEST(TcpSocketClose, WithoutHandleFailsAsNotASocket) {
    TcpSocket never;
    EXPECT_FALSE(never.close());
    EXPECT_EQ(never.lastError, NOT_A_SOCKET);
    EXPECT_FALSE(never.accept());
    EXPECT_EQ(never.acceptedHandle, NO_HANDLE);
    EXPECT_EQ(never.localAddress(), "");

    TcpSocket closed(NewSocket());
    const int fd = closed.handle;
    EXPECT_TRUE(closed.close()) << closed.lastError; // never connected: nothing to shut down
    EXPECT_EQ(closed.handle, NO_HANDLE);
    EXPECT_FALSE(IsDescriptor(fd));
    EXPECT_FALSE(closed.close());
    EXPECT_EQ(closed.lastError, NOT_A_SOCKET);
}

// A failed shutdown (here: the handle is no socket) is reported, but the descriptor is given back
// all the same, since callers drop the handle after a failed close.
TEST(TcpSocketClose, FailedShutdownStillReleasesDescriptor) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    TcpSocket notSocket(ends[0]);
    notSocket.open = true;
    EXPECT_FALSE(notSocket.close());
    EXPECT_EQ(notSocket.lastError, NOT_A_SOCKET);
    EXPECT_EQ(notSocket.handle, NO_HANDLE);
    EXPECT_TRUE(notSocket.open); // a failed close leaves the state as it was
    EXPECT_FALSE(IsDescriptor(ends[0]));
    ::close(ends[1]);
}

TEST(TcpSocketCreate, StreamSocketConnectsAndListens) {
    RawListener host;
    const std::unique_ptr<TcpSocket> client = TcpSocket::createStream();
    ASSERT_NE(client->handle, NO_HANDLE);
    EXPECT_TRUE(client->connect("127.0.0.1", host.programPort())) << client->lastError;

    // Without a handle, connect and listen fail with a text instead of touching descriptor -1.
    TcpSocket none;
    EXPECT_FALSE(none.connect("127.0.0.1", host.programPort()));
    EXPECT_EQ(none.lastError, NOT_A_SOCKET);
    none.lastError = "creation failed";
    EXPECT_FALSE(none.listen(0));
    EXPECT_EQ(none.lastError, "creation failed");
}

// After wake() and the peer's answering FIN the socket sits in TIME_WAIT, which Linux reports as
// not connected; close must still give the descriptor back.
TEST_F(Connected, CloseAfterWakeAndPeerHangUp) {
    client.wake();
    ASSERT_TRUE(peer.readEnd());
    peer.hangUp();
    EXPECT_TRUE(WaitFor([&] {
        tcp_info info{};
        socklen_t length = sizeof info;
        ::getsockopt(client.handle, IPPROTO_TCP, TCP_INFO, &info, &length);
        return info.tcpi_state == TCP_CLOSE;
    }));
    const int fd = client.handle;
    EXPECT_TRUE(client.close()) << client.lastError;
    EXPECT_FALSE(IsDescriptor(fd));
    EXPECT_FALSE(client.open);
    EXPECT_EQ(client.address, "");
}

TEST_F(Connected, RecvZeroFillsShortReceptionAndNotAFullOne) {
    std::vector<char> buffer(1024, 'x');
    EXPECT_FALSE(client.waitReadable(10));
    ASSERT_TRUE(peer.send("hello"));
    ASSERT_EQ(client.recv(buffer.data(), 1024), 5);
    EXPECT_EQ(std::string(buffer.data()), "hello");
    EXPECT_EQ(std::count(buffer.begin() + 5, buffer.end(), '\0'), 1019);

    ASSERT_TRUE(peer.send(std::string(1024, 'y')));
    ASSERT_TRUE(WaitFor([&] {
        int pending = 0;
        ::ioctl(client.handle, FIONREAD, &pending);
        return pending == 1024;
    }));
    ASSERT_EQ(client.recv(buffer.data(), 1024), 1024);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(1024, 'y'));
}

TEST_F(Connected, WakeEndsRecvBlockedInAnotherThread) {
    std::atomic<long> readerTid{0};
    std::atomic<int> result{-2};
    std::thread reader([&] {
        readerTid = ::syscall(SYS_gettid);
        char buffer[64];
        result = client.recv(buffer, sizeof buffer);
    });
    // Wait until the reader sleeps in the kernel, so that the wake-up meets a blocked recv.
    WaitFor([&] {
        std::ifstream stat("/proc/self/task/" + std::to_string(readerTid.load()) + "/stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), {});
        return readerTid != 0 && text.find(") S ") != std::string::npos;
    });
    client.wake();
    const bool woke = WaitFor([&] { return result != -2; });
    if (!woke)
        peer.hangUp(); // ends the reader anyway so that the test can join it
    reader.join();
    EXPECT_TRUE(woke);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(IsDescriptor(client.handle));
}

TEST_F(Connected, SendToPeerThatHungUpFailsWithoutSignal) {
    peer.hangUp();
    const char line[] = "msg\nhello\n";
    // The first send may still be taken; the peer's reset fails a later one (without MSG_NOSIGNAL
    // the SIGPIPE would end the test program here).
    EXPECT_TRUE(WaitFor([&] { return client.send(line, sizeof line - 1) == -1; }));
    EXPECT_EQ(client.sendAll(line, sizeof line - 1, 1000), -1);
}

TEST_F(Connected, SendAllGivesUpWhenPeerStopsReading) {
    const std::vector<char> big(32 << 20, 'z'); // far beyond both sides' socket buffers
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(client.sendAll(big.data(), static_cast<int32_t>(big.size()), 300), -1);
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, std::chrono::milliseconds(250));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
}

// The kernel reads seconds for the probes and milliseconds for the user timeout; the values it
// reports back are what a dead peer will be measured against.
TEST_F(Connected, KeepAliveTimingsReachTheKernelInTheirUnits) {
    ASSERT_TRUE(client.setKeepAlive(KeepAliveTimings())) << client.lastError;
    auto option = [&](int level, int name) {
        int value = -1;
        socklen_t length = sizeof value;
        ::getsockopt(client.handle, level, name, &value, &length);
        return value;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 30);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 10);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 3);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 60000);

    TcpSocket none;
    EXPECT_FALSE(none.setKeepAlive(KeepAliveTimings()));
    EXPECT_NE(none.lastError, "");
}

TEST_F(Connected, TrySendReportsFullWindowApartFromFailure) {
    const std::vector<char> chunk(1 << 16, 'q');
    int32_t sent = 0;
    for (int i = 0; i < 10000 && sent >= 0; ++i)
        sent = client.trySend(chunk.data(), static_cast<int32_t>(chunk.size()));
    EXPECT_EQ(sent, TcpSocket::WOULD_BLOCK);
    peer.hangUp();
    EXPECT_TRUE(WaitFor([&] { return client.trySend(chunk.data(), 1) == -1; }));
}

TEST_F(Connected, SendAllDeliversEverythingToASlowReader) {
    std::string data(4 << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    std::thread reader([&] { peer.readAtLeast(data.size(), 10000); });
    EXPECT_EQ(client.sendAll(data.data(), static_cast<int32_t>(data.size()), 5000), 4 << 20);
    reader.join();
    EXPECT_TRUE(peer.received == data);
}

TEST_F(Connected, LookupsAnswerWithoutNetwork) {
    EXPECT_EQ(client.localAddress(), "127.0.0.1");
    EXPECT_EQ(LookupSocket.resolveHost(""), "");
}
