// The real window with the real commands on the offscreen platform: Connect, Enter and the host's
// departure against a fake host; Host, its banner, Enter while hosting and Host again against raw
// clients; hostile characters in names and lines, as the log and the list lay them out in both
// roles; the Files menu and drops while hosting; closing the window while hosting.
#include "app/qt/files_menu.h"
#include "app/qt/main_window.h"
#include "chat/program_state.h"
#include "commands/commands.h"
#include "tests/support/chat_state.h"
#include "tests/support/find_control.h"
#include "tests/support/loopback.h"
#include "tests/support/other_window.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QUrl>

#include <memory>
#include <string>
#include <vector>

namespace {

// Characters that the window's text engine, a rich edit or Unicode itself takes for a break, a
// frame or an object, with the mark each shows as.
struct Hostile {
    const char* name;
    std::string bytes;
    QString mark;
};

const QString BREAK = QStringLiteral("\u00B6");
const QString HIDDEN = QStringLiteral("\uFFFD");

const Hostile HOSTILE[] = {
    {"CarriageReturn", "\r", BREAK},
    {"VerticalTab", "\v", BREAK},
    {"NextLine", "\xC2\x85", BREAK},
    {"LineSeparator", "\xE2\x80\xA8", BREAK},
    {"ParagraphSeparator", "\xE2\x80\xA9", BREAK},
    {"FrameStart", "\xEF\xB7\x90", HIDDEN},
    {"FrameEnd", "\xEF\xB7\x91", HIDDEN},
    {"MathObjectEnd", "\xEF\xB7\xAF", HIDDEN},
    {"TableRowStart", "\xEF\xBF\xB9", HIDDEN},
    {"Object", "\xEF\xBF\xBC", HIDDEN},
    {"ByteOrderSwapped", "\xEF\xBF\xBE", HIDDEN},
    {"NoncharacterFFFF", "\xEF\xBF\xBF", HIDDEN},
    {"RightToLeftMark", "\xE2\x80\x8F", HIDDEN},
    {"RightToLeftOverride", "\xE2\x80\xAE", HIDDEN},
};

} // namespace

class WindowRolesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void connectEnterAndTheHostsDeparture();
    void hostBannerEnterAndHostAgain();
    void hostileCharactersWhileHosting();
    void hostileCharactersFromTheHost();
    void filesMenuOffersSavesAndWithdraws();
    void closingWhileHostingTellsTheClients(); // last: it asks the application to quit

