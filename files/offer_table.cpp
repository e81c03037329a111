// OfferTable: the offers by id, and how many each peer has.
#include "files/offer_table.h"

#include "files/random_id.h"

#include <algorithm>

std::string OfferTable::add(Peer owner, uint64_t size, std::string_view sha256,
                            std::string& refusal) {
    if (offersOf[owner] >= MAX_OFFERS_PER_PEER) {
        refusal = "you already offer " + std::to_string(MAX_OFFERS_PER_PEER) +
                  " files in this room; withdraw one first";
        return {};
    }
    if (offers.size() >= MAX_OFFERS) {
        refusal = "the room already holds " + std::to_string(MAX_OFFERS) + " offers";
        return {};
    }
    const std::string id = RandomId();
    if (id.empty() || offers.count(id) != 0) {
        refusal = "the host has no random source";
        return {};
    }
    offers[id] = Offer{size, std::string(sha256), owner, {}};
    ++offersOf[owner];
    return id;
}

const OfferTable::Offer* OfferTable::find(const std::string& id) const {
    const auto found = offers.find(id);
    return found == offers.end() ? nullptr : &found->second;
}

bool OfferTable::watch(Peer peer, const std::string& id, uint64_t size, std::string_view sha256) {
    const auto found = offers.find(id);
    if (found == offers.end() || found->second.size != size || found->second.sha256 != sha256)
        return false;
    std::vector<Peer>& watchers = found->second.watchers;
    if (peer != found->second.owner &&
        std::find(watchers.begin(), watchers.end(), peer) == watchers.end())
        watchers.push_back(peer);
    return true;
}

std::vector<OfferTable::Peer> OfferTable::remove(const std::string& id) {
    const auto found = offers.find(id);
    if (found == offers.end())
        return {};
    std::vector<Peer> told = {found->second.owner};
    told.insert(told.end(), found->second.watchers.begin(), found->second.watchers.end());
    if (--offersOf[found->second.owner] == 0)
        offersOf.erase(found->second.owner);
    offers.erase(found);
    return told;
}

std::vector<std::string> OfferTable::leave(Peer peer) {
    std::vector<std::string> owned;
    for (auto& [id, offer] : offers) {
        if (offer.owner == peer)
            owned.push_back(id);
        std::erase(offer.watchers, peer);
    }
    return owned;
}
