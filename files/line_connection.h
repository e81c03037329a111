// LineConnection: a connection of the file service with what has come in on it and not yet been
// taken, read as lines and then, on downloads and uploads, as bytes.
#pragma once

#include "net/tcp_socket.h"

#include <memory>
#include <string>
#include <string_view>

class LineConnection {
public:
    explicit LineConnection(std::unique_ptr<TcpSocket> socket);

    TcpSocket& socket() { return *connection; }
    // Hands the socket over; what is waiting stays for takeRest().
    std::unique_ptr<TcpSocket> releaseSocket() { return std::move(connection); }

    // One receive: waits for bytes, adds them to what is waiting. False when the connection ended
    // or failed.
    bool receive();
    enum class Take { Line, Nothing, TooLong };
    // Takes a whole line, without its "\n", from what is waiting. TooLong when more than limit
    // bytes wait without one.
    Take takeLine(std::string& line, size_t limit);
    // Waits up to timeoutMs in all for a whole line; false on timeout, end, failure or an overlong
    // line.
    bool readLine(std::string& line, size_t limit, int timeoutMs);
    // Fills buffer with the next count bytes, waiting up to timeoutMs for each piece of them;
    // false on timeout, end or failure.
    bool readBytes(char* buffer, size_t count, int timeoutMs);
    // Whether the last readLine or readBytes that failed ran out of time (rather than seeing the
    // connection end).
    bool timedOut() const { return lastTimedOut; }
    // Hands over what is waiting beyond the lines taken.
    std::string takeRest();
    // Sends line and "\n"; false when the peer did not take it within timeoutMs.
    bool sendLine(std::string_view line, int timeoutMs);

private:
    std::unique_ptr<TcpSocket> connection;
    std::string waiting;
    bool lastTimedOut = false;
};
