// The real window with the real commands on the offscreen platform: Connect, Enter and the host's
// departure against a fake host; Host, its banner, Enter while hosting and Host again against raw
// clients; the Files menu and drops while hosting; closing the window while hosting.
#include "app/qt/files_menu.h"
#include "app/qt/main_window.h"
#include "chat/program_state.h"
#include "commands/commands.h"
#include "tests/support/chat_state.h"
#include "tests/support/find_control.h"
#include "tests/support/loopback.h"
#include "tests/support/other_window.h"

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
#include <QUrl>

#include <memory>

class WindowRolesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void connectEnterAndTheHostsDeparture();
    void hostBannerEnterAndHostAgain();
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
    fill("IDC_NAME", QStringLiteral("Bob"));
    fill("IDC_PORT", QString::number(host.programPort()));
    press("IDC_CONNECT");
    RawPeer peer = host.accept();
    QVERIFY(peer.readUntil("login\nBob\n"));
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

void WindowRolesTest::filesMenuOffersSavesAndWithdraws() {
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
