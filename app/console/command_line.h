// Reading a console program's options: "--name value" or "--name=value", and flags alone.
#pragma once

#include <charconv>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CommandLineOption {
    std::string name; // with its dashes: "--port"
    std::string value;
};

// The options in order, or none with the reason in error: an argument that is no option, a flag
// given a value, or an option missing its value. flags names the options that take no value.
std::optional<std::vector<CommandLineOption>>
ReadCommandLine(const std::vector<std::string>& args, std::initializer_list<std::string_view> flags,
                std::string& error);

// A whole decimal number from low to high.
template <class Number>
bool ReadNumberOption(std::string_view text, Number low, Number high, Number& value) {
    Number parsed{};
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (problem != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}
