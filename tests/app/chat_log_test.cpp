// The main window showing ChatView: log lines, scrolling, dropped and cleared lines, the user list
// and the input line, with changes made on other threads as the network threads make them.
#include "app/qt/main_window.h"
#include "chat/program_state.h"
#include "chat/window_ops.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ChatLogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void percentSignsShowAsTyped();
    void receivedTextShowsOnOneLineWithMarks();
    void scrollsToTheBottomAfterEveryAppend();
    void appendsFromSeveralThreadsLoseNothing();
    void followsTheModelThroughDroppedAndClearedLines();
    void userListAndInputFollowTheModel();

private:
    QPlainTextEdit* log() { return window->findChild<QPlainTextEdit*>(QStringLiteral("IDC_LOG")); }
    // The model's log as the widget shows it: line breaks as block breaks, no final newline.
    static QString shownModelText() {
        QString text = QString::fromUtf8(ChatView.logText());
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        text.chop(1);
        return text;
    }

    std::unique_ptr<MainWindow> window;
};

void ChatLogTest::init() {
    ChatView.reset(true);
    WindowCommands quiet{[](const FieldTexts&) {}, [](const FieldTexts&) {},
                         [](const std::string&) {},
                         [] {
                         }};
    // Left unshown: what is under test is how the window follows the model, not how it paints.
    // Painting a tall scroll bar fans out over Qt's own thread pool, whose hand-offs the thread
    // sanitizer cannot see inside the uninstrumented Qt libraries and reports as races.
    window = std::make_unique<MainWindow>(quiet);
}

void ChatLogTest::cleanup() {
    window.reset();
}

void ChatLogTest::percentSignsShowAsTyped() {
    AppendChatLine("<name>", "%s%n%d %%");
    QTRY_COMPARE(log()->toPlainText(), QStringLiteral("<<name>>: %s%n%d %%"));
}

void ChatLogTest::receivedTextShowsOnOneLineWithMarks() {
    AppendChatLine("bad\xFF", "\xC3\x28 \xE2\x82");
    // Every kind of line break, and a right-to-left override in the name.
    AppendChatLine("Mal\xE2\x80\xAE", "a\rb\vc\fd\xC2\x85"
                                      "e\xE2\x80\xA8"
                                      "f\xE2\x80\xA9g");
    AppendChatLine("ok", "fine");
    QTRY_COMPARE(log()->document()->blockCount(), 3);
    QCOMPARE(
        log()->toPlainText(),
        QStringLiteral("<bad\uFFFD>: \uFFFD( \uFFFD\uFFFD\n"
                       "<Mal\uFFFD>: a\u00B6b\u00B6c\u00B6d\u00B6e\u00B6f\u00B6g\n<ok>: fine"));
    SetUserName(0, "Mal\r<Ann>");
    auto* users = window->findChild<QListWidget*>(QStringLiteral("IDC_USERS"));
    QTRY_COMPARE(users->count(), 1);
    QCOMPARE(users->item(0)->text(), QStringLiteral("Mal\u00B6<Ann>"));
}

void ChatLogTest::scrollsToTheBottomAfterEveryAppend() {
    for (int i = 0; i < 200; ++i) {
        AppendLog("line %d", i);
    }
    QScrollBar* bar = log()->verticalScrollBar();
    QTRY_COMPARE(log()->document()->blockCount(), 200);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    bar->setValue(0);
    AppendLog("one more");
    QTRY_COMPARE(log()->document()->blockCount(), 201);
    QCOMPARE(bar->value(), bar->maximum());
}

void ChatLogTest::appendsFromSeveralThreadsLoseNothing() {
    constexpr int THREADS = 4;
    constexpr int LINES = 300;
    std::vector<std::thread> writers;
    for (int t = 0; t < THREADS; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < LINES; ++i) {
                AppendLog("writer %d line %d", t, i);
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    QTRY_COMPARE(log()->document()->blockCount(), THREADS * LINES);

    // Every line is there, and each writer's lines are in the order it wrote them.
    int next[THREADS] = {};
    const QStringList lines = log()->toPlainText().split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QStringList words = line.split(QLatin1Char(' '));
        QCOMPARE(words.size(), 4);
        const int t = words[1].toInt();
        QCOMPARE(words[3].toInt(), next[t]++);
    }
    for (int count : next) {
        QCOMPARE(count, LINES);
    }
}

void ChatLogTest::followsTheModelThroughDroppedAndClearedLines() {
    // Lines that hold line breaks take several blocks; once the model drops them from the top,
    // every block of theirs must go. 150 lines of ~1000 bytes overflow the log's limit.
    const std::string chunk(480, 'x');
    for (int i = 0; i < 150; ++i) {
        AppendLog("%d %s\n%s%s", i, chunk.c_str(), i % 3 == 0 ? "\r" : "", chunk.c_str());
        if (i % 40 == 0) {
            QTRY_COMPARE(log()->toPlainText(), shownModelText()); // some refreshes in between
        }
    }
    QVERIFY(ChatView.logBytes() <= ChatViewModel::LOG_LIMIT);
    QTRY_COMPARE(log()->toPlainText(), shownModelText());
    QVERIFY(!log()->toPlainText().startsWith(QStringLiteral("0 ")));

    {
        std::lock_guard<CheckedMutex> chatGuard(ChatLock);
        ResetChatView(true);
    }
    AppendLog("after the reset");
    QTRY_COMPARE(log()->toPlainText(), QStringLiteral("after the reset"));
}

void ChatLogTest::userListAndInputFollowTheModel() {
    auto* users = window->findChild<QListWidget*>(QStringLiteral("IDC_USERS"));
    auto* input = window->findChild<QLineEdit*>(QStringLiteral("IDC_INPUT"));
    std::thread([] {
        SetUserName(HOST_ID, "alice");
        SetUserName(0, "Bob");
        SetUserName(1, "Zo");
        SetUserName(1, "Zoë"); // a second name for an id replaces its entry
        RemoveUserName(0);
    }).join();
    QTRY_COMPARE(users->count(), 2);
    QCOMPARE(users->item(0)->text(), QStringLiteral("alice"));
    QCOMPARE(users->item(1)->text(), QStringLiteral("Zoë"));

    AppendLog("kept");
    input->setText(QStringLiteral("half typed"));
    {
        std::lock_guard<CheckedMutex> chatGuard(ChatLock);
        ResetChatView(false);
    }
    QTRY_VERIFY(input->text().isEmpty());
    QCOMPARE(users->count(), 0);
    QCOMPARE(log()->toPlainText(), QStringLiteral("kept"));
}

QTEST_MAIN(ChatLogTest)
#include "chat_log_test.moc"
