// Queued calls to the window's thread, folded together while one is waiting.
#include "app/qt/coalesced_call.h"

#include <QMetaObject>
#include <QObject>

#include <utility>

CoalescedCall::CoalescedCall(QObject* targetObject, std::function<void()> call)
    : target(targetObject), function(std::move(call)) {}

void CoalescedCall::request() {
    if (pending.exchange(true)) {
        return; // a call is queued and has not started: it will see this request's change too
    }
    std::lock_guard<std::mutex> targetGuard(mutex);
    if (target == nullptr) {
        return;
    }
    // A queued call posts an event and returns; Qt drops the event if target is destroyed first,
    // and target keeps this object alive while it exists.
    QMetaObject::invokeMethod(
        target,
        [this] {
            // Cleared before the call reads anything, so that a change made while it runs queues
            // another call instead of being missed.
            pending.store(false);
            function();
        },
        Qt::QueuedConnection);
}

void CoalescedCall::defer() {
    pending.store(true);
}

void CoalescedCall::taken() {
    pending.store(false);
}

void CoalescedCall::detach() {
    std::lock_guard<std::mutex> targetGuard(mutex);
    target = nullptr;
}
