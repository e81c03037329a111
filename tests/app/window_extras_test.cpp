// What the Qt window adds around the chat: desktop notifications against a stand-in notification
// service on a private session bus, the Notify and Log menus, times, "Save log..." through its
// seam, transcripts, and the fields remembered between windows, garbage in the store included.
#include "app/qt/app_icon.h"
#include "app/qt/main_window.h"
#include "app/qt/window_extras.h"
#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "tests/support/find_control.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCharFormat>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include <sys/types.h>

namespace {

const QString SERVICE = QStringLiteral("org.freedesktop.Notifications");
const QString PATH = QStringLiteral("/org/freedesktop/Notifications");

// The test's own session bus: a dbus-daemon started before the program has a second thread (a
// fork from a threaded program is what ThreadSanitizer refuses), ended when the program ends.
struct PrivateBus {
    std::string address;
    pid_t pid = 0;

    bool start() {
        FILE* out = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        if (out == nullptr)
            return false;
        char line[512];
        if (std::fgets(line, sizeof line, out) != nullptr)
            address = QByteArray(line).trimmed().toStdString();
        if (std::fgets(line, sizeof line, out) != nullptr)
            pid = static_cast<pid_t>(std::atoi(line));
        ::pclose(out);
        return !address.empty() && pid > 0;
    }
    ~PrivateBus() {
        if (pid > 0)
            ::kill(pid, SIGTERM);
    }
};

PrivateBus Bus;
bool BusStarted = false;

} // namespace

// The stand-in: records every Notify call and answers with an id, as a desktop's service would.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName;
        uint replacesId;
        QString icon, summary, body;
        QStringList actions;
        QVariantMap hints;
        int timeout;
    };
    QList<Call> calls;
    QList<uint> closed;

public Q_SLOTS:
    uint Notify(const QString& appName, uint replacesId, const QString& icon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int timeout) {
        calls.append({appName, replacesId, icon, summary, body, actions, hints, timeout});
        return replacesId != 0 ? replacesId : 40 + uint(calls.size());
    }
    void CloseNotification(uint id) { closed.append(id); }
};

class WindowExtrasTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void menusStandBeforeAbout();
    void lineFromSomeoneElseNotifiesOthersNever();
    void linesWithinTwoSecondsUpdateTheNotification();
    void notifyChoicesAndBoldMentions();
    void clickingTheNotificationRaisesTheWindow();
    void withoutAServiceNothingShowsAndNothingWaits();
    void showTimesRerendersTheLog();
    void saveLogAndKeptTranscripts();
    void fieldsAndChoicesAreRemembered();
    void garbageInTheStoreIsIgnored();

private:
    void openWindow();
    void connectAs(const QString& name);
    QAction* action(const char* name) { return FindControl<QAction>(window.get(), name); }
    QPlainTextEdit* log() { return FindControl<QPlainTextEdit>(window.get(), "IDC_LOG"); }
    QLineEdit* field(const char* name) { return FindControl<QLineEdit>(window.get(), name); }

    NotificationService service;
    std::unique_ptr<QDBusConnection> serviceBus;
    std::unique_ptr<MainWindow> window;
};

void WindowExtrasTest::initTestCase() {
    // The window finds the test's bus through the usual variable, set in main.
    QVERIFY2(BusStarted, "dbus-daemon did not start");
    serviceBus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(
        QString::fromStdString(Bus.address), QStringLiteral("service")));
    QVERIFY(serviceBus->isConnected());
    QVERIFY(serviceBus->registerObject(PATH, &service, QDBusConnection::ExportAllSlots));
    QVERIFY(serviceBus->registerService(SERVICE));
}

void WindowExtrasTest::cleanupTestCase() {
    serviceBus.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
}

void WindowExtrasTest::init() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Parlox"),
              QStringLiteral("Parlox"))
        .clear();
    service.calls.clear();
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        ResetChatView(true);
    }
    openWindow();
}

