// parlox-room as an operator runs it: the window's log on standard output, the end of the room on
// SIGTERM and SIGINT, a port in use, transcripts, the announcement withdrawn, and the systemd
// unit that the package ships.
#include "tests/support/console_programs.h"
#include "tests/support/private_avahi.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

TEST(RoomProgram, ShowsTheWindowsLogAndEndsTheRoomOnEitherSignal) {
    for (int signal : {SIGTERM, SIGINT}) {
        RoomProgram room;
        ASSERT_TRUE(room.open("Office"));
        const std::string out = room.out();
        EXPECT_EQ(out.rfind("----- Hosting on port: " + std::to_string(room.port.programPort()) +
                                " -----\nIP List:\n     1) ",
                            0),
                  0u)
            << out;

        RoomPeer ann;
        ASSERT_TRUE(ann.join(room.port.tcpPort, "Ann"));
        ann.lines("");
        EXPECT_NE(ann.all.find("login\n-1\nOffice\n"), std::string::npos) << ann.all;
        ann.say("100% sure, %s %n");
        ASSERT_TRUE(room.waitOut("<Ann>: 100% sure, %s %n\n"));

        EXPECT_EQ(room.endWith(signal), 0) << signal;
        // The room ends as a window's does: every client hears the host leave.
        EXPECT_TRUE(ann.waitEnd());
        EXPECT_NE(ann.peer.received.find("logoff\n-1\n"), std::string::npos) << signal;
        EXPECT_EQ(room.err().find("<<Error"), std::string::npos) << room.err();
    }
}

TEST(RoomProgram, APortInUseIsTheWindowsErrorOnStandardError) {
    RoomProgram first;
    ASSERT_TRUE(first.open());
    RoomProgram second;
    second.port.tcpPort = first.port.tcpPort;
    second.start({PARLOX_ROOM_PROGRAM, "--port", std::to_string(first.port.programPort())});
    EXPECT_EQ(second.waitExit(), 1);
    EXPECT_NE(second.err().find("<<Error: WSAEADDRINUSE\nAddress already in use>>\n"),
              std::string::npos)
        << second.err();
    EXPECT_EQ(second.out().find("Hosting"), std::string::npos);

    RoomProgram wrong;
    wrong.start({PARLOX_ROOM_PROGRAM, "--port", "70000"});
    EXPECT_EQ(wrong.waitExit(), 2);
    EXPECT_NE(wrong.err().find("usage: parlox-room"), std::string::npos);
}

TEST(RoomProgram, KeepsATranscriptWhenAsked) {
    ScratchFolder transcripts("transcripts");
    RoomProgram room;
    ASSERT_TRUE(room.open("Office", {"--transcripts", transcripts.path + "/kept"}));
    RoomPeer ann;
    ASSERT_TRUE(ann.join(room.port.tcpPort, "Ann"));
    ann.say("for the record");
    ASSERT_TRUE(room.waitOut("<Ann>: for the record\n"));
    EXPECT_EQ(room.endWith(SIGTERM), 0);
    const std::string kept = ReadWholeFile(transcripts.path + "/kept/hosting-" +
                                           std::to_string(room.port.programPort()) + ".txt");
    EXPECT_NE(kept.find("Parlox transcript, hosting on "), std::string::npos) << kept;
    EXPECT_NE(kept.find("----- Hosting on port: "), std::string::npos);
    EXPECT_NE(kept.find("] <Ann>: for the record\n"), std::string::npos) << kept;
}

TEST(RoomProgram, TheAnnouncementGoesWithTheRoom) {
    PrivateAvahi avahi;
    if (!avahi.ready()) {
        if (std::getenv("PARLOX_REQUIRE_NETNS") != nullptr)
            FAIL() << "PARLOX_REQUIRE_NETNS is set, but " << avahi.why;
        GTEST_SKIP() << avahi.why;
    }
    // The room talks to the test's Avahi daemon through DBUS_SYSTEM_BUS_ADDRESS, which it
    // inherits.
    RoomProgram room;
    ASSERT_TRUE(room.open("Office"));
    const auto announced = [&] {
        for (const std::vector<std::string>& service : PrivateAvahi::browse("_parlox._tcp"))
            if (service.size() == 10 && service[3] == "Office" &&
                service[8] == std::to_string(room.port.tcpPort))
                return true;
        return false;
    };
    ASSERT_TRUE(WaitFor(announced, 20000)) << room.err();
    EXPECT_EQ(room.endWith(SIGTERM), 0);
    EXPECT_TRUE(WaitFor([&] { return !announced(); }, 20000));
}

TEST(RoomUnit, SystemdFindsNothingWrongWithIt) {
    if (!OnPath("systemd-analyze"))
        FAIL() << "systemd-analyze is not installed (scripts/test.sh installs systemd)";
    // The unit as the package installs it, but naming the program just built.
    ScratchFolder folder("unit");
    std::string unit = ReadWholeFile(PARLOX_SOURCE_DIR "/res/parlox-room@.service");
    const std::string start = "\nExecStart=/usr/bin/parlox-room ";
    const size_t at = unit.find(start);
    ASSERT_NE(at, std::string::npos) << unit;
    unit.replace(at + 11, 20, PARLOX_ROOM_PROGRAM);
    std::ofstream(folder.path + "/parlox-room@.service") << unit;
    int code = -1;
    const std::string said = RunForOutput(
        {"sh", "-c",
         "systemd-analyze verify --man=no " + folder.path + "/parlox-room@.service 2>&1"},
        &code);
    EXPECT_EQ(code, 0) << said;
    EXPECT_EQ(said, "") << said;
}

} // namespace
