// OfferTable: what the room offers, as the host's file service keeps it: each offer's size,
// digest, offerer and the peers that watch it, within the limits per room and per offerer. Plain
// data, used by the service loop alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class OfferTable {
public:
    static constexpr size_t MAX_OFFERS = 1000;         // in the room at once
    static constexpr size_t MAX_OFFERS_PER_PEER = 100; // from one peer at once

    // A peer as the service loop knows it; the table only compares them.
    using Peer = void*;
    struct Offer {
        uint64_t size;
        std::string sha256;
        Peer owner;
        std::vector<Peer> watchers; // besides the owner
    };

    // Registers an offer; its fresh id, or nothing with refusal saying why (the limits, or no
    // random source).
    std::string add(Peer owner, uint64_t size, std::string_view sha256, std::string& refusal);
    // The offer registered under id, or none.
    const Offer* find(const std::string& id) const;
    // Whether id names an offer of that size and digest; peer then watches it.
    bool watch(Peer peer, const std::string& id, uint64_t size, std::string_view sha256);
    // Ends the offer: who must hear of it, its owner first; nobody when there was no such offer.
    std::vector<Peer> remove(const std::string& id);
    // The peer has gone: the ids of its offers (still registered, for the caller to end), and it
    // watches nothing any more.
    std::vector<std::string> leave(Peer peer);
    size_t size() const { return offers.size(); }

private:
    std::map<std::string, Offer> offers;
    std::map<Peer, size_t> offersOf;
};
