// The Avahi backend: one client on a threaded poll, the browser that finds rooms through it, and
// an entry group for the room announced.
#include "discovery/avahi/avahi_discovery.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/timeval.h>

#include <utility>

namespace {

// How long to wait before trying again when no client could be made at all (no system bus).
constexpr int RETRY_SECONDS = 5;
// Collisions resolved by choosing the next alternative name, at most, per announcement.
constexpr int COLLISION_LIMIT = 20;

AvahiStringList* TxtList(const Announcement& announcement) {
    AvahiStringList* list = nullptr;
    // A list holds its strings last added first and goes on the wire the other way round, in
    // the order added.
    for (const std::string& entry : AnnouncementTxt(announcement))
        list = avahi_string_list_add(list, entry.c_str());
    return list;
}

} // namespace

AvahiDiscovery::AvahiDiscovery(RoomList& rooms) : found(rooms), browser(rooms) {
    poll = avahi_threaded_poll_new();
    if (poll != nullptr && avahi_threaded_poll_start(poll) < 0) {
        avahi_threaded_poll_free(poll);
        poll = nullptr;
    }
    if (poll == nullptr) {
        found.setUnavailable(UNAVAILABLE);
        return;
    }
    // The client is made on the poll thread: making it talks to the daemon.
    avahi_threaded_poll_lock(poll);
    connectIn(0);
    avahi_threaded_poll_unlock(poll);
    worker = std::thread([this] { runWorker(); });
}

AvahiDiscovery::~AvahiDiscovery() {
    if (worker.joinable()) {
        {
            std::lock_guard<std::mutex> guard(mutex);
            stopping = true;
        }
        wake.notify_one();
        worker.join();
    }
    if (poll == nullptr)
        return;
    avahi_threaded_poll_stop(poll);
    // Freeing the client frees its browser, resolvers and group: the daemon withdraws the room.
    if (client != nullptr)
        avahi_client_free(client);
    avahi_threaded_poll_free(poll);
}

void AvahiDiscovery::announce(const Announcement& announcement) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        wanted = announcement;
        fresh = true;
        requested = true;
    }
    wake.notify_one();
}

void AvahiDiscovery::setPeople(int people) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (!wanted || wanted->people == people)
            return;
        wanted->people = people;
        requested = true;
    }
    wake.notify_one();
}

void AvahiDiscovery::withdraw() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (!wanted)
            return;
        wanted.reset();
        requested = true;
    }
    wake.notify_one();
}

void AvahiDiscovery::runWorker() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return requested || stopping; });
        // What was asked last is handed over before a stop, so that a withdrawal is sent.
        if (requested) {
            requested = false;
            std::optional<Announcement> next = wanted;
            const bool again = std::exchange(fresh, false);
            lock.unlock();
            avahi_threaded_poll_lock(poll);
            // A new announcement replaces the old one with a goodbye; a new head count only
            // changes the TXT record.
            if (!next || !published || again) {
                groupHolds = false;
                publishedName = next ? next->name : std::string();
            }
            published = std::move(next);
            publish();
            avahi_threaded_poll_unlock(poll);
            lock.lock();
            continue;
        }
        if (stopping)
            return;
    }
}

void AvahiDiscovery::connect() {
    int error = 0;
    client = avahi_client_new(
        avahi_threaded_poll_get(poll), AVAHI_CLIENT_NO_FAIL,
        [](AvahiClient* changed, AvahiClientState state, void* self) {
            static_cast<AvahiDiscovery*>(self)->onClientState(changed, state);
        },
        this, &error);
    if (client == nullptr) {
        found.setUnavailable(UNAVAILABLE);
        connectIn(RETRY_SECONDS * 1000);
    }
}

void AvahiDiscovery::connectIn(unsigned milliseconds) {
    const AvahiPoll* api = avahi_threaded_poll_get(poll);
    timeval when{};
    avahi_elapse_time(&when, milliseconds, 0);
    api->timeout_new(
        api, &when,
        [](AvahiTimeout* timeout, void* self) {
            auto* discovery = static_cast<AvahiDiscovery*>(self);
            avahi_threaded_poll_get(discovery->poll)->timeout_free(timeout);
            discovery->connect();
        },
        this);
}

void AvahiDiscovery::forgetClient() {
    // Freeing the client frees everything made from it.
    browser.forget();
    group = nullptr;
    groupHolds = false;
    if (client != nullptr)
        avahi_client_free(client);
    client = nullptr;
}

void AvahiDiscovery::onClientState(AvahiClient* changed, AvahiClientState state) {
    // The first call comes from inside avahi_client_new, before it has returned the client.
    client = changed;
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        found.setAvailable();
        browser.start(client);
        publish();
        break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
        // The machine's host name is being (re)established; the room is announced again once it
        // is running.
        if (group != nullptr)
            avahi_entry_group_reset(group);
        groupHolds = false;
        break;
    case AVAHI_CLIENT_CONNECTING:
        found.setUnavailable(UNAVAILABLE);
        break;
    case AVAHI_CLIENT_FAILURE:
        found.setUnavailable(UNAVAILABLE);
        if (avahi_client_errno(changed) == AVAHI_ERR_DISCONNECTED) {
            // The daemon went away: a new client waits for it to come back.
            forgetClient();
            connect();
        }
        break;
    }
}

void AvahiDiscovery::publish() {
    if (client == nullptr || avahi_client_get_state(client) != AVAHI_CLIENT_S_RUNNING)
        return;
    if (!published) {
        // Freeing the group withdraws its service with a goodbye.
        if (group != nullptr)
            avahi_entry_group_free(group);
        group = nullptr;
        groupHolds = false;
        return;
    }
    AvahiStringList* txt = TxtList(*published);
    if (group != nullptr && groupHolds) {
        avahi_entry_group_update_service_txt_strlst(
            group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0),
            publishedName.c_str(), SERVICE_TYPE, nullptr, txt);
        avahi_string_list_free(txt);
        return;
    }
    if (group == nullptr) {
        group = avahi_entry_group_new(
            client,
            [](AvahiEntryGroup* changed, AvahiEntryGroupState state, void* self) {
                static_cast<AvahiDiscovery*>(self)->onGroupState(changed, state);
            },
            this);
    } else {
        avahi_entry_group_reset(group);
    }
    for (int attempt = 0; group != nullptr && attempt < COLLISION_LIMIT; ++attempt) {
        const int error = avahi_entry_group_add_service_strlst(
            group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0),
            publishedName.c_str(), SERVICE_TYPE, nullptr, nullptr, published->wirePort, txt);
        if (error == AVAHI_ERR_COLLISION) {
            // A service of that name exists on this machine already.
            char* alternative = avahi_alternative_service_name(publishedName.c_str());
            publishedName = alternative;
            avahi_free(alternative);
            continue;
        }
        if (error == AVAHI_OK && avahi_entry_group_commit(group) == AVAHI_OK)
            groupHolds = true;
        break;
    }
    avahi_string_list_free(txt);
}

void AvahiDiscovery::onGroupState(AvahiEntryGroup* changed, AvahiEntryGroupState state) {
    group = changed; // the first call comes from inside avahi_entry_group_new
    if (state == AVAHI_ENTRY_GROUP_COLLISION && published) {
        // Another machine announces a room of that name: take the next alternative (" #2").
        char* alternative = avahi_alternative_service_name(publishedName.c_str());
        publishedName = alternative;
        avahi_free(alternative);
        groupHolds = false;
        publish();
    }
}

std::unique_ptr<Discovery> CreateDiscovery(RoomList& found) {
    return std::make_unique<AvahiDiscovery>(found);
}
