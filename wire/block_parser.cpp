// Splitting a received block into messages: tokens are the runs of bytes between newlines, a
// token in keyword position that is no keyword is skipped, and an incomplete message ends the
// block. FindBlockTail reports that incomplete end so that a receive loop can carry it over.
#include "wire/block_parser.h"

#include "wire/protocol.h"

#include <algorithm>
#include <cstring>

namespace {

// The text of a block ends at its first NUL; nothing at or after count is looked at.
size_t TextLength(const char* bytes, size_t count) {
    const void* nul = std::memchr(bytes, '\0', count);
    return nul ? static_cast<size_t>(static_cast<const char*>(nul) - bytes) : count;
}

// The next maximal run of non-newline bytes at or after position; position ends up on the
// newline after it, or at length when none follows.
bool NextToken(const char* bytes, size_t length, size_t& position, std::string_view& token,
               size_t& start) {
    while (position < length && bytes[position] == '\n')
        ++position;
    if (position >= length)
        return false;
    start = position;
    const void* newline = std::memchr(bytes + start, '\n', length - start);
    position = newline ? static_cast<size_t>(static_cast<const char*>(newline) - bytes) : length;
    token = std::string_view(bytes + start, position - start);
    return true;
}

// Whole, case-sensitive comparison: "login " or "Login" is no keyword.
bool ParseKeyword(std::string_view token, MessageKind& kind) {
    if (token == "logoff")
        kind = MessageKind::Logoff;
    else if (token == "login")
        kind = MessageKind::Login;
    else if (token == "msg")
        kind = MessageKind::Msg;
    else
        return false;
    return true;
}

// Messages to a client carry the participant id first; the host knows the sender by its slot.
int FieldCount(MessageKind kind, Receiver receiver) {
    const int id = receiver == Receiver::Client ? 1 : 0;
    return kind == MessageKind::Logoff ? id : id + 1;
}

constexpr std::string_view KEYWORDS[] = {"login", "logoff", "msg"};

} // namespace

BlockParser::BlockParser(const char* block, size_t count, Receiver side)
    : bytes(block), length(TextLength(block, count)), receiver(side) {}

bool BlockParser::nextToken(std::string_view& token, size_t& start) {
    return NextToken(bytes, length, position, token, start);
}

bool BlockParser::next(Message& message) {
    std::string_view token;
    size_t start = 0;
    while (nextToken(token, start)) {
        MessageKind kind = MessageKind::Msg;
        if (!ParseKeyword(token, kind))
            continue;
        const int count = FieldCount(kind, receiver);
        std::string_view fields[2];
        for (int i = 0; i < count; ++i) {
            if (!nextToken(fields[i], start)) {
                position = length; // an incomplete message ends the block
                return false;
            }
        }
        int used = 0;
        message.kind = kind;
        message.id = receiver == Receiver::Client ? ReadId(fields[used++]) : 0;
        message.field = kind == MessageKind::Logoff ? std::string_view() : fields[used];
        return true;
    }
    return false;
}

// The tail rules, in the order the scan meets them:
// - A token in keyword position that runs to the end of the text may be the first part of a
//   keyword (or of a longer non-keyword): UnterminatedToken, whether or not it is a keyword yet.
//   The one exception is a keyword without fields ("logoff" to the host): it is a whole message
//   as it stands and is handled now, so the tail is None. Should it have been the start of some
//   longer token, that token would have been skipped anyway.
// - A keyword whose fields are not all there: MissingFields at the keyword, since the message
//   can only be handled once its fields arrive.
// - A whole message whose last field runs to the end: UnterminatedField at the keyword. The
//   parser hands it over as it stands; the receive loop decides whether to wait for more.
// - A NUL before count: None. Everything after it is ignored, so nothing can be carried.
BlockTail FindBlockTail(const char* bytes, size_t count, Receiver receiver) {
    const size_t length = TextLength(bytes, count);
    if (length < count)
        return {};
    size_t position = 0;
    std::string_view token;
    size_t start = 0;
    while (NextToken(bytes, length, position, token, start)) {
        const bool open = position == length; // no newline after the token
        MessageKind kind = MessageKind::Msg;
        const bool keyword = ParseKeyword(token, kind);
        const int fields = keyword ? FieldCount(kind, receiver) : 0;
        if (open)
            return keyword && fields == 0 ? BlockTail{}
                                          : BlockTail{TailKind::UnterminatedToken, start};
        if (!keyword)
            continue;
        const size_t keywordStart = start;
        for (int i = 0; i < fields; ++i) {
            if (!NextToken(bytes, length, position, token, start))
                return {TailKind::MissingFields, keywordStart};
        }
        if (fields > 0 && position == length)
            return {TailKind::UnterminatedField, keywordStart};
    }
    return {};
}

KeywordLine OpensWithKeywordLine(const char* bytes, size_t count) {
    const std::string_view text(bytes, count);
    KeywordLine found = KeywordLine::No;
    for (std::string_view keyword : KEYWORDS) {
        const size_t common = std::min(text.size(), keyword.size());
        if (text.substr(0, common) != keyword.substr(0, common))
            continue;
        if (text.size() <= keyword.size())
            found = KeywordLine::Undecided;
        else if (text[keyword.size()] == '\n')
            return KeywordLine::Yes;
    }
    return found;
}

bool MayBecomeKeyword(const char* token, size_t length) {
    const std::string_view text(token, length);
    for (std::string_view keyword : KEYWORDS) {
        if (keyword.substr(0, text.size()) == text)
            return true;
    }
    return false;
}
