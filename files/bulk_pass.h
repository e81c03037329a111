// BulkPass: the bytes of one relayed transfer on their way from the offerer's upload to the
// receiver, a piece at a time. On Linux they move inside the kernel, through a pipe (splice), so
// that the host never copies a file's bytes itself; on Windows they pass through a buffer of the
// piece's size (files/posix/, files/windows/).
#pragma once

#include "net/tcp_socket.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class BulkPass {
public:
    // Room for a piece of up to capacity bytes.
    explicit BulkPass(size_t capacity);
    ~BulkPass();
    BulkPass(const BulkPass&) = delete;
    BulkPass& operator=(const BulkPass&) = delete;

    // False when the platform could not make what it holds the piece in.
    bool ready() const;
    // From an upload with bytes waiting (a poll said so): takes up to max of them into the piece.
    // The count taken; 0 at the upload's end; -1 on failure.
    int64_t take(TcpSocket& from, size_t max);
    // Puts bytes that came in already (behind the upload's first line) into the piece.
    bool put(const char* bytes, size_t count);
    // Sends the whole piece to the receiver, waiting at most timeoutMs for it to take it.
    bool give(TcpSocket& to, int timeoutMs);

private:
    struct State;
    std::unique_ptr<State> state;
};
