// Local times through std::localtime, whose one shared result a mutex guards.
#include "features/local_time.h"

#include <ctime>
#include <mutex>

namespace {

std::tm LocalParts(std::chrono::system_clock::time_point time) {
    static std::mutex localtimeMutex; // guards std::localtime's static result; innermost
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::lock_guard<std::mutex> guard(localtimeMutex);
    const std::tm* local = std::localtime(&seconds);
    return local != nullptr ? *local : std::tm{};
}

} // namespace

std::string TimePrefix(std::chrono::system_clock::time_point time) {
    const std::tm parts = LocalParts(time);
    char text[16];
    return std::string(text, std::strftime(text, sizeof text, "[%H:%M] ", &parts));
}

std::string DateTime(std::chrono::system_clock::time_point time) {
    const std::tm parts = LocalParts(time);
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts));
}
