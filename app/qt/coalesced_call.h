// CoalescedCall: a call that any thread may ask for and the window's thread makes, once for any
// number of requests that arrive before it starts.
#pragma once

#include "model/window_call.h"

#include <atomic>
#include <functional>
#include <mutex>

class QObject;

// request() runs on whatever thread wants the call (a network thread that changed the view model,
// say). It queues one call of function on target's thread and returns at once; it never waits for
// that thread, which may itself be waiting for the thread that asks.
class CoalescedCall final : public WindowCall {
public:
    CoalescedCall(QObject* target, std::function<void()> function);

    void request() override;
    // Target's thread, from within the call: the call put its work off (until a timer fires, say).
    // Requests post nothing until taken(), since the work put off will see their changes.
    void defer();
    // Target's thread, when work put off starts and before it reads anything: a change made from
    // here on queues another call instead of being missed.
    void taken() override;
    // Target's thread, before target goes: later requests queue nothing. Waits at most for a
    // request that is queueing its call right now.
    void detach() override;

private:
    // Guards target, so that detach() cannot let target go while a request posts to it. Held only
    // for the post; nothing else is locked or waited for under it.
    std::mutex mutex;
    QObject* target;
    std::function<void()> function; // called on target's thread only
    std::atomic<bool> pending{false};
};
