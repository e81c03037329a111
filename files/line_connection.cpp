// LineConnection: lines and bytes over a blocking TcpSocket.
#include "files/line_connection.h"

#include <algorithm>
#include <chrono>
#include <cstring>

LineConnection::LineConnection(std::unique_ptr<TcpSocket> socket) : connection(std::move(socket)) {}

bool LineConnection::receive() {
    char buffer[4096];
    const int32_t got = connection->receive(buffer, sizeof buffer);
    if (got <= 0)
        return false;
    waiting.append(buffer, static_cast<size_t>(got));
    return true;
}

LineConnection::Take LineConnection::takeLine(std::string& line, size_t limit) {
    const size_t end = waiting.find('\n');
    if (end == std::string::npos)
        return waiting.size() > limit ? Take::TooLong : Take::Nothing;
    if (end > limit)
        return Take::TooLong;
    line.assign(waiting, 0, end);
    waiting.erase(0, end + 1);
    return Take::Line;
}

bool LineConnection::readLine(std::string& line, size_t limit, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const Take taken = takeLine(line, limit);
        if (taken != Take::Nothing)
            return taken == Take::Line;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        lastTimedOut = left <= 0 || !connection->waitReadable(static_cast<int>(left));
        if (lastTimedOut || !receive())
            return false;
    }
}

bool LineConnection::readBytes(char* buffer, size_t count, int timeoutMs) {
    const size_t early = std::min(count, waiting.size());
    std::memcpy(buffer, waiting.data(), early);
    waiting.erase(0, early);
    for (size_t done = early; done < count;) {
        lastTimedOut = !connection->waitReadable(timeoutMs);
        if (lastTimedOut)
            return false;
        const int32_t got = connection->receive(
            buffer + done, static_cast<uint32_t>(std::min<size_t>(count - done, 1u << 30)));
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

std::string LineConnection::takeRest() {
    std::string rest;
    rest.swap(waiting);
    return rest;
}

bool LineConnection::sendLine(std::string_view line, int timeoutMs) {
    std::string bytes(line);
    bytes += '\n';
    const auto length = static_cast<int32_t>(bytes.size());
    return connection->sendAll(bytes.data(), length, timeoutMs) == length;
}
