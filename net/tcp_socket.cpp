// TcpSocket: the operations that read and write only the object's own fields, the same for every
// socket backend (net/posix/, net/winsock/ hold the rest).
#include "net/tcp_socket.h"

TcpSocket::~TcpSocket() {
    // A socket that was never opened or is already closed fails here harmlessly.
    (void)close();
}

void TcpSocket::markOpen() {
    open = true;
}

void TcpSocket::markClosed() {
    open = false;
    address.clear();
    port = 0;
}

bool TcpSocket::connect(const std::string& newAddress, uint16_t newPort) {
    return connectWithin(newAddress, newPort, CONNECT_TIMEOUT_MS);
}

std::string TcpSocket::emptyLookup(const std::string&) {
    return {};
}
