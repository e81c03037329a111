// OfferBoard: the own offers by tag and id, the seen ones by id, size and digest.
#include "files/offer_board.h"

#include <algorithm>

uint64_t OfferBoard::addOwn(const std::string& path, const std::string& name) {
    if (own.size() >= MAX_OWN)
        return 0;
    own.push_back({nextTag, path, FileOffer{{}, 0, {}, name}, nextSequence++});
    return nextTag++;
}

OfferBoard::Own* OfferBoard::ownByTag(uint64_t tag) {
    const auto found =
        std::find_if(own.begin(), own.end(), [&](const Own& o) { return o.tag == tag; });
    return found == own.end() ? nullptr : &*found;
}

const OfferBoard::Own* OfferBoard::ownById(const std::string& offerId) const {
    const auto found = std::find_if(own.begin(), own.end(), [&](const Own& o) {
        return !offerId.empty() && o.offer.id == offerId;
    });
    return found == own.end() ? nullptr : &*found;
}

std::string OfferBoard::dropOwn(uint64_t tag) {
    const Own* entry = ownByTag(tag);
    if (entry == nullptr)
        return {};
    std::string name = entry->offer.name;
    std::erase_if(own, [&](const Own& o) { return o.tag == tag; });
    return name;
}

bool OfferBoard::dropOwn(const std::string& offerId) {
    return ownById(offerId) != nullptr &&
           std::erase_if(own, [&](const Own& o) { return o.offer.id == offerId; }) > 0;
}

bool OfferBoard::addSeen(FileOffer offer, std::string from) {
    if (std::any_of(own.begin(), own.end(), [&](const Own& o) { return o.offer.id == offer.id; }) ||
        std::any_of(seen.begin(), seen.end(), [&](const Seen& s) {
            return s.offer.id == offer.id && s.offer.size == offer.size &&
                   s.offer.sha256 == offer.sha256;
        }))
        return false;
    // One being saved keeps its download all the same.
    if (seen.size() >= MAX_LISTED)
        seen.erase(seen.begin());
    seen.push_back({std::move(offer), std::move(from), false, nextSequence++});
    return true;
}

void OfferBoard::answered(const std::string& offerId, std::string_view described, bool live) {
    const auto asked = [&](const Seen& s) {
        return s.offer.id == offerId &&
               described == std::to_string(s.offer.size) + " " + s.offer.sha256;
    };
    if (!live)
        std::erase_if(seen, asked);
    for (Seen& s : seen)
        if (asked(s))
            s.live = true;
}

void OfferBoard::gone(const std::string& offerId) {
    std::erase_if(seen, [&](const Seen& s) { return s.offer.id == offerId; });
    std::erase_if(own, [&](const Own& o) { return !offerId.empty() && o.offer.id == offerId; });
}

const FileOffer* OfferBoard::listed(const std::string& offerId) const {
    const auto found = std::find_if(seen.begin(), seen.end(),
                                    [&](const Seen& s) { return s.live && s.offer.id == offerId; });
    return found == seen.end() ? nullptr : &found->offer;
}

std::vector<OfferView> OfferBoard::views(
    const std::function<std::optional<uint64_t>(const std::string&)>& received) const {
    std::vector<std::pair<uint64_t, OfferView>> views;
    for (const Own& o : own) {
        const auto state =
            o.offer.id.empty() ? OfferView::State::Preparing : OfferView::State::Offered;
        views.push_back({o.sequence, {o.offer.id, o.offer.name, o.offer.size, {}, state, 0}});
    }
    for (const Seen& s : seen) {
        if (!s.live)
            continue;
        const std::optional<uint64_t> saving = received(s.offer.id);
        views.push_back({s.sequence,
                         {s.offer.id, s.offer.name, s.offer.size, s.from,
                          saving ? OfferView::State::Saving : OfferView::State::Available,
                          saving.value_or(0)}});
    }
    std::sort(views.begin(), views.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<OfferView> newestFirst;
    for (auto& view : views)
        newestFirst.push_back(std::move(view.second));
    return newestFirst;
}

void OfferBoard::clear() {
    own.clear();
    seen.clear();
}
