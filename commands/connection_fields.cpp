// Reading the connection fields the way a dialog reads an unsigned number from an edit control.
#include "commands/connection_fields.h"

#include "chat/program_state.h"
#include "wire/formatting.h"

#include <string>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

uint16_t ReadPortField(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    const size_t digitsStart = i;
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        // Past 32 bits the number does not convert; stopping here also keeps value from overflowing
        // on a long run of digits.
        if (value > UINT32_MAX) {
            return 0;
        }
    }
    if (i == digitsStart) {
        return 0;
    }
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    if (i != text.size()) {
        return 0;
    }
    return static_cast<uint16_t>(value & 0xFFFF);
}

void ReadConnectionFields(const FieldTexts& fields) {
    ChatLock.assertHeld("ReadConnectionFields");
    LocalName = std::string(CutToCharBoundary(fields.name, FIELD_LIMIT));
    TargetAddress = std::string(CutToCharBoundary(fields.address, FIELD_LIMIT));
    PortNumber = ReadPortField(fields.port);
}
