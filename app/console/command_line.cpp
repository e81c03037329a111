// Splitting a command line into options and their values.
#include "app/console/command_line.h"

#include <algorithm>

std::optional<std::vector<CommandLineOption>>
ReadCommandLine(const std::vector<std::string>& args, std::initializer_list<std::string_view> flags,
                std::string& error) {
    std::vector<CommandLineOption> options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0 || arg.size() == 2) {
            error = "not an option: " + arg;
            return std::nullopt;
        }
        const size_t equals = arg.find('=');
        CommandLineOption option{arg.substr(0, equals), {}};
        const bool isFlag = std::find(flags.begin(), flags.end(), option.name) != flags.end();
        if (isFlag && equals != std::string::npos) {
            error = option.name + " takes no value";
            return std::nullopt;
        }
        if (!isFlag) {
            if (equals != std::string::npos) {
                option.value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                option.value = args[++i];
            } else {
                error = option.name + " needs a value";
                return std::nullopt;
            }
        }
        options.push_back(std::move(option));
    }
    return options;
}
