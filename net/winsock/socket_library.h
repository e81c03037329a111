// Winsock start-up, shared by everything in the Winsock backend that makes a socket.
#pragma once

// Asks for Winsock 2.0. Every call is a start-up request of its own, which the library counts;
// nothing ever asks for the clean-up, so the library stays up until the process ends. Returns 0,
// or the error code that WSAStartup gave (also left as the thread's last socket error).
int StartSocketLibrary();
