// Bounded waiting for tests: poll a condition until it holds or the time runs out.
#pragma once

#include <chrono>
#include <thread>

// True as soon as condition() holds; false when it still fails after timeoutMs.
template <class Condition> bool WaitFor(Condition&& condition, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
