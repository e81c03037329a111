// FlowControl: the pressure a queue puts on the room, the readers' budgets and their waits.
#include "chat/flow_control.h"

#include <algorithm>

FlowControl::Pressure FlowControl::of(size_t queued, Clock::time_point tookAt,
                                      Clock::time_point now) {
    if (queued <= BEHIND_BYTES || now - tookAt >= std::chrono::milliseconds(STALLED_MS))
        return Pressure::None;
    return queued > FULL_BYTES ? Pressure::Full : Pressure::Behind;
}

void FlowControl::Budget::spend(size_t bytes) {
    tokens -= static_cast<double>(bytes);
}

bool FlowControl::Budget::left(Clock::time_point now) {
    if (at != Clock::time_point{}) {
        const double seconds = std::chrono::duration<double>(now - at).count();
        tokens = std::min(LIGHT_BURST, tokens + seconds * LIGHT_RATE);
    }
    at = now;
    return tokens > 0;
}

FlowControl::Clock::duration FlowControl::Budget::untilRefilled() const {
    const double seconds = tokens > 0 ? 0 : (1 - tokens) / LIGHT_RATE;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void FlowControl::set(Pressure found) {
    if (pressure.exchange(found) > found) {
        std::lock_guard<std::mutex> guard(mutex);
        eased.notify_all();
    }
}

bool FlowControl::raise(Pressure found) {
    Pressure now = pressure.load();
    while (now < found) {
        if (pressure.compare_exchange_weak(now, found))
            return true;
    }
    return false;
}

void FlowControl::release() {
    released = true;
    std::lock_guard<std::mutex> guard(mutex);
    eased.notify_all();
}

bool FlowControl::mayRead(Budget& budget) {
    // The budget is kept up to date even while the room is quiet, so that a sender who was
    // flooding when a queue grew is slowed at once.
    const bool light = budget.left(Clock::now());
    const Pressure now = pressure.load();
    return released || now == Pressure::None || (now == Pressure::Behind && light);
}

void FlowControl::waitStep(const Budget& budget) {
    const Pressure seen = pressure.load();
    auto step =
        std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(WAIT_STEP_MS));
    if (seen == Pressure::Behind)
        step = std::min(step, budget.untilRefilled());
    std::unique_lock<std::mutex> guard(mutex);
    eased.wait_for(guard, step, [&] { return released || pressure.load() < seen; });
}
