// The dnsapi backend: one browse for the service type, a resolve per room it reports, and a
// registration for the room announced.
#include "discovery/dnsapi/dnsapi_discovery.h"

#include "discovery/dnsapi/dnsapi_records.h"

#include <vector>

// The functions used, by their system names; null when the system lacks them.
struct DnsApiDiscovery::Api {
    decltype(&::DnsServiceBrowse) DnsServiceBrowse = nullptr;
    decltype(&::DnsServiceBrowseCancel) DnsServiceBrowseCancel = nullptr;
    decltype(&::DnsServiceResolve) DnsServiceResolve = nullptr;
    decltype(&::DnsServiceResolveCancel) DnsServiceResolveCancel = nullptr;
    decltype(&::DnsServiceRegister) DnsServiceRegister = nullptr;
    decltype(&::DnsServiceDeRegister) DnsServiceDeRegister = nullptr;
    decltype(&::DnsServiceConstructInstance) DnsServiceConstructInstance = nullptr;
    decltype(&::DnsServiceFreeInstance) DnsServiceFreeInstance = nullptr;
    decltype(&::DnsFree) DnsFree = nullptr;

    bool complete() const {
        return DnsServiceBrowse && DnsServiceBrowseCancel && DnsServiceResolve &&
               DnsServiceResolveCancel && DnsServiceRegister && DnsServiceDeRegister &&
               DnsServiceConstructInstance && DnsServiceFreeInstance && DnsFree;
    }
};

struct DnsApiDiscovery::Shared {
    explicit Shared(RoomList& rooms) : found(rooms) {}
    RoomList& found;
    Api api;
    // Guards the fields below. Never held while a dnsapi function is called that may call back
    // on this thread.
    std::mutex mutex;
    bool closed = false;
    std::wstring ownName; // the full name our registration got, to leave out of the list
    std::map<std::wstring, DNS_SERVICE_CANCEL> resolving;
    DNS_SERVICE_CANCEL browse{};
    PDNS_SERVICE_INSTANCE registered = nullptr; // owned; freed when deregistered
};

