// MainWindow: the program's one window, with the connection fields and buttons, the chat log, the
// input line and the user list. It shows the global ChatView and follows its changes.
#pragma once

#include "app/qt/plain_text_log.h"
#include "commands/window_commands.h"
#include "model/log_pager.h"

#include <QElapsedTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QLineEdit;
class QListWidget;
class QMenuBar;
class QPlainTextEdit;
class QTimer;
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
    // The close box, the system menu and Alt+F4: end the live roles, then quit the program (or
    // only hide the window, while it keeps running in the notification area).
    void closeEvent(QCloseEvent* event) override;

private:
    QMenuBar* createMenu();
    void showAbout();
    FieldTexts fieldTexts() const;

    // On the window's thread: shows what changed in ChatView since the last refresh, at most once
    // per frame of the display.
    void refreshAtFrameRate();
    void refreshView();
    // Shows the whole log again, as the Log menu's choices now say.
    void rerenderLog();

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
    QTimer* frameTimer = nullptr; // the next refresh, when the last one was less than a frame ago
    QElapsedTimer sinceRefresh;
    int frameMs = 16;
    std::optional<PlainTextLog> logControl;
    LogPager logPager;
    std::vector<std::string> shownUsers;
    uint64_t seenInputClears = 0;
};