private:
    template <typename Widget> Widget* control(const char* name) {
        return FindControl<Widget>(window.get(), name);
    }
    void fill(const char* name, const QString& text) { control<QLineEdit>(name)->setText(text); }
    void press(const char* button) {
        QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton);
    }
    void say(const QString& text) {
        QLineEdit* input = control<QLineEdit>("IDC_INPUT");
        input->setFocus();
        QTest::keyClicks(input, text);
        QTest::keyClick(input, Qt::Key_Return);
    }
    QString log() { return control<QPlainTextEdit>("IDC_LOG")->toPlainText(); }
    // The lines the log shows on the screen: its blocks as laid out at the window's width.
    int shownLogLines() {
        auto* edit = control<QPlainTextEdit>("IDC_LOG");
        int lines = 0;
        for (QTextBlock block = edit->document()->begin(); block.isValid(); block = block.next()) {
            edit->document()->documentLayout()->blockBoundingRect(block); // lays the block out
            lines += block.layout()->lineCount();
        }
        return lines;
    }
    // A log longer than the window paints a scroll bar, which fans out over Qt's own thread
    // pool, whose hand-offs the thread sanitizer cannot see inside the uninstrumented Qt
    // libraries and reports as races. The lines are laid out as shown, at the log's width, also
    // while the window has gone from the screen.
    void hideForLongLogs() { window->hide(); }
    // Whether every entry of the user list is one line tall.
    bool usersOneLineEach() {
        auto* list = control<QListWidget>("IDC_USERS");
        for (int row = 1; row < list->count(); ++row) {
            if (list->sizeHintForRow(row) != list->sizeHintForRow(0))
                return false;
        }
        return true;
    }
    QStringList users() {
        QStringList names;
        auto* list = control<QListWidget>("IDC_USERS");
        for (int row = 0; row < list->count(); ++row)
            names << list->item(row)->text();
        return names;
    }
    QMenu* filesMenu() { return window->findChild<QMenu*>(QStringLiteral("IDM_FILES")); }
    // The Files menu's items below "Send a file…" and its separator.
    QStringList fileItems() {
        QStringList items;
        for (QAction* action : filesMenu()->actions().mid(2))
            items << action->text() + (action->isEnabled() ? "" : " (disabled)");
        return items;
    }
    void chooseFileItem(const QString& start) {
        for (QAction* action : filesMenu()->actions())
            if (action->text().startsWith(start))
                return action->trigger();
        QFAIL("no such item");
    }
    // Connects as Bob to a fake host; returns the host's end, which has read what came (the login).
    RawPeer connectAsBob(RawListener& host) {
        fill("IDC_NAME", QStringLiteral("Bob"));
        fill("IDC_PORT", QString::number(host.programPort()));
        press("IDC_CONNECT");
        RawPeer peer = host.accept();
        peer.readUntil("login\nBob\n");
        return peer;
    }
    // Hosts a room as Ann on a free port; returns the TCP port clients reach it on.
    uint16_t hostAsAnn() {
        const ReservedPort port; // the host's listen takes it over
        const uint16_t tcpPort = port.tcpPort;
        fill("IDC_NAME", QStringLiteral("Ann"));
        fill("IDC_PORT", QString::number(ProgramPort(tcpPort)));
        press("IDC_HOST");
        return tcpPort;
    }

    std::unique_ptr<MainWindow> window;
};

