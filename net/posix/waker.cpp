// Waker over a non-blocking pipe: a byte in the pipe means "look for work".
#include "net/waker.h"

#include "net/tcp_socket.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

Waker::Waker() {
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) < 0) {
        lastError = TcpSocket::describeLastError();
        return;
    }
    readHandle = ends[0];
    writeHandle = ends[1];
}

Waker::~Waker() {
    if (readHandle != NO_HANDLE)
        ::close(readHandle);
    if (writeHandle != NO_HANDLE)
        ::close(writeHandle);
}

void Waker::wake() {
    if (writeHandle == NO_HANDLE || pending.exchange(true))
        return;
    const char byte = 1;
    // A full pipe (EAGAIN) already wakes the reader, so only EINTR is worth a retry.
    while (::write(writeHandle, &byte, 1) < 0 && errno == EINTR) {
    }
}

void Waker::drain() {
    char bytes[64];
    while (::read(readHandle, bytes, sizeof bytes) > 0) {
    }
    // Cleared after reading: a wake() from here on writes a byte of its own, and one that came
    // before found `pending` set and wrote nothing, but its work is seen by the caller's next look.
    pending = false;
}
