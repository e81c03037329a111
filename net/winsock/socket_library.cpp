// Winsock start-up.
#include "net/winsock/socket_library.h"

#include <winsock2.h>

int StartSocketLibrary() {
    WSADATA data;
    // WSAStartup reports its failure only through its result, not through WSAGetLastError.
    const int result = ::WSAStartup(MAKEWORD(2, 0), &data);
    if (result != 0)
        ::WSASetLastError(result);
    return result;
}
