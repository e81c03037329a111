// OfferBoard: the offers one window knows of: its own, from being read to being registered with
// the host, and those seen in the room's lines, from being checked with the host until they are
// gone. Plain data; FilePeer keeps it under its lock.
#pragma once

#include "files/offer_line.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One entry of the Files menu, newest first.
struct OfferView {
    enum class State { Preparing, Offered, Available, Saving };
    std::string offerId; // empty while Preparing
    std::string name;
    uint64_t size = 0;
    std::string from; // as the room shows the offerer's name; empty for one's own offers
    State state = State::Available;
    uint64_t received = 0; // while Saving
};

class OfferBoard {
public:
    static constexpr size_t MAX_LISTED = 200; // offers of others kept at once (the newest)
    static constexpr size_t MAX_OWN = 100;    // own offers being read or offered at once

    struct Own {
        uint64_t tag;     // how the window's OFFER and the host's answer name it
        std::string path; // UTF-8
        FileOffer offer;  // its id empty until the host registered it
        uint64_t sequence;
    };

    // A file the user offers, under its shown name: its tag, or 0 when MAX_OWN are up already.
    uint64_t addOwn(const std::string& path, const std::string& name);
    // The own entry with that tag, or none.
    Own* ownByTag(uint64_t tag);
    // The registered own offer with that id, or none.
    const Own* ownById(const std::string& offerId) const;
    // Takes an own entry off by tag (its name, or empty when there was none) or by id.
    std::string dropOwn(uint64_t tag);
    bool dropOwn(const std::string& offerId);
    const std::vector<Own>& ownOffers() const { return own; }

    // An offer seen in a room line from `from`: false when the board knows it already (the same
    // offer, or a line that names an own offer's id). Past MAX_LISTED the oldest gives way.
    bool addSeen(FileOffer offer, std::string from);
    // The host's answer about a seen offer, described as asked ("SIZE SHA256"): registered (it
    // is listed from now on) or not (it goes).
    void answered(const std::string& offerId, std::string_view described, bool live);
    // The offer ended, whoever's it was.
    void gone(const std::string& offerId);
    // The listed offer with that id, or none.
    const FileOffer* listed(const std::string& offerId) const;

    // Newest first; received says how much of an offer being saved has arrived, if it is.
    std::vector<OfferView>
    views(const std::function<std::optional<uint64_t>(const std::string&)>& received) const;
    void clear();

private:
    struct Seen {
        FileOffer offer;
        std::string from;
        bool live; // the host confirmed it
        uint64_t sequence;
    };

    std::vector<Own> own;
    std::vector<Seen> seen;
    uint64_t nextTag = 1;
    uint64_t nextSequence = 1;
};