void WindowExtrasTest::cleanup() {
    window.reset();
}

// Recorded commands, and a window that is never shown: it is not the active one, as when the user
// looks at another program.
void WindowExtrasTest::openWindow() {
    window = std::make_unique<MainWindow>(WindowCommands{
        [](const FieldTexts&) {}, [](const FieldTexts&) {}, [](const std::string&) {},
        [] {
        }});
}

void WindowExtrasTest::connectAs(const QString& name) {
    field("IDC_NAME")->setText(name);
    FindControl<QPushButton>(window.get(), "IDC_CONNECT")->click();
}

void WindowExtrasTest::menusStandBeforeAbout() {
    QStringList titles;
    for (QAction* menu : window->findChild<QMenuBar*>()->actions())
        titles << menu->text();
    QCOMPARE(titles, QStringList({"Log", "Notify", "View", "Rooms", "Files", "About"}));
    QVERIFY(action("IDM_NOTIFY_EVERY_LINE")->isChecked());
    QVERIFY(action("IDM_ANNOUNCE")->isChecked());
    QVERIFY(action("IDM_THEME_FOLLOW_DESKTOP")->isChecked());
    for (const char* off : {"IDM_SHOW_TIMES", "IDM_KEEP_TRANSCRIPTS", "IDM_SOUND",
                            "IDM_KEEP_IN_NOTIFICATION_AREA", "IDM_THEME_LIGHT", "IDM_THEME_DARK"})
        QVERIFY2(!action(off)->isChecked(), off);
    QCOMPARE(field("IDC_NAME")->text(), QStringLiteral("<name>"));
    QCOMPARE(field("IDC_ADDRESS")->text(), QStringLiteral("localhost"));
    QCOMPARE(field("IDC_PORT")->text(), QStringLiteral("5000"));
}

void WindowExtrasTest::lineFromSomeoneElseNotifiesOthersNever() {
    connectAs(QStringLiteral("Ann"));
    AppendLog("<<Connected to: %s on port %d>>", "10.0.0.7", 5000);
    SetUserName(2, "Cy");
    AppendChatLine("Ann", "my own line");
    // The body is markup to the service, and it shows breaks and frame markers as marks.
    AppendChatLine("B\xEF\xB7\x90ob", "<b>hi</b>\xE2\x80\xA9\xEF\xB7\x91 & bye");
    QTRY_COMPARE(service.calls.size(), 1);
    const NotificationService::Call& call = service.calls[0];
    QCOMPARE(call.appName, QStringLiteral("Parlox"));
    QCOMPARE(call.replacesId, 0u);
    QCOMPARE(call.icon, QString::fromUtf8(APP_ID));
    QCOMPARE(call.summary, QStringLiteral("B\uFFFDob in Parlox"));
    QCOMPARE(call.body, QStringLiteral("&lt;b&gt;hi&lt;/b&gt;\u00B6\uFFFD &amp; bye"));
    QVERIFY(call.actions.contains(QStringLiteral("default")));
    QCOMPARE(call.hints.value(QStringLiteral("desktop-entry")).toString(),
             QString::fromUtf8(APP_ID));
    QVERIFY(!call.hints.contains(QStringLiteral("sound-name"))); // Sound is off at first
}

// With Sound on, the burst's first notification asks for the message sound and its update does not.
void WindowExtrasTest::linesWithinTwoSecondsUpdateTheNotification() {
    const QString sound = QStringLiteral("sound-name");
    action("IDM_SOUND")->trigger();
    connectAs(QStringLiteral("Ann"));
    AppendChatLine("Bob", "one");
    QTRY_COMPARE(service.calls.size(), 1);
    QCOMPARE(service.calls[0].hints.value(sound).toString(), QStringLiteral("message-new-instant"));
    AppendChatLine("Bob", "two");
    AppendChatLine("Cy", "three");
    QTRY_COMPARE_WITH_TIMEOUT(service.calls.size(), 2, 10000);
    QCOMPARE(service.calls[1].replacesId, 41u);
    QCOMPARE(service.calls[1].body, QStringLiteral("3 new lines"));
    QCOMPARE(service.calls[1].summary, QStringLiteral("Cy in Parlox"));
    QVERIFY(!service.calls[1].hints.contains(sound));
}

