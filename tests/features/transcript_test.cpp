// Transcripts and "Save log...": the file for a short conversation, lines past the log's limit,
// and a folder that cannot be written or a disk that is full, through the real ChatView.
#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "features/local_time.h"
#include "features/transcript_format.h"
#include "features/window_features.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// The window's outputs, which transcripts do not use.
struct QuietNotifier : Notifier, Announcer, NotificationArea {
    void show(const Notification&) override {}
    void withdraw() override {}
    void announce(const std::string&) override {}
    void showIcon(int, const std::string&) override {}
    void hideIcon() override {}
};

struct NoStore : SettingsStore {
    std::optional<std::string> read(std::string_view) override { return std::nullopt; }
    void write(std::string_view, std::string_view) override {}
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// "[YYYY-MM-DD HH:MM:SS] " and the rest.
bool StampedWith(const std::string& line, const std::string& rest) {
    return line.size() == 22 + rest.size() && line[0] == '[' && line[5] == '-' && line[11] == ' ' &&
           line[14] == ':' && line.substr(20, 2) == "] " && line.substr(22) == rest;
}

class TranscriptTest : public testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("parlox-transcripts-" + std::to_string(std::random_device{}()));
        fs::create_directories(folder);
        std::lock_guard<CheckedMutex> guard(ChatLock);
        ResetChatView(true);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    QuietNotifier notifier;
    NoStore store;
    fs::path folder;
};

TEST_F(TranscriptTest, LocalTimesAsTheUserReadsThem) {
    std::tm parts{};
    parts.tm_year = 2026 - 1900;
    parts.tm_mon = 0;
    parts.tm_mday = 2;
    parts.tm_hour = 3;
    parts.tm_min = 4;
    parts.tm_sec = 5;
    parts.tm_isdst = -1;
    const auto time = std::chrono::system_clock::from_time_t(std::mktime(&parts));
    EXPECT_EQ(TranscriptLine("<Ann>: hi\nforged\r", time),
              "[2026-01-02 03:04:05] <Ann>: hi forged \n");
    EXPECT_EQ(TimePrefix(time), "[03:04] ");
}

