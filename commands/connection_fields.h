// Reading the Name, IP and Port fields into LocalName, TargetAddress and PortNumber, the step that
// Connect and Host share.
#pragma once

#include "commands/field_texts.h"

#include <cstdint>
#include <string_view>

// The Port text as an unsigned decimal number: blanks (space, tab) may stand before and after the
// digits; anything else, no digits at all or a value above 4294967295 gives 0; a larger port than
// 65535 keeps its low 16 bits (70000 gives 4464).
uint16_t ReadPortField(std::string_view text);

// Sets LocalName and TargetAddress to the Name and IP texts, each cut to FIELD_LIMIT bytes without
// splitting a UTF-8 character, and PortNumber to ReadPortField of the Port text. Nothing else is
// checked: an empty name or address is used as it is. Needs ChatLock.
void ReadConnectionFields(const FieldTexts& fields);
