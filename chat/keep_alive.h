// The keep-alive timings that every chat connection gets: the host's slots and the client's own.
#pragma once

#include "net/keep_alive_timings.h"

// Read whenever a connection is made (on the accept thread, or by ChatClient::connect). The
// program keeps the defaults; tests shorten them, but only while no connection is being made.
inline KeepAliveTimings ChatKeepAlive;
