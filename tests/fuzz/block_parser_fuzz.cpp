// Fuzz target: BlockParser and FindBlockTail on arbitrary blocks, for both receiving ends.
//
// Besides memory safety it checks what the receive loops rely on: every message lies inside the
// block's text, no field holds a newline or a NUL, and the tail FindBlockTail reports starts at a
// token that the parser did not hand out as part of a whole message.
#include "wire/block_parser.h"
#include "wire/protocol.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void ParseAs(const std::string& block, Receiver receiver) {
    const size_t length = std::strlen(block.c_str()); // the text ends at the first NUL
    const char* begin = block.data();
    BlockParser parser(begin, block.size(), receiver);
    Message message;
    const char* lastEnd = begin; // end of the last message's field
    while (parser.next(message)) {
        const char* field = message.field.data();
        if (message.kind == MessageKind::Logoff) {
            Check(message.field.empty());
        } else {
            Check(!message.field.empty());
            Check(field >= lastEnd && field + message.field.size() <= begin + length);
            Check(message.field.find('\n') == std::string_view::npos);
            Check(message.field.find('\0') == std::string_view::npos);
            lastEnd = field + message.field.size();
        }
        if (receiver == Receiver::Host)
            Check(message.id == 0);
    }
    Check(!parser.next(message)); // an exhausted parser stays exhausted

    const BlockTail tail = FindBlockTail(begin, block.size(), receiver);
    if (tail.kind == TailKind::None)
        return;
    Check(length == block.size()); // a NUL leaves nothing to carry
    Check(tail.start < length && begin[tail.start] != '\n');
    Check(tail.start == 0 || begin[tail.start - 1] == '\n');
    // The carried bytes start after every message handed out whole, except that an
    // unterminated last field is handed out as it stands and carried as well.
    if (tail.kind != TailKind::UnterminatedField)
        Check(begin + tail.start >= lastEnd);
    // Parsing the part before the tail yields only whole messages: no tail of its own.
    const std::string before = block.substr(0, tail.start);
    Check(FindBlockTail(before.data(), before.size(), receiver).kind == TailKind::None);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string block(reinterpret_cast<const char*>(data), size);
    ParseAs(block, Receiver::Client);
    ParseAs(block, Receiver::Host);
    return 0;
}