namespace {

// What the DNS-SD functions return for a request they started; mingw-w64's headers lack it.
constexpr DNS_STATUS DNS_REQUEST_PENDING = 9506;

using Shared = DnsApiDiscovery::Shared;

template <class Function> void Load(HMODULE library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

// A request's hold on the shared state, deleted by the request's last completion.
struct Context {
    std::shared_ptr<Shared> shared;
    std::wstring name;
    PDNS_SERVICE_INSTANCE instance = nullptr; // a registration's, freed with the context
    ~Context() {
        if (instance != nullptr)
            shared->api.DnsServiceFreeInstance(instance);
    }
};

VOID WINAPI Resolved(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE instance) {
    std::unique_ptr<Context> request(static_cast<Context*>(context));
    Shared& shared = *request->shared;
    std::optional<FoundRoom> room;
    if (status == ERROR_SUCCESS && instance != nullptr)
        room = RoomFromRecord(RecordFromServiceInstance(*instance));
    if (instance != nullptr)
        shared.api.DnsServiceFreeInstance(instance);
    std::lock_guard<std::mutex> guard(shared.mutex);
    shared.resolving.erase(request->name);
    if (shared.closed || !room || request->name == shared.ownName)
        return;
    shared.found.put(InstanceOfServiceName(request->name), *room);
}

void Resolve(const std::shared_ptr<Shared>& shared, const std::wstring& name) {
    auto* request = new Context{shared, name};
    DNS_SERVICE_RESOLVE_REQUEST resolve{};
    resolve.Version = DNS_QUERY_REQUEST_VERSION1;
    resolve.QueryName = request->name.data();
    resolve.pResolveCompletionCallback = Resolved;
    resolve.pQueryContext = request;
    {
        // Marked before the request starts: its completion may come on another thread at once.
        std::lock_guard<std::mutex> guard(shared->mutex);
        shared->resolving[name] = DNS_SERVICE_CANCEL{};
    }
    DNS_SERVICE_CANCEL cancel{};
    const bool started = shared->api.DnsServiceResolve(&resolve, &cancel) == DNS_REQUEST_PENDING;
    if (!started)
        delete request;
    std::lock_guard<std::mutex> guard(shared->mutex);
    const auto entry = shared->resolving.find(name);
    if (entry == shared->resolving.end())
        return; // already completed
    if (started)
        entry->second = cancel;
    else
        shared->resolving.erase(entry);
}

VOID WINAPI Browsed(DWORD status, PVOID context, PDNS_RECORD records) {
    auto* request = static_cast<Context*>(context);
    const std::shared_ptr<Shared> shared = request->shared;
    if (status == ERROR_CANCELLED) {
        delete request; // the browse's last call
        return;
    }
    std::vector<std::wstring> toResolve;
    {
        std::lock_guard<std::mutex> guard(shared->mutex);
        for (auto* record = reinterpret_cast<PDNS_RECORDW>(records); record != nullptr;
             record = record->pNext) {
            if (shared->closed || record->wType != DNS_TYPE_PTR ||
                record->Data.PTR.pNameHost == nullptr)
                continue;
            const std::wstring name = record->Data.PTR.pNameHost;
            if (record->dwTtl == 0) {
                // A goodbye: the room is gone.
                shared->found.remove(InstanceOfServiceName(name));
            } else if (name != shared->ownName && !shared->resolving.contains(name) &&
                       shared->resolving.size() < RoomList::ROOM_LIMIT) {
                toResolve.push_back(name);
            }
        }
    }
    if (records != nullptr)
        shared->api.DnsFree(records, DnsFreeRecordList);
    for (const std::wstring& name : toResolve)
        Resolve(shared, name);
}

VOID WINAPI Registered(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE instance) {
    std::unique_ptr<Context> request(static_cast<Context*>(context));
    Shared& shared = *request->shared;
    if (status == ERROR_SUCCESS && instance != nullptr && instance->pszInstanceName != nullptr) {
        // The name may have been changed to an alternative (" (2)") to avoid a collision.
        std::lock_guard<std::mutex> guard(shared.mutex);
        shared.ownName = instance->pszInstanceName;
        shared.found.remove(InstanceOfServiceName(shared.ownName));
    }
    if (instance != nullptr)
        shared.api.DnsServiceFreeInstance(instance);
}

VOID WINAPI Deregistered(DWORD, PVOID context, PDNS_SERVICE_INSTANCE instance) {
    std::unique_ptr<Context> request(static_cast<Context*>(context));
    if (instance != nullptr)
        request->shared->api.DnsServiceFreeInstance(instance);
}

std::wstring MachineName() {
    wchar_t name[256];
    DWORD size = 256;
    if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size))
        return L"parlox";
    return std::wstring(name, size);
}

} // namespace

DnsApiDiscovery::DnsApiDiscovery(RoomList& found) : shared(std::make_shared<Shared>(found)) {
    // A system DLL, loaded from the system folder only; never released.
    const HMODULE library = ::LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    Api& api = shared->api;
    if (library != nullptr) {
        Load(library, "DnsServiceBrowse", api.DnsServiceBrowse);
        Load(library, "DnsServiceBrowseCancel", api.DnsServiceBrowseCancel);
        Load(library, "DnsServiceResolve", api.DnsServiceResolve);
        Load(library, "DnsServiceResolveCancel", api.DnsServiceResolveCancel);
        Load(library, "DnsServiceRegister", api.DnsServiceRegister);
        Load(library, "DnsServiceDeRegister", api.DnsServiceDeRegister);
        Load(library, "DnsServiceConstructInstance", api.DnsServiceConstructInstance);
        Load(library, "DnsServiceFreeInstance", api.DnsServiceFreeInstance);
        Load(library, "DnsFree", api.DnsFree);
    }
    if (!api.complete()) {
        api = Api{};
        found.setUnavailable(UNAVAILABLE);
        return;
    }
    static const std::wstring query = L"_parlox._tcp.local";
    auto* request = new Context{shared, query};
    DNS_SERVICE_BROWSE_REQUEST browse{};
    browse.Version = DNS_QUERY_REQUEST_VERSION1;
    browse.QueryName = query.c_str();
    browse.pBrowseCallback = Browsed;
    browse.pQueryContext = request;
    if (api.DnsServiceBrowse(&browse, &shared->browse) != DNS_REQUEST_PENDING) {
        // A system that has the functions but cannot browse (a stand-in that only stubs them).
        delete request;
        api = Api{};
        found.setUnavailable(UNAVAILABLE);
    }
}

