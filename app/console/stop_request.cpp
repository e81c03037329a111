// Waiting for a stop request; the platform's handlers are in posix/ and win32/.
#include "app/console/stop_request.h"

#include "app/console/console_platform.h"
#include "net/socket_poll.h"

StopRequest::StopRequest() {
    if (waker.ready())
        CatchStopSignals(waker);
}

StopRequest::~StopRequest() {
    if (waker.ready())
        ReleaseStopSignals();
}

void StopRequest::wait() {
    PollEntry entry{waker.pollHandle(), POLL_READABLE, 0};
    while (PollSockets(&entry, 1, -1) <= 0) {
    }
}

void StopRequest::finished() {
    StopSignalsFinished();
}
