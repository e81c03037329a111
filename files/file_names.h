// Names of offered files: how an offered name shows in the room, the name a received file is
// suggested to be saved under, and the temporary name it is written under first.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The longest name suggested for saving, in bytes: within every file system's limit, with room for
// the temporary name's additions.
inline constexpr size_t SAFE_NAME_LIMIT = 200;

// The name as one line of valid UTF-8, as the room shows it: line breaks, control characters
// (TAB becomes a space), bidirectional controls and marks and bytes that are no UTF-8 become
// visible marks (see ShownText). Never empty: "file" stands for an empty name.
std::string ShownFileName(std::string_view offered);
// A name that is safe to save under on Linux and Windows alike, whatever was offered: no folder
// separators or other characters Windows refuses (so no "..", no drive letter, no stream), no
// marks for hidden characters, no leading or trailing dots or spaces, not a Windows device name
// (CON, NUL, COM1...), at most SAFE_NAME_LIMIT bytes with a short extension kept. Never empty.
std::string SafeFileName(std::string_view offered);
// The last part of a path, and its folder part with the final separator (empty for a bare name).
std::string FileNameOf(const std::string& path);
std::string FolderOf(const std::string& path);
// Where a download to target is written until it is checked: a hidden name beside target that no
// other download picks, made from a fresh random id.
std::string PartFileName(const std::string& target);
