// How a connection notices a peer that vanished without closing (power lost, cable pulled,
// laptop asleep): keep-alive probes on a quiet connection, and a limit on how long sent data may
// stay unacknowledged on a busy one. Nothing of it shows on the wire as data.
#pragma once

struct KeepAliveTimings {
    int idleSeconds = 30;      // quiet time before the first probe
    int intervalSeconds = 10;  // time between unanswered probes
    int probeCount = 3;        // unanswered probes that end the connection
    int userTimeoutMs = 60000; // data unacknowledged this long ends the connection
};
