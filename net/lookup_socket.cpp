// LookupSocket: the program-wide socket that serves only the window's name and address lookups.
#include "net/tcp_socket.h"

// Never gets a handle; its destruction at exit closes nothing.
TcpSocket LookupSocket;
