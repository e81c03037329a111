// The Files menu's items: one per offer, with what choosing it does.
#include "commands/file_menu_items.h"

#include "commands/room_files.h"
#include "files/file_names.h"
#include "files/offer_line.h"
#include "text/utf8.h"

#include <algorithm>

namespace {

constexpr char DASH[] = " \u2014 ";
// Longer names are cut, so that one long name does not make the menu as wide as the screen.
constexpr size_t SHOWN_NAME_LIMIT = 80;

FileMenuItem ItemFor(OfferView offer) {
    const std::string suggested = SafeFileName(offer.name);
    if (offer.name.size() > SHOWN_NAME_LIMIT)
        offer.name = std::string(CutToCharBoundary(offer.name, SHOWN_NAME_LIMIT)) + "\u2026";
    const std::string size = HumanSize(offer.size);
    switch (offer.state) {
    case OfferView::State::Preparing:
        return {
            offer.name + DASH + "reading it to offer it\u2026", FileMenuItem::Action::None, {}, {}};
    case OfferView::State::Offered:
        return {offer.name + DASH + size + ", from you (choose to withdraw)",
                FileMenuItem::Action::Withdraw,
                offer.offerId,
                {}};
    case OfferView::State::Saving: {
        const uint64_t percent = offer.size == 0 ? 100 : offer.received * 100 / offer.size;
        return {offer.name + DASH + "saving, " + std::to_string(percent) + "% of " + size +
                    " (choose to cancel)",
                FileMenuItem::Action::Cancel,
                offer.offerId,
                {}};
    }
    case OfferView::State::Available:
        break;
    }
    return {offer.name + DASH + size + ", from " + offer.from, FileMenuItem::Action::Save,
            offer.offerId, suggested};
}

} // namespace

std::vector<FileMenuItem> FileMenuItems(const std::vector<OfferView>& offers) {
    if (offers.empty())
        return {{NO_FILES, FileMenuItem::Action::None, {}, {}}};
    std::vector<FileMenuItem> items;
    const size_t shown = std::min(offers.size(), FILE_MENU_LIMIT);
    for (size_t i = 0; i < shown; ++i)
        items.push_back(ItemFor(offers[i]));
    if (offers.size() > shown)
        items.push_back({"\u2026 and " + std::to_string(offers.size() - shown) + " more",
                         FileMenuItem::Action::None,
                         {},
                         {}});
    return items;
}

void ChooseFileMenuItem(const FileMenuItem& item,
                        const std::function<std::string(const std::string& name)>& chooseTarget) {
    switch (item.action) {
    case FileMenuItem::Action::Save: {
        const std::string target = chooseTarget(item.suggestedName);
        if (!target.empty())
            SaveRoomFile(item.offerId, target);
        break;
    }
    case FileMenuItem::Action::Cancel:
        CancelRoomFile(item.offerId);
        break;
    case FileMenuItem::Action::Withdraw:
        WithdrawRoomFile(item.offerId);
        break;
    case FileMenuItem::Action::None:
        break;
    }
}
