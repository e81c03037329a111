// Mention matching: a case-blind search that accepts only hits standing as whole words.
#include "features/mention.h"

namespace {

bool IsWordByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
           (byte >= '0' && byte <= '9') || byte == '_' || byte >= 0x80;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameAt(std::string_view text, size_t at, std::string_view name) {
    for (size_t i = 0; i < name.size(); ++i) {
        if (Lower(text[at + i]) != Lower(name[i]))
            return false;
    }
    return true;
}

} // namespace

bool MentionsName(std::string_view text, std::string_view name) {
    if (name.empty() || name.size() > text.size())
        return false;
    // A name that starts or ends with punctuation ("<name>") needs no boundary on that side.
    const bool wordStart = IsWordByte(name.front());
    const bool wordEnd = IsWordByte(name.back());
    for (size_t at = 0; at + name.size() <= text.size(); ++at) {
        if (!SameAt(text, at, name))
            continue;
        const size_t after = at + name.size();
        const bool startOk = !wordStart || at == 0 || !IsWordByte(text[at - 1]);
        const bool endOk = !wordEnd || after == text.size() || !IsWordByte(text[after]);
        if (startOk && endOk)
            return true;
    }
    return false;
}
