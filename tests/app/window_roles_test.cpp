// The real window with the real commands on the offscreen platform: Connect, Enter and the host's
// departure against a fake host; Host, its banner, Enter while hosting and Host again against raw
// clients; closing the window while hosting.
#include "app/qt/main_window.h"
#include "chat/program_state.h"
#include "commands/commands.h"
#include "tests/support/chat_state.h"
#include "tests/support/find_control.h"
#include "tests/support/loopback.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

class WindowRolesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void connectEnterAndTheHostsDeparture();
    void hostBannerEnterAndHostAgain();
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
