// The chat line that offers a file to the room. It reads as an ordinary sentence to anyone, and
// carries what a Parlox peer needs to fetch the file and check it, at its end:
//
//   Offering a file: report.pdf (12.6 MB). [Parlox file 3f2a...(32 hex), 12582912 bytes, SHA-256
//   9f86...(64 hex)]
//
// The human size is the byte count written the one way HumanSize writes it, so a line whose two
// sizes disagree is no offer. The name comes between the fixed start and the sizes, so any name
// (brackets, "[Parlox file" itself) parses the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct FileOffer {
    std::string id;     // the host's id for the offer (RandomId)
    uint64_t size = 0;  // bytes
    std::string sha256; // of the whole file, 64 lowercase hex digits
    std::string name;   // as the line shows it (ShownFileName)
};

// The largest file that can be offered: 1 PiB, far beyond any disk, so that sizes stay exact in
// every computation.
inline constexpr uint64_t MAX_FILE_SIZE = uint64_t{1} << 50;

// "0 bytes", "1 byte", "999 bytes", "12.6 KB", "12.0 MB", "1.1 GB", "2.0 TB" (decimal units, one
// decimal).
std::string HumanSize(uint64_t bytes);
// The chat text for an offer: valid UTF-8 without control characters, at most MAX_LINE_TEXT
// bytes; a name too long for it is cut between characters and ends in "…".
std::string OfferLineText(const FileOffer& offer);
// The offer a chat text makes, if it is exactly such a line.
std::optional<FileOffer> ParseOfferLine(std::string_view text);
