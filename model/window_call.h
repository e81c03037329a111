// WindowCall: a call that any thread may ask for and the window's thread makes, once for any
// number of requests that arrive before it starts. Each front-end has its own (a queued call in
// the Qt window, a posted message in the Win32 dialog); what observes a model through one is
// written once, below the front-ends.
#pragma once

class WindowCall {
public:
    virtual ~WindowCall() = default;

    // Any thread: queues one call on the window's thread and returns at once. It never waits for
    // that thread, which may itself be waiting for the thread that asks.
    virtual void request() = 0;
    // The window's thread, when the call starts and before it reads anything: a change made from
    // here on queues another call instead of being missed.
    virtual void taken() = 0;
    // The window's thread, before the window goes: later requests queue nothing.
    virtual void detach() = 0;
};
