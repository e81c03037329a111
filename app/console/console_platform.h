// What the console programs ask of the platform (posix/ or win32/): the stop handlers.
#pragma once

class Waker;

// Installs the handlers that wake waker on a stop request; waker outlives them.
void CatchStopSignals(Waker& waker);
// Puts the default handlers back.
void ReleaseStopSignals();
// The program's work after the request is done (see StopRequest::finished).
void StopSignalsFinished();
