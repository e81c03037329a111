// A menu item's text as the menus of both toolkits show it.
#pragma once

#include <string>
#include <string_view>

// The text with its own ampersands doubled, so that neither toolkit takes them for mnemonic marks.
std::string MenuEntryText(std::string_view text);
