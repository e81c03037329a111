// TcpSocket::resolveHostWithin: a host-name lookup with a time limit, so that a name the resolver
// cannot answer never freezes the window for the resolver's own (much longer) time.
#include "net/tcp_socket.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// One asynchronous lookup: the resolver writes into `request` from a thread of its own until the
// lookup ends, so the record must outlive it.
struct PendingLookup {
    std::string name;
    addrinfo hints{};
    gaicb request{};
};

// Lookups that ran out of time and could not be cancelled, kept until the resolver is done with
// them. Never destroyed: the resolver may still write into one when the program exits.
std::mutex AbandonedMutex;
std::vector<std::unique_ptr<PendingLookup>>& Abandoned() {
    static auto* abandoned = new std::vector<std::unique_ptr<PendingLookup>>();
    return *abandoned;
}

void ReleaseFinishedLookups() {
    std::lock_guard<std::mutex> guard(AbandonedMutex);
    auto& abandoned = Abandoned();
    std::erase_if(abandoned, [](const std::unique_ptr<PendingLookup>& lookup) {
        const int state = gai_error(&lookup->request);
        if (state == EAI_INPROGRESS)
            return false;
        if (state == 0)
            freeaddrinfo(lookup->request.ar_result);
        return true;
    });
}

timespec TimeLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
        deadline - std::chrono::steady_clock::now());
    const long long nanoseconds = left.count() > 0 ? left.count() : 0;
    return {static_cast<time_t>(nanoseconds / 1000000000),
            static_cast<long>(nanoseconds % 1000000000)};
}

} // namespace

bool TcpSocket::resolveHostWithin(const std::string& name, int timeoutMs, std::string& dotted) {
    dotted.clear();
    ReleaseFinishedLookups();
    auto lookup = std::make_unique<PendingLookup>();
    lookup->name = name;
    lookup->hints.ai_family = AF_INET;
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->request.ar_name = lookup->name.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* requests[] = {&lookup->request};
    if (getaddrinfo_a(GAI_NOWAIT, requests, 1, nullptr) != 0)
        return true; // the lookup could not even start: no answer

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int state;
    while ((state = gai_error(&lookup->request)) == EAI_INPROGRESS) {
        const timespec left = TimeLeft(deadline);
        if (left.tv_sec == 0 && left.tv_nsec == 0)
            break;
        // Returns when the lookup ends, when the time is up, or on a signal; the loop tells which.
        (void)gai_suspend(requests, 1, &left);
    }
    if (state == EAI_INPROGRESS) {
        if (gai_cancel(&lookup->request) != EAI_CANCELED) {
            std::lock_guard<std::mutex> guard(AbandonedMutex);
            Abandoned().push_back(std::move(lookup));
        }
        errno = ETIMEDOUT;
        lastError = describeLastError();
        return false;
    }
    if (state == 0) {
        const addrinfo* answer = lookup->request.ar_result;
        if (answer != nullptr && answer->ai_addr != nullptr && answer->ai_family == AF_INET) {
            char text[INET_ADDRSTRLEN] = {};
            const in_addr found = reinterpret_cast<const sockaddr_in*>(answer->ai_addr)->sin_addr;
            if (inet_ntop(AF_INET, &found, text, sizeof text) != nullptr)
                dotted = text;
        }
        freeaddrinfo(lookup->request.ar_result);
    }
    return true;
}