void WindowRolesTest::init() {
    ResetChatState();
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void WindowRolesTest::cleanup() {
    CloseCommand();
    window.reset();
    ResetChatState();
}

void WindowRolesTest::connectEnterAndTheHostsDeparture() {
    RawListener host;
    RawPeer peer = connectAsBob(host);
    QCOMPARE(peer.received, std::string("login\nBob\n"));
    const QString connected =
        QStringLiteral("<<Connected to: 127.0.0.1 on port %1>>").arg(host.programPort());
    QTRY_COMPARE(log(), connected);
    QCOMPARE(control<QLineEdit>("IDC_ADDRESS")->text(), QStringLiteral("localhost"));

    say(QStringLiteral("100% sure"));
    QVERIFY(peer.readUntil("msg\n100% sure\n"));
    QVERIFY(control<QLineEdit>("IDC_INPUT")->text().isEmpty());
    peer.send("login\n-1\nAnn\nlogin\n0\nBob\nmsg\n0\n100% sure\n");
    QTRY_COMPARE(users(), (QStringList{"Ann", "Bob"}));
    QTRY_COMPARE(log(), connected + "\n<Bob>: 100% sure");

    peer.send("logoff\n-1\n");
    const QString rule(40, QLatin1Char('-'));
    QTRY_COMPARE(log(),
                 connected + "\n<Bob>: 100% sure\n" + rule + "\nServer disconnected\n" + rule);
    QTRY_VERIFY(users().isEmpty());
    QVERIFY(peer.readEnd());
    // No role is live any more: a line goes nowhere.
    peer.take();
    say(QStringLiteral("anyone?"));
    QVERIFY(control<QLineEdit>("IDC_INPUT")->text().isEmpty());
}

void WindowRolesTest::hostBannerEnterAndHostAgain() {
    const uint16_t tcpPort = hostAsAnn();
    QTRY_VERIFY(
        log().startsWith(QStringLiteral("----- Hosting on port: %1 -----\nIP List:\n     1) ")
                             .arg(ProgramPort(tcpPort))));
    QVERIFY(log().endsWith(QString(40, QLatin1Char('-'))));
    QTRY_COMPARE(users(), (QStringList{"Ann"}));

    RawPeer bob = RawPeer::connectTo(tcpPort);
    bob.send("login\nBob\n");
    QVERIFY(bob.readUntil("login\n-1\nAnn\nlogin\n0\nBob\n"));
    QTRY_COMPARE(users(), (QStringList{"Ann", "Bob"}));

    say(QStringLiteral("welcome %s"));
    QVERIFY(bob.readUntil("msg\n-1\nwelcome %s\n"));
    QTRY_VERIFY(log().endsWith(QStringLiteral("<Ann>: welcome %s")));

    press("IDC_HOST"); // the old room's clients hear the host leave
    QVERIFY(bob.readEnd());
    QVERIFY(bob.take().find("logoff\n-1\n") != std::string::npos);
    QTRY_VERIFY(!log().contains(QStringLiteral("welcome")));
    QVERIFY(log().startsWith(QStringLiteral("----- Hosting on port: ")));
    QTRY_COMPARE(users(), (QStringList{"Ann"}));
}

// A client that puts such characters into its name and its lines: every client gets the bytes as
// sent, and the host's log and list show each line and name on one line of the screen, marked.
void WindowRolesTest::hostileCharactersWhileHosting() {
    hideForLongLogs();
    const uint16_t tcpPort = hostAsAnn();
    QTRY_COMPARE(users(), (QStringList{"Ann"}));
    RawPeer bob = RawPeer::connectTo(tcpPort);
    bob.send("login\nBob\n");
    QVERIFY(bob.readUntil("login\n0\nBob\n"));
    const int bannerLines = shownLogLines();
    std::vector<RawPeer> clients; // each stays, so that the next one takes the next slot
    int slot = 1;
    for (const Hostile& c : HOSTILE) {
        const std::string name = "M" + std::to_string(slot) + c.bytes + "Ann";
        const std::string text = "hi" + c.bytes + "<Ann>: send your password";
        RawPeer& mal = clients.emplace_back(RawPeer::connectTo(tcpPort));
        mal.send("login\n" + name + "\nmsg\n" + text + "\n");
        QVERIFY2(bob.readUntil("msg\n" + std::to_string(slot) + "\n" + text + "\n"), c.name);
        const QString shownName = QStringLiteral("M%1").arg(slot) + c.mark + "Ann";
        QTRY_VERIFY2(
            log().endsWith("\n<" + shownName + ">: hi" + c.mark + "<Ann>: send your password"),
            c.name);
        QVERIFY2(users().last() == shownName, c.name);
        QCOMPARE(shownLogLines(), bannerLines + slot);
        QVERIFY2(usersOneLineEach(), c.name);
        ++slot;
    }
}

// The same characters from a host, in its name, a client's name and relayed lines.
void WindowRolesTest::hostileCharactersFromTheHost() {
    hideForLongLogs();
    RawListener host;
    RawPeer peer = connectAsBob(host);
    QCOMPARE(peer.received, std::string("login\nBob\n"));
    QTRY_COMPARE(shownLogLines(), 1); // "<<Connected to: ...>>"
    int id = 1;
    for (const Hostile& c : HOSTILE) {
        const std::string number = std::to_string(id);
        peer.send("login\n-1\nA" + c.bytes + "nn\nlogin\n" + number + "\nM" + number + c.bytes +
                  "al\nmsg\n" + number + "\nhi" + c.bytes + "<Bob>: me too\n");
        QTRY_VERIFY2(log().endsWith(QStringLiteral("\n<M%1").arg(id) + c.mark + "al>: hi" + c.mark +
                                    "<Bob>: me too"),
                     c.name);
        QCOMPARE(shownLogLines(), 1 + id);
        QVERIFY2(users().contains("A" + c.mark + "nn"), c.name);
        QVERIFY2(usersOneLineEach(), c.name);
        ++id;
    }
}

void WindowRolesTest::filesMenuOffersSavesAndWithdraws() {
    hideForLongLogs();
    QTemporaryDir folder;
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(folder.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return folder.filePath(name);
    };
    QStringList titles;
    for (QAction* action : window->findChild<QMenuBar*>()->actions())
        titles << action->text();
    QCOMPARE(titles.mid(titles.size() - 2), (QStringList{"Files", "About"}));
    QTRY_COMPARE(fileItems(), QStringList{"No files offered in this room (disabled)"});
    QVERIFY(!filesMenu()->actions().first()->isEnabled()); // outside a room
    const uint16_t tcpPort = hostAsAnn();
    RawPeer cid = RawPeer::connectTo(tcpPort);
    cid.send("login\nCid\n");
    QVERIFY(cid.readUntil("login\n0\nCid\n"));

    // Send a file…, through the dialog's seam.
    auto* menu = window->findChild<FilesMenu*>();
    const QString mine = write(QStringLiteral("mine.txt"), "hello");
    menu->chooseFiles = [&] {
        return QStringList{mine};
    };
    QAction* send = filesMenu()->findChild<QAction*>(QStringLiteral("IDM_SEND_FILE"));
    QTRY_VERIFY(send->isEnabled());
    send->trigger();
    QTRY_COMPARE(fileItems(),
                 QStringList{"mine.txt \u2014 5 bytes, from you (choose to withdraw)"});
    QVERIFY(cid.readUntil("msg\n-1\nOffering a file: mine.txt (5 bytes). [Parlox file "));
    QTRY_VERIFY(log().contains(QStringLiteral("<Ann>: Offering a file: mine.txt (5 bytes).")));

    // A file dropped on the log is offered too.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(write(QStringLiteral("R&D notes"), "notes"))});
    QWidget* logArea = control<QPlainTextEdit>("IDC_LOG")->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(logArea, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(logArea, &drop);
    QTRY_COMPARE(fileItems().first(),
                 QStringLiteral("R&&D notes \u2014 5 bytes, from you (choose to withdraw)"));

    // Another window's offer: saving it asks where, in the Downloads folder first.
    OtherWindow bob("Bob", ProgramPort(tcpPort));
    QVERIFY(bob.joined);
    bob.files.offerFile(write(QStringLiteral("b.bin"), QByteArray("\0\1\2", 3)).toStdString());
    QTRY_COMPARE(fileItems().first(), QStringLiteral("b.bin \u2014 3 bytes, from Bob"));
    QString suggested;
    const QString target = folder.filePath(QStringLiteral("saved.bin"));
    menu->chooseSaveTarget = [&](const QString& path) {
        suggested = path;
        return target;
    };
    chooseFileItem(QStringLiteral("b.bin"));
    QTRY_VERIFY(log().contains(QStringLiteral("<<Saved b.bin (3 bytes) as %1>>").arg(target)));
    QCOMPARE(suggested,
             QStandardPaths::writableLocation(QStandardPaths::DownloadLocation) + "/b.bin");
    QFile saved(target);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("\0\1\2", 3));

    // Withdrawing takes the own offers away.
    chooseFileItem(QStringLiteral("mine.txt"));
    chooseFileItem(QStringLiteral("R&&D notes"));
    QTRY_COMPARE(fileItems(), QStringList{"b.bin \u2014 3 bytes, from Bob"});
}

void WindowRolesTest::closingWhileHostingTellsTheClients() {
    const uint16_t tcpPort = hostAsAnn();
    RawPeer bob = RawPeer::connectTo(tcpPort);
    bob.send("login\nBob\n");
    QVERIFY(bob.readUntil("login\n0\nBob\n"));
    window->close();
    QVERIFY(bob.readEnd());
    QVERIFY(bob.take().find("logoff\n-1\n") != std::string::npos);
}

QTEST_MAIN(WindowRolesTest)
#include "window_roles_test.moc"
