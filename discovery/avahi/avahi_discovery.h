// AvahiDiscovery: announcing and finding rooms through the Avahi daemon, on Avahi's threaded poll.
#pragma once

#include "discovery/avahi/avahi_browser.h"
#include "discovery/discovery.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/thread-watch.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// Threads: the caller's (the user-interface thread) only records what it wants and wakes the
// worker; the worker takes the poll's lock and hands that to the poll thread's state; the poll
// thread runs every Avahi callback with the poll's lock held. Every call into Avahi may wait for
// the daemon, so none is made on the caller's thread. When the daemon goes away the client is
// made again and waits for it (AVAHI_CLIENT_NO_FAIL); browsing and the announcement resume when
// it is back.
class AvahiDiscovery final : public Discovery {
public:
    static constexpr char UNAVAILABLE[] = "Finding rooms needs the Avahi service (avahi-daemon)";

    explicit AvahiDiscovery(RoomList& found);
    ~AvahiDiscovery() override;
    AvahiDiscovery(const AvahiDiscovery&) = delete;
    AvahiDiscovery& operator=(const AvahiDiscovery&) = delete;

    void announce(const Announcement& announcement) override;
    void setPeople(int people) override;
    void withdraw() override;

private:
    void runWorker();

    // Poll thread, or with the poll's lock held.
    void connect();
    void connectIn(unsigned milliseconds); // makes the client on the poll thread
    void forgetClient();
    void publish();
    void onClientState(AvahiClient* changed, AvahiClientState state);
    void onGroupState(AvahiEntryGroup* changed, AvahiEntryGroupState state);

    RoomList& found;
    AvahiThreadedPoll* poll = nullptr;

    // Guarded by the poll's lock.
    AvahiClient* client = nullptr;
    AvahiBrowser browser;
    AvahiEntryGroup* group = nullptr;
    std::optional<Announcement> published; // what is to be announced while the daemon runs
    std::string publishedName;             // its name after any collisions
    bool groupHolds = false;               // the group announces published's name and port

    // Guards the fields below; never held while the poll's lock is taken.
    std::mutex mutex;
    std::condition_variable wake;
    std::optional<Announcement> wanted;
    bool requested = false; // wanted differs from what the worker handed over last
    bool fresh = false;     // announce() was called since: the room is announced anew
    bool stopping = false;
    std::thread worker;
};