DnsApiDiscovery::~DnsApiDiscovery() {
    if (!shared->api.complete())
        return;
    withdraw();
    std::map<std::wstring, DNS_SERVICE_CANCEL> resolving;
    {
        std::lock_guard<std::mutex> guard(shared->mutex);
        shared->closed = true;
        resolving = shared->resolving;
    }
    // Each cancel ends its request with a last completion, which releases the request's context.
    shared->api.DnsServiceBrowseCancel(&shared->browse);
    for (auto& [name, cancel] : resolving)
        shared->api.DnsServiceResolveCancel(&cancel);
}

void DnsApiDiscovery::announce(const Announcement& announcement) {
    if (!shared->api.complete())
        return;
    std::lock_guard<std::mutex> guard(requestMutex);
    deregisterRoom();
    announced = announcement;
    registerRoom();
}

void DnsApiDiscovery::setPeople(int people) {
    std::lock_guard<std::mutex> guard(requestMutex);
    if (!announced || announced->people == people)
        return;
    // A registration's TXT cannot be changed in place: the room is registered again.
    deregisterRoom();
    announced->people = people;
    registerRoom();
}

void DnsApiDiscovery::withdraw() {
    std::lock_guard<std::mutex> guard(requestMutex);
    deregisterRoom();
    announced.reset();
}

void DnsApiDiscovery::registerRoom() {
    const Api& api = shared->api;
    std::vector<std::wstring> keys, values;
    for (const std::string& entry : AnnouncementTxt(*announced)) {
        const size_t equals = entry.find('=');
        keys.emplace_back(entry.begin(), entry.begin() + static_cast<std::ptrdiff_t>(equals));
        values.emplace_back(entry.begin() + static_cast<std::ptrdiff_t>(equals) + 1, entry.end());
    }
    std::vector<PCWSTR> keyTexts, valueTexts;
    for (size_t i = 0; i < keys.size(); ++i) {
        keyTexts.push_back(keys[i].c_str());
        valueTexts.push_back(values[i].c_str());
    }
    const std::wstring name = ServiceNameOfInstance(announced->name);
    const std::wstring host = MachineName() + L".local";
    PDNS_SERVICE_INSTANCE instance = api.DnsServiceConstructInstance(
        name.c_str(), host.c_str(), nullptr, nullptr, announced->wirePort, 0, 0,
        static_cast<DWORD>(keys.size()), keyTexts.data(), valueTexts.data());
    if (instance == nullptr)
        return;
    auto* request = new Context{shared, name};
    DNS_SERVICE_REGISTER_REQUEST registration{};
    registration.Version = DNS_QUERY_REQUEST_VERSION1;
    registration.pServiceInstance = instance;
    registration.pRegisterCompletionCallback = Registered;
    registration.pQueryContext = request;
    if (api.DnsServiceRegister(&registration, nullptr) != DNS_REQUEST_PENDING) {
        delete request;
        api.DnsServiceFreeInstance(instance);
        return;
    }
    std::lock_guard<std::mutex> guard(shared->mutex);
    shared->registered = instance;
    shared->ownName = name;
}

void DnsApiDiscovery::deregisterRoom() {
    PDNS_SERVICE_INSTANCE instance = nullptr;
    {
        std::lock_guard<std::mutex> guard(shared->mutex);
        std::swap(instance, shared->registered);
    }
    if (instance == nullptr)
        return;
    // The deregistration's context frees the instance once the system is done with it.
    auto* request = new Context{shared, L"", instance};
    DNS_SERVICE_REGISTER_REQUEST registration{};
    registration.Version = DNS_QUERY_REQUEST_VERSION1;
    registration.pServiceInstance = instance;
    registration.pRegisterCompletionCallback = Deregistered;
    registration.pQueryContext = request;
    if (shared->api.DnsServiceDeRegister(&registration, nullptr) != DNS_REQUEST_PENDING)
        delete request;
}

std::unique_ptr<Discovery> CreateDiscovery(RoomList& found) {
    return std::make_unique<DnsApiDiscovery>(found);
}
