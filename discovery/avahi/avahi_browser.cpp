// AvahiBrowser: a service browser for the room type and a resolver per service it reports.
#include "discovery/avahi/avahi_browser.h"

#include "discovery/avahi/avahi_records.h"
#include "discovery/discovery.h"

#include <optional>

namespace {

std::string ResolverKey(AvahiIfIndex interface, const char* name) {
    return std::to_string(interface) + "/" + name;
}

} // namespace

AvahiBrowser::AvahiBrowser(RoomList& rooms) : found(rooms) {}

void AvahiBrowser::start(AvahiClient* running) {
    client = running;
    if (browser != nullptr)
        return;
    browser = avahi_service_browser_new(
        client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, SERVICE_TYPE, nullptr,
        static_cast<AvahiLookupFlags>(0),
        [](AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
           AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
           AvahiLookupResultFlags flags, void* self) {
            static_cast<AvahiBrowser*>(self)->onBrowse(interface, protocol, event, name, type,
                                                       domain, flags);
        },
        this);
}

void AvahiBrowser::forget() {
    client = nullptr;
    browser = nullptr;
    resolvers.clear();
    sightings.clear();
}

void AvahiBrowser::onBrowse(AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
                            const char* name, const char* type, const char* domain,
                            AvahiLookupResultFlags flags) {
    if (event == AVAHI_BROWSER_FAILURE) {
        avahi_service_browser_free(browser);
        browser = nullptr;
        return;
    }
    if (event != AVAHI_BROWSER_NEW && event != AVAHI_BROWSER_REMOVE)
        return;
    const std::string key = ResolverKey(interface, name);
    const auto resolver = resolvers.find(key);
    if (event == AVAHI_BROWSER_REMOVE) {
        if (resolver == resolvers.end())
            return;
        avahi_service_resolver_free(resolver->second);
        resolvers.erase(resolver);
        if (--sightings[name] <= 0) {
            sightings.erase(name);
            found.remove(name);
        }
        return;
    }
    // The window's own room is not listed; a flood of services is cut off at the list's limit.
    if ((flags & AVAHI_LOOKUP_RESULT_OUR_OWN) != 0 || resolver != resolvers.end() ||
        resolvers.size() >= RoomList::ROOM_LIMIT)
        return;
    // Kept open, the resolver reports the service again whenever its data change.
    AvahiServiceResolver* made = avahi_service_resolver_new(
        client, interface, protocol, name, type, domain, AVAHI_PROTO_INET,
        static_cast<AvahiLookupFlags>(0),
        [](AvahiServiceResolver* changed, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent what,
           const char* service, const char*, const char*, const char*, const AvahiAddress* address,
           uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags, void* self) {
            static_cast<AvahiBrowser*>(self)->onResolve(changed, what, service, address, port, txt);
        },
        this);
    if (made != nullptr) {
        resolvers.emplace(key, made);
        ++sightings[name];
    }
}

void AvahiBrowser::onResolve(AvahiServiceResolver*, AvahiResolverEvent event, const char* name,
                             const AvahiAddress* address, uint16_t port, AvahiStringList* txt) {
    if (event != AVAHI_RESOLVER_FOUND || name == nullptr)
        return;
    const std::optional<FoundRoom> room = RoomFromRecord(RecordFromAvahi(name, address, port, txt));
    if (room)
        found.put(name, *room);
    else
        found.remove(name);
}
