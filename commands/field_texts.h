// FieldTexts: the texts of the window's connection fields, as every command that reads them takes
// them.
#pragma once

#include <string>

// The texts of the Name, IP and Port fields as the window holds them (UTF-8).
struct FieldTexts {
    std::string name;
    std::string address;
    std::string port;
};
