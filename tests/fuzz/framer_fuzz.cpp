// Fuzz target, structure-aware: one valid conversation, cut into reads wherever the input says,
// must reach the handler through MessageFramer message-whole and in order.
//
// The input first picks the receiving end and the conversation (keywords from a fixed set, names
// and texts of input-chosen lengths and bytes, extra newlines between messages), then the size
// of every read. The framer is told the truth about whether more bytes follow, as a socket with
// the rest of the stream already waiting would. The messages handed over must equal those of the
// whole stream parsed at once, and every block must be terminated and within the buffer.
#include "chat/block_parser.h"
#include "chat/message_framer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

struct Parsed {
    MessageKind kind;
    int64_t id;
    std::string field;
    bool operator==(const Parsed&) const = default;
};

void ParseInto(const char* bytes, size_t count, Receiver receiver, std::vector<Parsed>& out) {
    BlockParser parser(bytes, count, receiver);
    Message message;
    while (parser.next(message))
        out.push_back({message.kind, message.id, std::string(message.field)});
}

// A field of 1..limit bytes with neither newline nor NUL.
std::string Field(FuzzedDataProvider& input, size_t limit) {
    std::string field = input.ConsumeRandomLengthString(limit);
    for (char& c : field)
        if (c == '\n' || c == '\0')
            c = '_';
    if (field.empty())
        field = "x";
    return field;
}

// One message of at most MessageFramer::BUFFER_SIZE - 1 bytes, so that it can always arrive
// whole; a longer one is handed over in pieces by design.
std::string NextMessage(FuzzedDataProvider& input, Receiver receiver) {
    const int kind = input.ConsumeIntegralInRange(0, 2);
    std::string message = kind == 0 ? "login\n" : kind == 1 ? "msg\n" : "logoff\n";
    if (receiver == Receiver::Client)
        message += std::to_string(input.ConsumeIntegralInRange(-1, 31)) + "\n";
    if (kind != 2) {
        const size_t room = MessageFramer::BUFFER_SIZE - 1 - message.size() - 1;
        message += Field(input, std::min<size_t>(room, input.ConsumeBool() ? 16 : 1100)) + "\n";
    }
    return message;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const Receiver receiver = input.ConsumeBool() ? Receiver::Client : Receiver::Host;
    std::string stream;
    const int messages = input.ConsumeIntegralInRange(1, 24);
    for (int i = 0; i < messages; ++i) {
        stream += std::string(input.ConsumeIntegralInRange(0, 2) == 0 ? 1 : 0, '\n');
        stream += NextMessage(input, receiver);
    }
    std::vector<Parsed> expected;
    ParseInto(stream.data(), stream.size(), receiver, expected);

    std::vector<Parsed> got;
    MessageFramer framer(receiver);
    auto deliver = [&](char* bytes, int32_t count) {
        Check(count > 0 && uint32_t(count) < MessageFramer::BUFFER_SIZE && bytes[count] == '\0');
        ParseInto(bytes, size_t(count), receiver, got);
    };
    size_t from = 0;
    while (from < stream.size()) {
        const uint32_t space = framer.spaceSize();
        Check(space > 0);
        const uint32_t left = uint32_t(std::min<size_t>(space, stream.size() - from));
        const uint32_t n =
            input.remaining_bytes() > 0 ? input.ConsumeIntegralInRange(1u, left) : left;
        std::copy_n(stream.data() + from, n, framer.space());
        from += n;
        framer.received(n, deliver, [&](int) { return from < stream.size(); });
    }
    framer.flush(deliver);
    Check(got == expected);
    return 0;
}
