// Reading a console program's options: "--name value" or "--name=value", and flags alone.
#pragma once

#include <charconv>
#include <cstdio>
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

// How a console program starts on its arguments: "--help" (or "-h") alone prints usage and ends
// with status 0; a mistake prints the program's name, why, and usage on standard error and ends
// with status 2. parse reads the arguments into options, or says in its second argument why it
// cannot. The options, or none with the status to end with in exitStatus.
template <class Parse>
auto ReadProgramOptions(const std::vector<std::string>& args, const char* program,
                        const char* usage, Parse parse, int& exitStatus) {
    std::string error;
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(usage, stdout);
        exitStatus = 0;
        return decltype(parse(args, error))();
    }
    auto options = parse(args, error);
    if (!options) {
        std::fprintf(stderr, "%s: %s\n%s", program, error.c_str(), usage);
        exitStatus = 2;
    }
    return options;
}
