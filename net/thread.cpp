// Thread: starts, stops and joins the one thread on which a derived object's loop runs.
#include "net/thread.h"

#include <system_error>

Thread::~Thread() {
    stop();
}

bool Thread::start() {
    // A thread cannot wait for itself to end, so a loop cannot restart its own object. Checked
    // before the record, which start() on another thread may still be writing.
    if (onOwnThread())
        return false;
    if (handle.joinable())
        release();
    try {
        // The new thread records its own id before anything else, so that a loop which stops
        // itself at once is recognised even before the line below has run.
        handle = std::thread([this] {
            id.store(std::this_thread::get_id());
            run();
        });
    } catch (const std::system_error&) {
        return false;
    }
    id.store(handle.get_id());
    return true;
}

void Thread::stop() {
    // Checked before the record itself: a thread stopping itself must not read `handle` while
    // start() on another thread may still be writing it.
    if (onOwnThread())
        return;
    if (handle.joinable())
        release();
}

void Thread::release() {
    handle.join();
    id.store(std::thread::id{});
}
