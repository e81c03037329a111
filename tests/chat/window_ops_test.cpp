// The window operations on the global ChatView: chat lines byte for byte, log lines within
// their limit, and what ResetChatView empties.
#include "chat/window_ops.h"
#include "wire/protocol.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

std::string LastLine() {
    ChatViewModel::LogCursor cursor;
    const ChatViewModel::LogUpdate update = ChatView.logSince(cursor);
    return update.added.empty() ? "" : update.added.back();
}

void ClearView() {
    std::lock_guard<CheckedMutex> guard(ChatLock);
    ResetChatView(true);
}

TEST(WindowOpsTest, ChatTextIsNeverAFormat) {
    AppendChatLine("<name>", "%s%n%d 100%");
    EXPECT_EQ(LastLine(), "<<name>>: %s%n%d 100%");
}

TEST(WindowOpsTest, ReceivedNamesAndTextsShowOnOneLine) {
    // A name that turns the frame around and a text that starts a line of its own.
    AppendChatLine("Mal\xE2\x80\xAE", "hi\r<Ann>: FORGED\xE2\x80\xA8x");
    EXPECT_EQ(LastLine(), "<Mal\xEF\xBF\xBD>: hi\xC2\xB6<Ann>: FORGED\xC2\xB6x");
    SetUserName(7, "Mal\r<Ann>");
    EXPECT_EQ(ChatView.users().back(), "Mal\xC2\xB6<Ann>");
    // The text is cut to 1023 bytes before it is shown, between characters.
    AppendChatLine("a", std::string(1022, 'x') + "\r\r");
    EXPECT_EQ(LastLine(), "<a>: " + std::string(1022, 'x') + "\xC2\xB6");
}

// Views tell a chat line's writer from its text even when both hold "<", ">" and ": ", and know
// when each line arrived; the program's own lines have no writer.
TEST(WindowOpsTest, LinesKeepTheirWriterAndArrival) {
    ClearView();
    const auto before = std::chrono::system_clock::now();
    AppendChatLine("<a>: b", ">: c");
    AppendLog("<<Bob>>: hi");
    ChatViewModel::LogCursor cursor;
    const ChatViewModel::LogUpdate update = ChatView.logSince(cursor);
    ASSERT_EQ(update.addedInfo.size(), 2u);
    const ChatViewModel::LineInfo& chat = update.addedInfo[0];
    EXPECT_EQ(chat.name(update.added[0]), "<a>: b");
    EXPECT_EQ(chat.text(update.added[0]), ">: c");
    EXPECT_GE(chat.arrived, before);
    EXPECT_FALSE(update.addedInfo[1].isChat());
    EXPECT_EQ(update.addedInfo[1].text(update.added[1]), "<<Bob>>: hi");
}

// The line listener hears every line, those the log has let go of by the time a view looks too.
TEST(WindowOpsTest, LineListenerHearsLinesTheLogDrops) {
    ClearView();
    size_t heard = 0;
    ChatView.setLineListener([&heard](const std::string& line, const ChatViewModel::LineInfo&) {
        heard += line.size();
    });
    const std::string text(1000, 'x');
    for (int i = 0; i < 200; ++i)
        AppendChatLine("Bob", text);
    ChatView.setLineListener({});
    AppendChatLine("Bob", text);
    EXPECT_EQ(heard, 200u * (text.size() + 7));
    EXPECT_LT(ChatView.logBytes(), ChatViewModel::LOG_LIMIT + 1);
}

TEST(WindowOpsTest, LogLineIsCutAndKeepsItsEnding) {
    AppendLog("<<Connected to: %s on port %d>>", "10.0.0.1", 5000);
    EXPECT_EQ(LastLine(), "<<Connected to: 10.0.0.1 on port 5000>>");

    const std::string error(2000, 'e');
    AppendLog("<<Error: %s>>", error.c_str());
    EXPECT_EQ(LastLine(), "<<Error: " + std::string(1012, 'e') + ">>");
}

TEST(WindowOpsTest, ResetEmptiesListInputAndNamesButNotHostName) {
    std::lock_guard<CheckedMutex> guard(ChatLock); // as a handler or command holds it
    ResetChatView(true);
    HostName = "Ann";
    UserTable[0] = "Bob";
    UserTable[31] = "Cid";
    SetUserName(HOST_ID, "Ann");
    SetUserName(0, "Bob");
    AppendLog("kept");
    const uint64_t clears = ChatView.inputClears();

    ResetChatView(false);
    EXPECT_TRUE(ChatView.users().empty());
    EXPECT_EQ(ChatView.logText(), "kept\n");
    EXPECT_EQ(ChatView.inputClears(), clears + 1);
    for (const std::string& name : UserTable)
        EXPECT_EQ(name, "");
    EXPECT_EQ(HostName, "Ann");

    ResetChatView(true);
    EXPECT_EQ(ChatView.logText(), "");
}

} // namespace

#ifdef PARLOX_CHECK_LOCKS
// A function that needs ChatLock and is called without it stops the program in checked builds,
// instead of racing the handlers on UserTable.
TEST(WindowOpsDeathTest, ResetWithoutChatLockIsCaught) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(ResetChatView(false), "ResetChatView runs without the lock it needs");
    std::lock_guard<CheckedMutex> guard(ChatLock);
    ResetChatView(false);
}
#endif