void WindowExtrasTest::notifyChoicesAndBoldMentions() {
    connectAs(QStringLiteral("Ann"));
    // The choice applies to the lines the window takes in while it holds.
    action("IDM_NOTIFY_NONE")->trigger();
    AppendChatLine("Bob", "hi Ann");
    QTRY_COMPARE(log()->document()->blockCount(), 1);
    QTRY_VERIFY(!log()->toPlainText().isEmpty());
    action("IDM_NOTIFY_MENTIONS")->trigger();
    AppendChatLine("Bob", "hello all");
    AppendChatLine("Bob", "hey ANN, look");
    // The first call is the mention: neither line before it notified.
    QTRY_COMPARE(service.calls.size(), 1);
    QCOMPARE(service.calls[0].body, QStringLiteral("hey ANN, look"));

    QTRY_COMPARE(log()->document()->blockCount(), 3);
    const auto bold = [this](int line) {
        const QTextBlock block = log()->document()->findBlockByNumber(line);
        return block.begin().fragment().charFormat().fontWeight() == QFont::Bold;
    };
    QVERIFY(bold(0));
    QVERIFY(!bold(1));
    QVERIFY(bold(2));
    QCOMPARE(log()->toPlainText(),
             QStringLiteral("<Bob>: hi Ann\n<Bob>: hello all\n<Bob>: hey ANN, look"));
}

void WindowExtrasTest::clickingTheNotificationRaisesTheWindow() {
    connectAs(QStringLiteral("Ann"));
    AppendChatLine("Bob", "come back");
    QTRY_COMPARE(service.calls.size(), 1);
    QVERIFY(!window->isVisible());
    QDBusMessage click = QDBusMessage::createSignal(PATH, SERVICE, QStringLiteral("ActionInvoked"));
    click << 41u << QStringLiteral("default");
    // The id comes back asynchronously; the window takes clicks on the notification it knows.
    QTRY_VERIFY((serviceBus->send(click), window->isVisible()));
}

void WindowExtrasTest::withoutAServiceNothingShowsAndNothingWaits() {
    QVERIFY(serviceBus->unregisterService(SERVICE));
    connectAs(QStringLiteral("Ann"));
    AppendChatLine("Bob", "anyone?");
    AppendChatLine("Bob", "still there?");
    QTRY_COMPARE(log()->document()->blockCount(), 2);
    QCOMPARE(log()->toPlainText(), QStringLiteral("<Bob>: anyone?\n<Bob>: still there?"));
    QVERIFY(serviceBus->registerService(SERVICE));
    QCOMPARE(service.calls.size(), 0);
}

void WindowExtrasTest::showTimesRerendersTheLog() {
    AppendChatLine("Bob", "hi");
    AppendLog("<<Error: %s>>", "x");
    QTRY_COMPARE(log()->document()->blockCount(), 2);
    action("IDM_SHOW_TIMES")->trigger();
    const QStringList lines = log()->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\[\\d\\d:\\d\\d\\] <Bob>: hi$"))
                 .match(lines[0])
                 .hasMatch(),
             qPrintable(lines[0]));
    QVERIFY2(lines[1].endsWith(QStringLiteral("] <<Error: x>>")), qPrintable(lines[1]));
    AppendChatLine("Bob", "later");
    QTRY_COMPARE(log()->document()->blockCount(), 3);
    QVERIFY(log()->toPlainText().split(QLatin1Char('\n'))[2].startsWith(QLatin1Char('[')));
    action("IDM_SHOW_TIMES")->trigger();
    QCOMPARE(log()->toPlainText(), QStringLiteral("<Bob>: hi\n<<Error: x>>\n<Bob>: later"));
}

