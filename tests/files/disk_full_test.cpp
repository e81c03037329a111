// A disk that fills while a file is being saved: the write fails, nothing is kept and the log
// says why. The process's file-size limit stands in for the full disk; the write fails the same
// way (EFBIG instead of ENOSPC).
#include "tests/files/relay_fixture.h"

#include <sys/resource.h>

#include <csignal>

namespace {

TEST_F(Relay, ADiskThatFillsWhileSavingLeavesNothing) {
    const std::string bytes = Bytes(512 * 1024, 5);
    const fs::path offered = write("big.bin", bytes);
    fs::create_directories(folder / "out");
    Window ann(roomPort);
    Window bob(roomPort);
    const std::string id = bob.see(ann.offer(offered));
    ASSERT_FALSE(id.empty());

    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN); // the failed write reports, not kills
    rlimit small = before;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    ASSERT_TRUE(bob.peer.save(id, Utf8(folder / "out" / "big.bin")));
    const bool noted = bob.noteWith("Could not save big.bin: it could not be written (");
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldSignal);
    ASSERT_TRUE(noted);
    EXPECT_TRUE(bob.note("Could not save").ends_with("). Nothing was kept.")) << bob.note("");
    EXPECT_TRUE(leftIn(folder / "out").empty());
}

} // namespace
