// MainWindow: the program's one window, with the connection fields and buttons, the chat log, the
// input line and the user list. It shows the global ChatView and follows its changes.
#pragma once

#include "app/window_commands.h"
#include "chat/chat_view_model.h"

#include <QWidget>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QLineEdit;
class QListWidget;
class QMenuBar;
class QPlainTextEdit;
class CoalescedCall;
class WindowExtras;

// One at a time: while it exists the window is ChatView's only observer and runs the tasks that
// network threads hand to the user-interface thread.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(WindowCommands commands = {});
    ~MainWindow() override;

protected:
    // The close box, the system menu and Alt+F4: end the live roles, then quit the program.
    void closeEvent(QCloseEvent* event) override;

private:
    QMenuBar* createMenu();
    void showAbout();
    FieldTexts fieldTexts() const;

    // On the window's thread: shows what changed in ChatView since the last refresh.
    void refreshView();
    void applyLog(ChatViewModel::LogUpdate update);
    void appendLogLine(const std::string& line, const ChatViewModel::LineInfo& info);
    // Shows the whole log again, as the Log menu's choices now say.
    void rerenderLog();
    void dropLogLines(size_t count);

    WindowCommands commands;
    QLineEdit* name = nullptr;
    QLineEdit* address = nullptr;
    QLineEdit* port = nullptr;
    QPlainTextEdit* log = nullptr;
    QLineEdit* input = nullptr;
    QListWidget* users = nullptr;
    WindowExtras* extras = nullptr; // a child of this

    // Shared with ChatView's observer and the task queue's wakeup, which may still be running on a
    // network thread when the window goes.
    std::shared_ptr<CoalescedCall> refreshCall;
    std::shared_ptr<CoalescedCall> uiTasksCall;
    ChatViewModel::LogCursor logCursor;
    // Text blocks of each line shown in the log, oldest first: a line with line breaks in it takes
    // several, and dropping lines from the top must remove all of them.
    std::deque<int> blocksPerLine;
    // Lines handed over by ChatView but not shown yet, oldest first; see LINES_PER_REFRESH.
    std::deque<std::pair<std::string, ChatViewModel::LineInfo>> pendingLines;
    static constexpr size_t LINES_PER_REFRESH = 100;
    std::vector<std::string> shownUsers;
    uint64_t seenInputClears = 0;
};
