// The plain TCP transport to an IRC server.
#include "bridge/dial.h"
#include "bridge/irc_transport.h"
#include "net/socket_poll.h"

namespace {

class PlainTransport final : public IrcTransport {
public:
    bool open(const std::string& host, uint16_t tcpPort, int timeoutMs) override {
        socket = DialWithin(host, ProgramPortFor(tcpPort), timeoutMs, lastError);
        return socket != nullptr;
    }
    SocketHandle handle() const override { return socket ? socket->handle : NO_HANDLE; }
    unsigned pollEvents(bool haveBytesToWrite) const override {
        return POLL_READABLE | (haveBytesToWrite ? POLL_WRITABLE : 0);
    }
    int32_t read(char* buffer, size_t size) override {
        // The receive itself would wait: it runs only once the socket is readable.
        PollEntry entry{socket->handle, POLL_READABLE, 0};
        if (PollSockets(&entry, 1, 0) == 0)
            return WOULD_BLOCK;
        const int32_t n = socket->recv(buffer, static_cast<uint32_t>(size));
        if (n < 0) {
            lastError = TcpSocket::describeLastError();
            return FAILED;
        }
        return n;
    }
    bool hasBufferedInput() const override { return false; }
    int32_t write(const char* bytes, size_t count) override {
        const int32_t sent = socket->trySend(bytes, static_cast<int32_t>(count));
        if (sent == TcpSocket::WOULD_BLOCK)
            return WOULD_BLOCK;
        if (sent < 0) {
            lastError = TcpSocket::describeLastError();
            return FAILED;
        }
        return sent;
    }
    void close() override { socket.reset(); }

private:
    std::unique_ptr<TcpSocket> socket;
};

} // namespace

std::unique_ptr<IrcTransport> MakePlainTransport() {
    return std::make_unique<PlainTransport>();
}
