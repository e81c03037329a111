// IrcLineBuffer: the bytes an IRC connection received, handed out as whole lines.
#pragma once

#include <cstddef>
#include <string>

class IrcLineBuffer {
public:
    // Servers keep lines within 512 bytes, message tags within 8191 more. A line longer than this
    // is dropped whole rather than kept growing.
    static constexpr size_t LINE_LIMIT = 8192 + 512;

    void append(const char* bytes, size_t count) { pending.append(bytes, count); }
    // The next whole line without its CR LF (a bare LF ends a line too); false when none is
    // complete yet.
    bool next(std::string& line);
    // Forgets everything (a new connection).
    void clear() {
        pending.clear();
        skipping = false;
    }

private:
    std::string pending;
    bool skipping = false; // the rest of an overlong line is being dropped
};
