// DnsApiDiscovery: announcing and finding rooms through the DNS-SD functions of dnsapi.dll
// (Windows 10 version 1903 and later), looked up at run time so that the program still starts
// where they are missing.
#pragma once

#include "discovery/discovery.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <windns.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// Every dnsapi call here only starts a request and returns; the system calls the completion
// routines on threads of its own. They reach the shared state through a context that each
// request holds until its last call, so that a completion arriving after this object has gone
// finds the state still there, marked closed, and does nothing.
class DnsApiDiscovery final : public Discovery {
public:
    static constexpr char UNAVAILABLE[] = "Finding rooms needs Windows 10 version 1903 or later";

    explicit DnsApiDiscovery(RoomList& found);
    ~DnsApiDiscovery() override;
    DnsApiDiscovery(const DnsApiDiscovery&) = delete;
    DnsApiDiscovery& operator=(const DnsApiDiscovery&) = delete;

    void announce(const Announcement& announcement) override;
    void setPeople(int people) override;
    void withdraw() override;

    struct Api;
    struct Shared;

private:
    void registerRoom();
    void deregisterRoom();

    std::shared_ptr<Shared> shared;
    // Guards announced and orders the registrations: the head count comes from another thread
    // than the rest. No completion takes it.
    std::mutex requestMutex;
    std::optional<Announcement> announced;
};
