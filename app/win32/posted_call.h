// PostedCall: a call that any thread may ask for and the dialog's thread makes, once for any
// number of requests that arrive before it starts. The Win32 counterpart of the Qt window's
// CoalescedCall: the request is a message posted to the dialog.
#pragma once

#include "model/window_call.h"

#include <windows.h>

#include <atomic>
#include <mutex>

class PostedCall final : public WindowCall {
public:
    PostedCall(HWND target, UINT message);

    // Any thread: posts `message` to target unless one is posted and not yet taken. Never waits
    // for target's thread, which may itself be waiting for the thread that asks.
    void request() override;
    // Target's thread, when the message arrives and before it reads anything: a change made from
    // here on posts another message instead of being missed.
    void taken() override;
    // Target's thread, before target goes: later requests post nothing.
    void detach() override;

private:
    // Guards target, so that detach() cannot let the window go while a request posts to it. Held
    // only for the post, which never waits for the window's thread.
    std::mutex mutex;
    HWND target;
    const UINT message;
    std::atomic<bool> pending{false};
};
