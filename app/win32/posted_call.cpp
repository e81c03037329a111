// Posted calls to the dialog's thread, folded together while one is waiting.
#include "app/win32/posted_call.h"

PostedCall::PostedCall(HWND targetWindow, UINT postedMessage)
    : target(targetWindow), message(postedMessage) {}

void PostedCall::request() {
    if (pending.exchange(true))
        return; // a message is queued and not taken: its call will see this request's change too
    std::lock_guard<std::mutex> targetGuard(mutex);
    // A full message queue drops the post; the next request then tries again.
    if (target == nullptr || !::PostMessageW(target, message, 0, 0))
        pending.store(false);
}

void PostedCall::taken() {
    pending.store(false);
}

void PostedCall::detach() {
    std::lock_guard<std::mutex> targetGuard(mutex);
    target = nullptr;
}