TEST_F(TranscriptTest, KeptTranscriptOfAShortConversation) {
    {
        WindowFeatures features(notifier, notifier, notifier, store, folder / "transcripts");
        features.setKeepTranscripts(true);
        features.roomStarting(false, {"Ann", "10.0.0.7", "5000"});
        AppendLog("<<Connected to: %s on port %d>>", "10.0.0.7", 5000);
        AppendChatLine("Bob", "hi Ann\xE2\x80\xA8\xEF\xB7\x90<Ann>: hi");
        AppendChatLine("Ann", "hello, 100% sure");
        features.closing({"Ann", "10.0.0.7", "5000"});
    }
    const std::vector<std::string> lines =
        Lines(ReadFile(folder / "transcripts" / "10.0.0.7-5000.txt"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("Parlox transcript, connected to 10.0.0.7 port 5000, started ", 0), 0u)
        << lines[0];
    EXPECT_TRUE(StampedWith(lines[1], "<<Connected to: 10.0.0.7 on port 5000>>")) << lines[1];
    EXPECT_TRUE(StampedWith(lines[2], "<Bob>: hi Ann\xC2\xB6\xEF\xBF\xBD<Ann>: hi")) << lines[2];
    EXPECT_TRUE(StampedWith(lines[3], "<Ann>: hello, 100% sure")) << lines[3];
}

TEST_F(TranscriptTest, TranscriptKeepsWhatTheLogLetsGo) {
    const std::string text(1000, 'x');
    {
        WindowFeatures features(notifier, notifier, notifier, store, folder);
        features.setKeepTranscripts(true);
        features.roomStarting(true, {"Ann", "", "5000"});
        for (int i = 0; i < 300; ++i)
            AppendChatLine("Bob", text);
        EXPECT_LT(ChatView.logBytes(), 300u * 1000u);
    }
    const std::vector<std::string> lines = Lines(ReadFile(folder / "hosting-5000.txt"));
    ASSERT_EQ(lines.size(), 301u);
    EXPECT_TRUE(StampedWith(lines[300], "<Bob>: " + text));
}

TEST_F(TranscriptTest, SaveLogWritesWhatTheLogHolds) {
    WindowFeatures features(notifier, notifier, notifier, store, folder);
    features.roomStarting(true, {"Ann", "", "6000"});
    AppendChatLine("Ann", "first");
    AppendChatLine("Bob", "\xC3\xA9t\xC3\xA9");
    ASSERT_TRUE(features.saveLog((folder / "log.txt").string()));
    const std::vector<std::string> lines = Lines(ReadFile(folder / "log.txt"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("Parlox transcript, hosting on ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" port 6000, saved "), std::string::npos) << lines[0];
    EXPECT_TRUE(StampedWith(lines[1], "<Ann>: first"));
    EXPECT_TRUE(StampedWith(lines[2], "<Bob>: \xC3\xA9t\xC3\xA9"));

    EXPECT_FALSE(features.saveLog((folder / "missing" / "log.txt").string()));
    EXPECT_EQ(Lines(ChatView.logText()).back().rfind("<<Error: Save log: cannot write ", 0), 0u);
}

bool WaitForErrorLine() {
    return WaitFor([] { return ChatView.logText().find("<<Error: ") != std::string::npos; });
}

// A transcript that cannot be written stops with one line in the log and loses nothing else.
// A long first line fails its write before any flush.
void ExpectStopsWithOneErrorLine(WindowFeatures& features, size_t firstLineBytes = 0) {
    features.setKeepTranscripts(true);
    features.roomStarting(false, {"Ann", "10.0.0.7", "5000"});
    if (firstLineBytes > 0)
        AppendLogLine(std::string(firstLineBytes, 'x'));
    AppendChatLine("Bob", "one");
    ASSERT_TRUE(WaitForErrorLine());
    AppendChatLine("Bob", "two");
    features.setKeepTranscripts(false);
    const std::string log = ChatView.logText();
    EXPECT_EQ(log.find("<<Error: Transcripts stopped: "), log.rfind("<<Error: "));
    EXPECT_NE(log.find("<Bob>: one\n"), std::string::npos);
    EXPECT_NE(log.find("<Bob>: two\n"), std::string::npos);
}

TEST_F(TranscriptTest, FolderThatIsAFile) {
    std::ofstream(folder / "file") << "x";
    WindowFeatures features(notifier, notifier, notifier, store, folder / "file");
    ExpectStopsWithOneErrorLine(features);
}

TEST_F(TranscriptTest, ReadOnlyFolder) {
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    const bool writable = std::ofstream(folder / "probe").is_open();
    if (writable) {
        fs::permissions(folder, fs::perms::owner_all);
        GTEST_SKIP() << "a read-only folder is writable here (root, or no such permission)";
    }
    {
        WindowFeatures features(notifier, notifier, notifier, store, folder);
        ExpectStopsWithOneErrorLine(features);
    }
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_NE(ChatView.logText().find("Permission denied"), std::string::npos);
}

TEST_F(TranscriptTest, FullDisk) {
    // Writes to /dev/full fail as on a full disk (ENOSPC); the room's file is a link to it. The
    // system's words for it reach the log whether the disk is found full by a flush or by a write
    // of a line longer than the stream holds.
    std::error_code error;
    fs::create_symlink("/dev/full", folder / "10.0.0.7-5000.txt", error);
    if (error || !fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full to stand in for a full disk";
    for (const size_t firstLineBytes : {size_t{0}, size_t{64 * 1024}}) {
        SCOPED_TRACE(firstLineBytes);
        {
            std::lock_guard<CheckedMutex> guard(ChatLock);
            ResetChatView(true);
        }
        WindowFeatures features(notifier, notifier, notifier, store, folder);
        ExpectStopsWithOneErrorLine(features, firstLineBytes);
        const std::string log = ChatView.logText();
        const size_t errorLine = log.find("<<Error: ");
        EXPECT_NE(log.find(": No space left on device>>"), std::string::npos)
            << (errorLine == std::string::npos ? "no error line" : log.substr(errorLine, 200));
    }
}

} // namespace
