// TcpSocket::resolveHostWithin: a host-name lookup with a time limit, so that a name the resolver
// cannot answer never freezes the window for the resolver's own (much longer) time.
//
// The platform's lookup cannot be interrupted, so it runs on one worker thread of its own; the
// caller waits for the answer only as long as it was told to. A lookup that outlives its caller
// finishes on the worker, and its answer is dropped.
#include "net/socket_backend.h"
#include "net/tcp_socket.h"
#include "net/thread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace {

struct LookupRequest {
    std::string name;
    bool done = false; // guarded by the worker's mutex
    std::string answer;
};

class LookupWorker final : public Thread {
public:
    ~LookupWorker() override {
        {
            std::lock_guard<std::mutex> guard(mutex);
            stopping = true;
        }
        wakeup.notify_all();
        // Waits for a lookup still running: the resolver gives up by itself.
        stop();
    }

    // True with the answer (empty when the lookup failed), or false when the time ran out.
    bool resolve(const std::string& name, int timeoutMs, std::string& answer) {
        auto request = std::make_shared<LookupRequest>();
        request->name = name;
        std::unique_lock<std::mutex> lock(mutex);
        if (!running)
            running = start();
        if (!running)
            return true; // no thread to look with: no answer
        queue.push_back(request);
        wakeup.notify_all();
        const bool done = wakeup.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                          [&request] { return request->done; });
        if (done)
            answer = request->answer;
        return done;
    }

    void run() override {
        TcpSocket resolver; // no handle: only its lookup is used
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wakeup.wait(lock, [this] { return stopping || !queue.empty(); });
            if (stopping)
                return;
            std::shared_ptr<LookupRequest> request = queue.front();
            queue.pop_front();
            lock.unlock();
            std::string answer = resolver.resolveHost(request->name);
            lock.lock();
            request->answer = std::move(answer);
            request->done = true;
            wakeup.notify_all();
        }
    }

private:
    // Guards the queue, the requests' answers and the flags below. Taken by no one else's lock.
    std::mutex mutex;
    std::condition_variable wakeup;
    std::deque<std::shared_ptr<LookupRequest>> queue;
    bool running = false;
    bool stopping = false;
};

} // namespace

bool TcpSocket::resolveHostWithin(const std::string& name, int timeoutMs, std::string& dotted) {
    static LookupWorker worker;
    dotted.clear();
    if (timeoutMs > 0 && worker.resolve(name, timeoutMs, dotted))
        return true;
    SocketBackend::SetLastSocketError(SocketBackend::TIMED_OUT_CODE);
    lastError = describeLastError();
    return false;
}
