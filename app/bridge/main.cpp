// parlox-bridge: a room and an IRC channel as one conversation, until SIGTERM or SIGINT.
#include "app/bridge/bridge_command_line.h"
#include "app/console/console_log.h"
#include "app/console/stop_request.h"
#include "bridge/bridge.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args = ProgramArguments(argc, argv);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(BRIDGE_USAGE, stdout);
        return 0;
    }
    std::string error;
    const auto options = ParseBridgeCommandLine(args, error);
    if (!options) {
        std::fprintf(stderr, "parlox-bridge: %s\n%s", error.c_str(), BRIDGE_USAGE);
        return 2;
    }
    UseUtf8Console();
    ConsoleLog console;
    StopRequest stop;
    Bridge bridge(*options, [&console](bool problem, const std::string& line) {
        console.line("parlox-bridge: " + line, problem);
    });
    bridge.run(stop.pollHandle());
    stop.finished();
    return 0;
}
