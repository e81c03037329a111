// Writing and reading the line that offers a file.
#include "files/offer_line.h"

#include "files/file_names.h"
#include "files/random_id.h"
#include "files/service_protocol.h"
#include "files/sha256.h"
#include "text/utf8.h"
#include "wire/protocol.h"

#include <cstdio>

namespace {

constexpr std::string_view START = "Offering a file: ";
constexpr std::string_view DETAIL = "[Parlox file ";
constexpr std::string_view ELLIPSIS = "\xE2\x80\xA6";

// Takes prefix off the front of text; false when text does not start with it.
bool Take(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix))
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

std::string Tail(const FileOffer& offer) {
    return " (" + HumanSize(offer.size) + "). " + std::string(DETAIL) + offer.id + ", " +
           std::to_string(offer.size) + " bytes, SHA-256 " + offer.sha256 + "]";
}

} // namespace

std::string HumanSize(uint64_t bytes) {
    if (bytes < 1000)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr const char* UNITS[] = {"KB", "MB", "GB", "TB", "PB"};
    double value = static_cast<double>(bytes) / 1000;
    size_t unit = 0;
    // 999.95 would show as "1000.0": such values go to the next unit.
    while (value >= 999.95 && unit + 1 < std::size(UNITS)) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, UNITS[unit]);
    return text;
}

std::string OfferLineText(const FileOffer& offer) {
    const std::string tail = Tail(offer);
    const std::string name = ShownFileName(offer.name);
    const size_t room = MAX_LINE_TEXT - START.size() - tail.size();
    if (name.size() <= room)
        return std::string(START) + name + tail;
    return std::string(START) + std::string(CutToCharBoundary(name, room - ELLIPSIS.size())) +
           std::string(ELLIPSIS) + tail;
}

std::optional<FileOffer> ParseOfferLine(std::string_view text) {
    // Cheap refusals first: every chat line of the room comes through here.
    if (text.size() > MAX_LINE_TEXT || !text.ends_with(']'))
        return std::nullopt;
    if (!Take(text, START))
        return std::nullopt;
    const size_t detail = text.rfind(DETAIL);
    if (detail == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = text.substr(detail + DETAIL.size());
    FileOffer offer;
    offer.id = std::string(rest.substr(0, RANDOM_ID_DIGITS));
    if (!IsRandomId(offer.id))
        return std::nullopt;
    rest.remove_prefix(RANDOM_ID_DIGITS);
    if (!Take(rest, ", "))
        return std::nullopt;
    const size_t space = rest.find(' ');
    uint64_t size = 0;
    if (space == std::string_view::npos || !ReadFileSize(rest.substr(0, space), size))
        return std::nullopt;
    rest.remove_prefix(space);
    if (!Take(rest, " bytes, SHA-256 ") || rest.size() != 65 || rest.back() != ']')
        return std::nullopt;
    offer.sha256 = std::string(rest.substr(0, 64));
    offer.size = size;
    if (!IsSha256Hex(offer.sha256))
        return std::nullopt;
    const std::string tail = Tail(offer);
    if (!text.ends_with(tail) || text.size() == tail.size())
        return std::nullopt;
    offer.name = std::string(text.substr(0, text.size() - tail.size()));
    // A name that the offerer's own Parlox would have written differently is no offer's.
    if (ShownFileName(offer.name) != offer.name)
        return std::nullopt;
    return offer;
}
