// Reading parlox-room's command line.
#include "app/room/room_command_line.h"

#include "app/console/command_line.h"

std::optional<RoomOptions> ParseRoomCommandLine(const std::vector<std::string>& args,
                                                std::string& error) {
    const auto read = ReadCommandLine(args, {}, error);
    if (!read)
        return std::nullopt;
    RoomOptions options;
    for (const CommandLineOption& option : *read) {
        if (option.name == "--port") {
            if (!ReadNumberOption<uint16_t>(option.value, 1, 65535, options.port)) {
                error = "--port wants a number from 1 to 65535: " + option.value;
                return std::nullopt;
            }
        } else if (option.name == "--name") {
            options.name = option.value;
        } else if (option.name == "--transcripts") {
            options.transcripts = option.value;
        } else {
            error = "unknown option: " + option.name;
            return std::nullopt;
        }
    }
    return options;
}
