// The Files menu's items below "Send a file…", from the window's file offers, for both front-ends
// to show as they are.
#pragma once

#include "files/file_peer.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct FileMenuItem {
    enum class Action { None, Save, Cancel, Withdraw };
    std::string text; // UTF-8, shown as it is (a front-end escapes its own mnemonic marks)
    Action action = Action::None; // None: a disabled item that only says something
    std::string offerId;
    std::string suggestedName; // Save: the name the save dialog suggests
};

inline constexpr size_t FILE_MENU_LIMIT = 20;
inline constexpr char SEND_A_FILE[] = "Send a file\u2026";
inline constexpr char NO_FILES[] = "No files offered in this room";

// One item per offer, newest first, its name cut to 80 bytes and "…": "report.pdf — 12.0 MB, from
// Ann" (choose to save it), "report.pdf — saving, 45% of 12.0 MB (choose to cancel)", "report.pdf
// — 12.0 MB, from you (choose to withdraw)", "report.pdf — reading it to offer it…" (disabled); at
// most FILE_MENU_LIMIT, then a disabled "… and N more". With no offers, one disabled NO_FILES item.
std::vector<FileMenuItem> FileMenuItems(const std::vector<OfferView>& offers);

// Does what choosing item means: saves the offer where chooseTarget says (the save dialog, given
// the suggested name; empty when cancelled), cancels its saving, or withdraws it.
void ChooseFileMenuItem(const FileMenuItem& item,
                        const std::function<std::string(const std::string& name)>& chooseTarget);
