// Fuzz target, structure-aware: conversations cut into reads wherever the input says must reach
// the handler through MessageFramer as their senders meant them.
//
// The input first picks the receiving end and the kind of peer, then the conversation (keywords
// from a fixed set, names and texts of input-chosen lengths and bytes, extra newlines between
// messages), then the size of every read. Every block must be terminated and within the buffer.
// - A peer of ours ends every message with a newline and never sends an empty field. The whole
//   stream is already waiting, reads cut it anywhere, and the messages handed over must equal
//   those of the whole stream parsed at once, except that the host keeps no more of a message
//   than its buffer holds; a login or line that the connection's end cuts short, however long,
//   never reaches the host's handler.
// - A peer that writes the bare protocol ends relayed lines without a newline and sends empty
//   fields for an empty name or line. Each message is a send of its own that arrives in reads of
//   its own (later sends come within the grace); each message must be handed over as that send
//   parsed alone: relays never run together and an empty field never swallows the next message.
#include "wire/block_parser.h"
#include "wire/message_framer.h"

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

// One message. To a client at most MessageFramer::BUFFER_SIZE - 1 bytes, so that it can always
// arrive whole (a longer one is handed over in pieces by design); to the host now and then one
// that runs past the buffer.
std::string NextMessage(FuzzedDataProvider& input, Receiver receiver) {
    const int kind = input.ConsumeIntegralInRange(0, 2);
    std::string message = kind == 0 ? "login\n" : kind == 1 ? "msg\n" : "logoff\n";
    if (receiver == Receiver::Client)
        message += std::to_string(input.ConsumeIntegralInRange(-1, 31)) + "\n";
    if (kind != 2) {
        const size_t room = MessageFramer::BUFFER_SIZE - 1 - message.size() - 1;
        size_t limit = std::min<size_t>(room, input.ConsumeBool() ? 16 : 1100);
        if (receiver == Receiver::Host && input.ConsumeIntegralInRange(0, 7) == 0)
            limit = 3 * MessageFramer::BUFFER_SIZE;
        message += Field(input, limit) + "\n";
    }
    return message;
}

// What the host hands over of a message: the buffer's worth before its newline.
std::string KeptByTheHost(const std::string& message) {
    const size_t kept = MessageFramer::BUFFER_SIZE - 1;
    return message.size() - 1 <= kept ? message : message.substr(0, kept) + "\n";
}

// One message as a peer that writes the bare protocol sends it: relays to a client without a
// final newline, and an empty name, line or host line as an empty field.
std::string NextBareMessage(FuzzedDataProvider& input, Receiver receiver) {
    const int kind = input.ConsumeIntegralInRange(0, 2);
    std::string message = kind == 0 ? "login\n" : kind == 1 ? "msg\n" : "logoff\n";
    const int id = input.ConsumeIntegralInRange(-1, 31);
    if (receiver == Receiver::Client)
        message += std::to_string(id) + "\n";
    if (kind == 2)
        return message;
    // A relay always has a text: the host relays only lines that had one.
    const bool relay = receiver == Receiver::Client && kind == 1 && id != -1;
    if (!relay && input.ConsumeIntegralInRange(0, 3) == 0)
        return message + "\n"; // an empty field
    const size_t room = MessageFramer::BUFFER_SIZE - 1 - message.size() - 1;
    message += Field(input, std::min<size_t>(room, input.ConsumeBool() ? 16 : 1100));
    return relay ? message : message + "\n";
}

// A framer fed in reads whose sizes the input picks, collecting the messages it hands over.
struct FramedReader {
    explicit FramedReader(Receiver side) : receiver(side), framer(side) {}

    // Cuts bytes into reads. laterBytes: whether more bytes come after these, within the grace.
    void feed(FuzzedDataProvider& input, const std::string& bytes, bool laterBytes) {
        auto deliver = [this](char* block, int32_t count) {
            take(block, count);
        };
        size_t from = 0;
        while (from < bytes.size()) {
            const uint32_t left =
                uint32_t(std::min<size_t>(framer.spaceSize(), bytes.size() - from));
            Check(left > 0);
            const uint32_t n =
                input.remaining_bytes() > 0 ? input.ConsumeIntegralInRange(1u, left) : left;
            std::copy_n(bytes.data() + from, n, framer.space());
            from += n;
            framer.received(n, deliver,
                            [&](int ms) { return from < bytes.size() || (ms > 0 && laterBytes); });
        }
    }
    void end() {
        framer.flush([this](char* block, int32_t count) { take(block, count); });
    }
    void take(char* block, int32_t count) {
        Check(count > 0 && uint32_t(count) < MessageFramer::BUFFER_SIZE && block[count] == '\0');
        ParseInto(block, size_t(count), receiver, got);
    }

    Receiver receiver;
    MessageFramer framer;
    std::vector<Parsed> got;
};

// Each send in reads of its own; the framer hears that the rest of a send is waiting and that a
// later send comes within the grace.
void CheckBareSends(FuzzedDataProvider& input, Receiver receiver) {
    std::vector<std::string> sends;
    const int messages = input.ConsumeIntegralInRange(1, 24);
    for (int i = 0; i < messages; ++i)
        sends.push_back(NextBareMessage(input, receiver));
    std::vector<Parsed> expected;
    for (const std::string& send : sends)
        ParseInto(send.data(), send.size(), receiver, expected);

    FramedReader reader(receiver);
    for (size_t i = 0; i < sends.size(); ++i)
        reader.feed(input, sends[i], i + 1 < sends.size());
    reader.end();
    Check(reader.got == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const Receiver receiver = input.ConsumeBool() ? Receiver::Client : Receiver::Host;
    if (input.ConsumeBool()) {
        CheckBareSends(input, receiver);
        return 0;
    }
    std::string stream, kept;
    const int messages = input.ConsumeIntegralInRange(1, 24);
    for (int i = 0; i < messages; ++i) {
        const std::string newlines(input.ConsumeIntegralInRange(0, 2) == 0 ? 1 : 0, '\n');
        const std::string message = NextMessage(input, receiver);
        stream += newlines + message;
        kept += newlines + KeptByTheHost(message);
    }
    std::vector<Parsed> expected;
    ParseInto(kept.data(), kept.size(), receiver, expected);
    // The host drops a login or line that the connection's end cuts before its newline.
    if (receiver == Receiver::Host && input.ConsumeBool()) {
        const std::string cut = NextMessage(input, receiver);
        if (cut.rfind("logoff", 0) != 0)
            stream += cut.substr(0, input.ConsumeIntegralInRange<size_t>(1, cut.size() - 1));
    }

    // The whole stream is already waiting: every cut is a cut of bytes that follow at once.
    FramedReader reader(receiver);
    reader.feed(input, stream, false);
    reader.end();
    Check(reader.got == expected);
    return 0;
}
