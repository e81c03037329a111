// Looking a host up and connecting to it under one deadline.
#include "bridge/dial.h"

#include <chrono>

std::unique_ptr<TcpSocket> DialWithin(const std::string& host, uint16_t port, int timeoutMs,
                                      std::string& error) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto millisecondsLeft = [&deadline] {
        return static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    };
    std::string address = host;
    if (!IsDottedQuad(host)) {
        TcpSocket lookup;
        std::string resolved;
        if (!lookup.resolveHostWithin(host, millisecondsLeft(), resolved)) {
            error = lookup.lastError;
            return nullptr;
        }
        if (resolved.empty()) {
            error = "no address found for " + host;
            return nullptr;
        }
        address = resolved;
    }
    std::unique_ptr<TcpSocket> socket = TcpSocket::createStream();
    if (!socket->connectWithin(address, port, millisecondsLeft())) {
        error = socket->lastError;
        return nullptr;
    }
    socket->setNoDelay();
    return socket;
}