void WindowExtrasTest::saveLogAndKeptTranscripts() {
    action("IDM_KEEP_TRANSCRIPTS")->trigger();
    field("IDC_ADDRESS")->setText(QStringLiteral("10.0.0.7"));
    connectAs(QStringLiteral("Ann"));
    AppendChatLine("Bob", "hi");

    QTemporaryDir folder;
    const QString saved = folder.filePath(QStringLiteral("log.txt"));
    window->findChild<WindowExtras*>()->chooseSaveFile = [&saved] {
        return saved;
    };
    action("IDM_SAVE_LOG")->trigger();
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 3); // header, the line, and the end after the last feed
    QVERIFY2(lines[0].startsWith(QStringLiteral("Parlox transcript, connected to 10.0.0.7 port "
                                                "5000, saved ")),
             qPrintable(lines[0]));
    QVERIFY(lines[1].endsWith(QStringLiteral("] <Bob>: hi")));

    window->close(); // flushes the transcript
    QFile transcript(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                     QStringLiteral("/transcripts/10.0.0.7-5000.txt"));
    QVERIFY(transcript.open(QIODevice::ReadOnly));
    QVERIFY(transcript.readAll().contains("] <Bob>: hi\n"));
}

void WindowExtrasTest::fieldsAndChoicesAreRemembered() {
    field("IDC_ADDRESS")->setText(QStringLiteral("chat.example.org"));
    field("IDC_PORT")->setText(QStringLiteral("6000"));
    action("IDM_NOTIFY_MENTIONS")->trigger();
    action("IDM_SHOW_TIMES")->trigger();
    connectAs(QStringLiteral("Zo\u00EB"));
    field("IDC_NAME")->setText(QStringLiteral("Zed")); // changed after Connect, kept on close
    window->close();
    window.reset();

    openWindow();
    QCOMPARE(field("IDC_NAME")->text(), QStringLiteral("Zed"));
    QCOMPARE(field("IDC_ADDRESS")->text(), QStringLiteral("chat.example.org"));
    QCOMPARE(field("IDC_PORT")->text(), QStringLiteral("6000"));
    QVERIFY(action("IDM_NOTIFY_MENTIONS")->isChecked());
    QVERIFY(!action("IDM_NOTIFY_EVERY_LINE")->isChecked());
    QVERIFY(action("IDM_SHOW_TIMES")->isChecked());
    QVERIFY(!action("IDM_KEEP_TRANSCRIPTS")->isChecked());
}

void WindowExtrasTest::garbageInTheStoreIsIgnored() {
    window.reset();
    {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Parlox"),
                        QStringLiteral("Parlox"));
        store.setValue(QStringLiteral("name"), QString(10 * 1024 * 1024, QLatin1Char('n')));
        store.setValue(QStringLiteral("port"), QStringLiteral("abc"));
        store.setValue(QStringLiteral("address"), QStringList{"a", "b"});
        store.setValue(QStringLiteral("notify"), 7);
        store.setValue(QStringLiteral("showTimes"), QStringLiteral("yes"));
    }
    openWindow();
    QCOMPARE(field("IDC_NAME")->text(), QString(99, QLatin1Char('n')));
    QCOMPARE(field("IDC_ADDRESS")->text(), QStringLiteral("localhost"));
    QCOMPARE(field("IDC_PORT")->text(), QStringLiteral("5000"));
    QVERIFY(action("IDM_NOTIFY_EVERY_LINE")->isChecked());
    QVERIFY(!action("IDM_SHOW_TIMES")->isChecked());
}

int main(int argc, char** argv) {
    BusStarted = Bus.start();
    if (BusStarted)
        ::setenv("DBUS_SESSION_BUS_ADDRESS", Bus.address.c_str(), 1);
    QApplication app(argc, argv);
    WindowExtrasTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "window_extras_test.moc"
