// BlockParser: splits one received block into protocol messages, without writing into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Which end receives: messages to a client carry an id before their other field; messages to the
// host carry none (the sender is the slot).
enum class Receiver { Client, Host };

enum class MessageKind { Login, Msg, Logoff };

struct Message {
    MessageKind kind = MessageKind::Msg;
    int64_t id = 0;         // read like atoi; only on Receiver::Client
    std::string_view field; // the name (login) or text (msg); empty for logoff
};

// Where an incomplete message at the end of a block begins, so that a receive loop can carry those
// bytes into the next read instead of losing them.
enum class TailKind {
    None,              // the block ends on a newline, or on a whole message without fields
                       // ("logoff" to the host), or holds a NUL
    MissingFields,     // a keyword whose fields run past the end of the block
    UnterminatedField, // a whole message whose last field has no newline after it (it may go on)
    UnterminatedToken, // a token in keyword position with no newline after it (may be a cut
                       // keyword)
};

struct BlockTail {
    TailKind kind = TailKind::None;
    size_t start = 0; // offset of the tail's first byte (the keyword or the lone token)
};

class BlockParser {
public:
    // The block's text is bytes[0, count) up to the first NUL.
    BlockParser(const char* bytes, size_t count, Receiver receiver);

    // The next complete message; false when the tokens run out or an incomplete message ends the
    // block. A whole message whose last field has no newline after it is returned as it stands.
    bool next(Message& message);

private:
    bool nextToken(std::string_view& token, size_t& start);

    const char* bytes;
    size_t length;
    size_t position = 0;
    Receiver receiver;
};

// Scans a block as BlockParser does and reports its incomplete tail.
BlockTail FindBlockTail(const char* bytes, size_t count, Receiver receiver);

// Whether bytes[0, count) open with a keyword and its newline ("msg\n", "login\n", "logoff\n"):
// Yes, No, or Undecided while they are the start of such a line and more may follow.
enum class KeywordLine { No, Undecided, Yes };
KeywordLine OpensWithKeywordLine(const char* bytes, size_t count);
// Whether a token cut at the end of a read may still grow into a keyword: it is one, or the start
// of one.
bool MayBecomeKeyword(const char* token, size_t length);
