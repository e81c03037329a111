// parlox-room: a room without a window. The host's log goes to standard output, its errors to
// standard error; SIGTERM or SIGINT (Ctrl+C, the console's close on Windows) end the room the way
// closing the window does.
#include "app/console/command_line.h"
#include "app/console/console_log.h"
#include "app/console/stop_request.h"
#include "app/room/room_command_line.h"
#include "chat/window_ops.h"
#include "commands/host_commands.h"
#include "commands/room_discovery.h"
#include "features/transcript_writer.h"
#include "text/utf8_path.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

namespace {

bool IsErrorLine(const std::string& line) {
    return line.rfind("<<Error: ", 0) == 0;
}

// Says once on standard error why the room cannot be announced, when the platform's service is
// missing; the room works all the same.
void ReportDiscovery(ConsoleLog& console) {
    // The list calls a copy of its observer, so what was said lives beside it. Only the backend's
    // thread calls it.
    auto said = std::make_shared<std::string>();
    FoundRooms.setObserver([&console, said] {
        const std::string why = FoundRooms.snapshot().unavailable;
        if (!why.empty() && why != *said)
            console.line("The room is not announced on the network: " + why, true);
        *said = why;
    });
}

} // namespace

int main(int argc, char** argv) {
    int exitStatus = 0;
    const auto options = ReadProgramOptions(ProgramArguments(argc, argv), "parlox-room", ROOM_USAGE,
                                            ParseRoomCommandLine, exitStatus);
    if (!options)
        return exitStatus;
    UseUtf8Console();
    ConsoleLog console;
    // Shared with ChatView's line listener, which network threads call.
    std::shared_ptr<TranscriptWriter> transcripts;
    if (!options->transcripts.empty())
        transcripts = std::make_shared<TranscriptWriter>(
            PathFromUtf8(options->transcripts),
            [](const std::string& reason) { AppendLog("<<Error: %s>>", reason.c_str()); });
    ChatView.setLineListener(
        [&console, transcripts](const std::string& line, const ChatViewModel::LineInfo& info) {
            console.line(line, IsErrorLine(line));
            if (transcripts)
                transcripts->append(line, info.arrived);
        });
    // Before the room opens: a stop asked meanwhile ends it as soon as it is open.
    StopRequest stop;
    ReportDiscovery(console);
    StartRoomDiscovery();

    const FieldTexts fields{options->name, "", std::to_string(options->port)};
    if (transcripts)
        transcripts->startRoom(RoomOf(true, fields), std::chrono::system_clock::now());
    const bool hosting = HostCommand(fields);
    if (hosting)
        stop.wait();

    HostTeardown();
    StopRoomDiscovery();
    FoundRooms.setObserver({});
    ChatView.setLineListener({});
    if (transcripts)
        transcripts->stop();
    stop.finished();
    return hosting ? 0 : 1;
}
