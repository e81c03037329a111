// AvahiBrowser: the rooms an Avahi client finds, kept in a RoomList: one service browser for the
// room type over IPv4 and, for each service it reports, a resolver kept open so that changes to
// the service's details arrive too.
#pragma once

#include "discovery/room_list.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>

#include <map>
#include <string>

// Used on Avahi's poll thread, or with the poll's lock held, like the client it browses with.
class AvahiBrowser {
public:
    explicit AvahiBrowser(RoomList& found);

    // The client runs: browsing starts, unless it runs already.
    void start(AvahiClient* running);
    // The client was freed, and with it the browser and every resolver.
    void forget();

private:
    void onBrowse(AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
                  const char* name, const char* type, const char* domain,
                  AvahiLookupResultFlags flags);
    void onResolve(AvahiServiceResolver* resolver, AvahiResolverEvent event, const char* name,
                   const AvahiAddress* address, uint16_t port, AvahiStringList* txt);

    RoomList& found;
    AvahiClient* client = nullptr;
    AvahiServiceBrowser* browser = nullptr;
    std::map<std::string, AvahiServiceResolver*> resolvers; // by interface and name
    std::map<std::string, int> sightings;                   // by name: resolvers of that name
};
