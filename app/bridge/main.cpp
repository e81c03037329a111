// parlox-bridge: a room and an IRC channel as one conversation, until SIGTERM or SIGINT.
#include "app/bridge/bridge_command_line.h"
#include "app/console/command_line.h"
#include "app/console/console_log.h"
#include "app/console/stop_request.h"
#include "bridge/bridge.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    int exitStatus = 0;
    const auto options = ReadProgramOptions(ProgramArguments(argc, argv), "parlox-bridge",
                                            BRIDGE_USAGE, ParseBridgeCommandLine, exitStatus);
    if (!options)
        return exitStatus;
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
