// The window operations on the global ChatView: chat lines byte for byte, log lines within
// their limit, and what ResetChatView empties.
#include "chat/protocol.h"
#include "chat/window_ops.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string LastLine() {
    ChatViewModel::LogCursor cursor;
    const ChatViewModel::LogUpdate update = ChatView.logSince(cursor);
    return update.added.empty() ? "" : update.added.back();
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

TEST(WindowOpsTest, LogLineIsCutAndKeepsItsEnding) {
    AppendLog("<<Connected to: %s on port %d>>", "10.0.0.1", 5000);
    EXPECT_EQ(LastLine(), "<<Connected to: 10.0.0.1 on port 5000>>");

    const std::string error(2000, 'e');
    AppendLog("<<Error: %s>>", error.c_str());
    EXPECT_EQ(LastLine(), "<<Error: " + std::string(1012, 'e') + ">>");
}

TEST(WindowOpsTest, ResetEmptiesListInputAndNamesButNotHostName) {
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
