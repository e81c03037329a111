// The window on a real X server (Xvfb) among the desktop's own programs, each started by the test
// on a session bus of its own: the Orca screen reader on the test's accessibility bus speaks lines
// from others while the input line has the focus, and never own or program lines; AT-SPI reads the
// log line by line and the list name by name; a stand-in notification-area host sees the icon with
// the unread count, brings the window back through it and quits through its menu; a stand-in
// settings portal turns the window dark and light. Qt's accessibility bridge and its tray icon
// work on the xcb platform only, hence the X server.
#include "app/qt/main_window.h"
#include "app/qt/window_extras.h"
#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "tests/support/contrast.h"
#include "tests/support/find_control.h"

#include <QAction>
#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A program the test started, ended with the test.
struct Child {
    pid_t pid = 0;
    ~Child() { stop(); }
    void stop() {
        if (pid <= 0)
            return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        pid = 0;
    }
};

// Starts argv with descriptor 3 as out (when given) and its output to /dev/null. The program is
// told to end with the test, should the test itself end abruptly. Only before the test has a
// second thread.
pid_t Spawn(std::vector<std::string> argv, int out = -1) {
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid < 0 ? 0 : pid;
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (out >= 0)
        ::dup2(out, 3);
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

// Starts argv with its descriptor 3 on a new pipe, and returns the first line the program writes
// there (the X server's display number, the bus's address), waiting at most ten seconds.
std::string StartAndReadLine(Child& child, std::vector<std::string> argv) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return {};
    child.pid = Spawn(std::move(argv), pipeEnds[1]);
    const int failed = child.pid > 0 ? 0 : 1;
    ::close(pipeEnds[1]);
    std::string line;
    QElapsedTimer waited;
    waited.start();
    while (failed == 0 && line.find('\n') == std::string::npos && waited.elapsed() < 10000) {
        pollfd ready{pipeEnds[0], POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        char buffer[256];
        const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        line.append(buffer, static_cast<size_t>(got));
    }
    ::close(pipeEnds[0]);
    return line.substr(0, line.find('\n'));
}

// Runs argv to its end, at most 30 seconds; true when it succeeded.
bool Run(std::vector<std::string> argv) {
    Child child;
    child.pid = Spawn(std::move(argv));
    if (child.pid <= 0)
        return false;
    int status = 0;
    for (int waited = 0; waited < 3000; ++waited) {
        if (::waitpid(child.pid, &status, WNOHANG) == child.pid) {
            child.pid = 0;
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        ::usleep(10000);
    }
    return false;
}

// The X server and the session bus, started before the program has a second thread. The
// accessibility bus comes with the session bus: the bus starts at-spi-bus-launcher when it is
// first asked for its address (here, before the window's bridge looks for it), and it ends with
// the bus.
struct Desktop {
    Child xserver, bus;
    std::string failure;
    std::string runtime; // the buses' sockets, the accessibility bus's included

    bool start() {
        char folder[] = "/tmp/parlox-desktop-test-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            failure = "no runtime folder";
            return false;
        }
        runtime = folder;
        ::setenv("XDG_RUNTIME_DIR", folder, 1);
        const std::string display =
            StartAndReadLine(xserver, {"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24",
                                       "-nolisten", "tcp"});
        if (display.empty()) {
            failure = "Xvfb did not start";
            return false;
        }
        const std::string address =
            StartAndReadLine(bus, {"dbus-daemon", "--session", "--nofork", "--print-address=3"});
        if (address.empty()) {
            failure = "dbus-daemon did not start";
            return false;
        }
        ::setenv("DISPLAY", (":" + display).c_str(), 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        if (!Run({"dbus-send", "--session", "--print-reply", "--reply-timeout=20000",
                  "--dest=org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"})) {
            failure = "the accessibility bus (at-spi-bus-launcher) did not start";
            return false;
        }
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        // Qt's bridge otherwise waits for the desktop to say that a screen reader runs.
        ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
        return true;
    }

    ~Desktop() {
        bus.stop();
        xserver.stop();
        if (!runtime.empty())
            Run({"rm", "-rf", runtime});
    }
};

Desktop TheDesktop;
bool DesktopStarted = false;

const QString WATCHER = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString ITEM = QStringLiteral("org.kde.StatusNotifierItem");
const QString PORTAL = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PORTAL_PATH = QStringLiteral("/org/freedesktop/portal/desktop");
const QString SETTINGS = QStringLiteral("org.freedesktop.portal.Settings");

} // namespace

// The stand-in host of the notification area: items register with it, as with a desktop's panel.
class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const {
        std::lock_guard<std::mutex> guard(mutex);
        return registered;
    }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) {
        std::lock_guard<std::mutex> guard(mutex);
        registered << service;
    }
    void RegisterStatusNotifierHost(const QString&) {}

public:
    void forget() {
        std::lock_guard<std::mutex> guard(mutex);
        registered.clear();
    }

private:
    mutable std::mutex mutex;
    QStringList registered;
};

// The stand-in settings portal: the color-scheme the test sets, wrapped twice in variants as the
// real portal's Read answers.
class Portal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    std::atomic<uint> scheme{0};

public Q_SLOTS:
    QDBusVariant Read(const QString& space, const QString& key) {
        if (space != QStringLiteral("org.freedesktop.appearance") ||
            key != QStringLiteral("color-scheme"))
            return QDBusVariant(QVariant::fromValue(QDBusVariant(QString())));
        return QDBusVariant(QVariant::fromValue(QDBusVariant(uint(scheme))));
    }
};

// Both stand-ins, on a thread of their own: Qt asks the host synchronously whether it is there.
class Services : public QThread {
public:
    Watcher watcher;
    Portal portal;

    bool begin() {
        watcher.moveToThread(this);
        portal.moveToThread(this);
        start();
        bool ok = false;
        QMetaObject::invokeMethod(
            &watcher,
            [this, &ok] {
                QDBusConnection bus = QDBusConnection::connectToBus(
                    qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("services"));
                ok = bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                        QDBusConnection::ExportAllContents) &&
                     bus.registerService(WATCHER) &&
                     bus.registerObject(PORTAL_PATH, &portal, QDBusConnection::ExportAllSlots) &&
                     bus.registerService(PORTAL);
            },
            Qt::BlockingQueuedConnection);
        return ok;
    }

    void settingChanged(uint scheme) {
        portal.scheme = scheme;
        QDBusMessage signal =
            QDBusMessage::createSignal(PORTAL_PATH, SETTINGS, QStringLiteral("SettingChanged"));
        signal << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
               << QVariant::fromValue(QDBusVariant(scheme));
        QDBusConnection(QStringLiteral("services")).send(signal);
    }

    ~Services() override {
        quit();
        wait();
    }
};

class DesktopTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void orcaSpeaksLinesFromOthersOnly();
    void screenReadersReadTheLogByLineAndTheListByName();
    void notificationAreaIconCountsUnreadLinesAndBringsTheWindowBack();
    void closedWindowKeepsRunningInTheNotificationAreaUntilQuit();
    void themeFollowsTheDesktopAndTheViewMenu();
    void emojiShowInColour();

private:
    void openWindow();
    void connectAs(const char* name);
    QAction* action(const char* name) { return FindControl<QAction>(window.get(), name); }
    // A call to another program on the bus, its answer waited for while the window goes on.
    QDBusMessage call(const QDBusMessage& message);
    QVariant property(const QString& service, const QString& path, const QString& interface,
                      const char* name);
    QString trayItem() const;
    bool nameOnBus(const QString& name);

    std::unique_ptr<Services> services;
    std::unique_ptr<MainWindow> window;
    std::vector<std::string> commands;
    QPalette startPalette;
};

void DesktopTest::initTestCase() {
    QVERIFY2(DesktopStarted, TheDesktop.failure.c_str());
    startPalette = QApplication::palette();
    services = std::make_unique<Services>();
    QVERIFY(services->begin());
}

void DesktopTest::init() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Parlox"),
              QStringLiteral("Parlox"))
        .clear();
    services->portal.scheme = 0;
    services->watcher.forget();
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        ResetChatView(true);
    }
    commands.clear();
    openWindow();
}

void DesktopTest::cleanup() {
    window.reset();
}

// As at a program's start: the system's palette, whatever the last window chose.
void DesktopTest::openWindow() {
    QApplication::setPalette(startPalette);
    window = std::make_unique<MainWindow>(
        WindowCommands{[this](const FieldTexts&) { commands.push_back("connect"); },
                       [this](const FieldTexts&) { commands.push_back("host"); },
                       [this](const std::string&) { commands.push_back("enter"); },
                       [this] {
                           commands.push_back("close");
                       }});
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
}

void DesktopTest::connectAs(const char* name) {
    FindControl<QLineEdit>(window.get(), "IDC_NAME")->setText(QString::fromUtf8(name));
    FindControl<QPushButton>(window.get(), "IDC_CONNECT")->click();
}

QDBusMessage DesktopTest::call(const QDBusMessage& message) {
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 10000);
    QElapsedTimer waited;
    waited.start();
    while (!pending.isFinished() && waited.elapsed() < 15000)
        QTest::qWait(10);
    return pending.reply();
}

QVariant DesktopTest::property(const QString& service, const QString& path,
                               const QString& interface, const char* name) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << QString::fromUtf8(name);
    const QDBusMessage answer = call(get);
    const QList<QVariant> reply = answer.arguments();
    return reply.isEmpty() ? QVariant() : reply[0].value<QDBusVariant>().variant();
}

bool DesktopTest::nameOnBus(const QString& name) {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << name;
    return call(ask).arguments().value(0).toBool();
}

QString DesktopTest::trayItem() const {
    const QStringList items = services->watcher.items();
    return items.isEmpty() ? QString() : items.last();
}

namespace {

// A pseudo-terminal for Orca's debug log: Python writes a terminal line by line, where it would
// hold a file's lines back until its buffer fills. A thread of the test reads it as it comes.
class TerminalLog {
public:
    bool open() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return false;
        termios raw{};
        ::tcgetattr(master, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(master, TCSANOW, &raw);
        if (::pipe(stopPipe) != 0)
            return false;
        reader = std::thread([this] { read(); });
        return true;
    }
    QString path() const { return QString::fromLocal8Bit(::ptsname(master)); }
    std::string text() const {
        std::lock_guard<std::mutex> guard(mutex);
        return kept;
    }
    // Every "SPEECH OUTPUT: '...'" line so far, the text between the quotes.
    QStringList spoken() const {
        QStringList said;
        const QString all = QString::fromUtf8(text());
        const QString marker = QStringLiteral("SPEECH OUTPUT: '");
        for (qsizetype at = all.indexOf(marker); at >= 0; at = all.indexOf(marker, at + 1)) {
            const qsizetype start = at + marker.size();
            const qsizetype end = all.indexOf(QLatin1Char('\n'), start);
            said << all.mid(start, end < 0 ? -1 : end - start);
        }
        return said;
    }
    ~TerminalLog() {
        if (reader.joinable()) {
            (void)::write(stopPipe[1], "x", 1);
            reader.join();
        }
        for (int fd : {master, stopPipe[0], stopPipe[1]})
            if (fd >= 0)
                ::close(fd);
    }

private:
    void read() {
        for (;;) {
            pollfd ready[2] = {{master, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
            if (::poll(ready, 2, -1) < 0 || (ready[1].revents & POLLIN))
                return;
            char buffer[4096];
            const ssize_t got = ::read(master, buffer, sizeof buffer);
            if (got > 0) {
                std::lock_guard<std::mutex> guard(mutex);
                kept.append(buffer, static_cast<size_t>(got));
            } else if (got < 0 && errno != EINTR && errno != EAGAIN) {
                // No writer yet, or Orca ended: wait for the next one without spinning.
                pollfd stop{stopPipe[0], POLLIN, 0};
                if (::poll(&stop, 1, 50) > 0)
                    return;
            }
        }
    }

    int master = -1;
    int stopPipe[2] = {-1, -1};
    mutable std::mutex mutex;
    std::string kept;
    std::thread reader;
};

bool AnySpoken(const QStringList& spoken, const char* part) {
    for (const QString& said : spoken)
        if (said.contains(QString::fromUtf8(part)))
            return true;
    return false;
}

} // namespace

void DesktopTest::orcaSpeaksLinesFromOthersOnly() {
    QLineEdit* input = FindControl<QLineEdit>(window.get(), "IDC_INPUT");
    connectAs("Ann");
    input->setFocus();
    QTRY_VERIFY(input->hasFocus());

    QTemporaryDir home;
    TerminalLog log;
    QVERIFY(log.open());
    QProcess orca;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // No speech synthesizer is started (its library would spawn one): the debug log records
    // what Orca says all the same.
    environment.insert(QStringLiteral("SPEECHD_CMD"), QStringLiteral("/bin/false"));
    environment.insert(QStringLiteral("HOME"), home.path());
    orca.setProcessEnvironment(environment);
    orca.start(QStringLiteral("orca"), {QStringLiteral("--user-prefs"), home.path(),
                                        QStringLiteral("--debug-file"), log.path()});
    QVERIFY2(orca.waitForStarted(10000), "orca did not start");
    const auto stopOrca = qScopeGuard([&orca] {
        orca.terminate();
        if (!orca.waitForFinished(10000))
            orca.kill();
        orca.waitForFinished(5000);
    });
    // Orca follows the window: it says where the focus is.
    QTRY_VERIFY_WITH_TIMEOUT(AnySpoken(log.spoken(), "Message"), 60000);

    AppendChatLine("Ann", "my own line");
    AppendLog("<<Error: %s>>", "a program line");
    AppendChatLine("Bob", "hello from Bob");
    QTRY_VERIFY_WITH_TIMEOUT(AnySpoken(log.spoken(), "Bob: hello from Bob"), 30000);

    // A burst is one announcement, once two seconds have passed since the last.
    AppendChatLine("Bob", "one");
    AppendChatLine("Cy", "two");
    AppendChatLine("Bob", "three");
    QTRY_VERIFY_WITH_TIMEOUT(AnySpoken(log.spoken(), "3 new lines, from Bob and Cy"), 30000);

    // Turned off, nothing is said; turned on again, the next line is.
    action("IDM_ANNOUNCE")->trigger();
    AppendChatLine("Bob", "unheard");
    QTRY_COMPARE(FindControl<QPlainTextEdit>(window.get(), "IDC_LOG")->blockCount(), 7);
    action("IDM_ANNOUNCE")->trigger();
    AppendChatLine("Bob", "heard again");
    QTRY_VERIFY_WITH_TIMEOUT(AnySpoken(log.spoken(), "Bob: heard again"), 30000);

    // Everything Orca said came in order: what came after the own and the program lines is
    // there, so they were not left unsaid for lack of time.
    const QStringList spoken = log.spoken();
    for (const char* unsaid : {"my own line", "a program line", "unheard"})
        QVERIFY2(!AnySpoken(spoken, unsaid), qPrintable(spoken.join(QLatin1Char('\n'))));
}

void DesktopTest::screenReadersReadTheLogByLineAndTheListByName() {
    AppendChatLine("Bob", "first line");
    AppendLog("<<Connected to: %s on port %d>>", "10.0.0.7", 5000);
    AppendChatLine("Cy", std::string(300, 'w').c_str()); // wraps in the view, one line all the same
    SetUserName(0, "Bob");
    SetUserName(1, "Cy");
    SetUserName(2, "Zo\xC3\xAB");
    QTRY_COMPARE(FindControl<QListWidget>(window.get(), "IDC_USERS")->count(), 3);

    // The window joins the accessibility bus shortly after it opens; until then the reader does
    // not find it, and tries again.
    QString output, error;
    QElapsedTimer tried;
    tried.start();
    for (bool read = false; !read && tried.elapsed() < 60000;) {
        QProcess reader;
        reader.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(PARLOX_SOURCE_DIR "/tests/app/atspi_read.py"),
                      QCoreApplication::applicationName()});
        QTRY_VERIFY_WITH_TIMEOUT(reader.state() == QProcess::NotRunning, 60000);
        output = QString::fromUtf8(reader.readAllStandardOutput());
        error = QString::fromUtf8(reader.readAllStandardError());
        read = reader.exitStatus() == QProcess::NormalExit && reader.exitCode() == 0;
    }
    QVERIFY2(!output.isEmpty(), qPrintable(error));
    const QStringList found = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);

    QStringList lines, items;
    for (const QString& entry : found) {
        if (entry.startsWith(QStringLiteral("line|")))
            lines << entry.mid(5);
        if (entry.startsWith(QStringLiteral("item|")))
            items << entry.mid(5);
    }
    QVERIFY2(lines.size() == 3, qPrintable(output));
    QCOMPARE(lines, QStringList({QStringLiteral("<Bob>: first line"),
                                 QStringLiteral("<<Connected to: 10.0.0.7 on port 5000>>"),
                                 QStringLiteral("<Cy>: ") + QString(300, QLatin1Char('w'))}));
    QCOMPARE(items, QStringList({QStringLiteral("Bob"), QStringLiteral("Cy"),
                                 QString::fromUtf8("Zo\xC3\xAB")}));
    for (const char* control :
         {"|Name", "|IP", "|Port", "|Connect", "|Host", "|Chat log", "|Message", "|Users"}) {
        const auto named = [&](const QString& entry) {
            return entry.startsWith(QStringLiteral("control|")) &&
                   entry.endsWith(QString::fromUtf8(control));
        };
        QVERIFY2(std::any_of(found.begin(), found.end(), named), control);
    }
}

void DesktopTest::notificationAreaIconCountsUnreadLinesAndBringsTheWindowBack() {
    connectAs("Ann");
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    QVERIFY(!window->isActiveWindow());

    AppendChatLine("Bob", "one");
    AppendChatLine("Ann", "my own");
    AppendChatLine("Cy", "two");
    QTRY_VERIFY_WITH_TIMEOUT(!trayItem().isEmpty(), 10000);
    const QString item = trayItem();
    const QString path = QStringLiteral("/StatusNotifierItem");
    // The tool tip's title says the count, and the icon carries it in a red badge.
    QString title;
    QTRY_VERIFY_WITH_TIMEOUT(
        (title =
             [&] {
                 const QDBusArgument tip =
                     property(item, path, ITEM, "ToolTip").value<QDBusArgument>();
                 QString iconName, text, subtitle;
                 tip.beginStructure();
                 tip >> iconName;
                 tip.beginArray();
                 while (!tip.atEnd()) {
                     int width = 0, height = 0;
                     QByteArray pixels;
                     tip.beginStructure();
                     tip >> width >> height >> pixels;
                     tip.endStructure();
                 }
                 tip.endArray();
                 tip >> text >> subtitle;
                 tip.endStructure();
                 return text;
             }()) == QStringLiteral("Parlox: 2 unread lines"),
        10000);
    const QDBusArgument pixmaps = property(item, path, ITEM, "IconPixmap").value<QDBusArgument>();
    int red = 0;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
        int width = 0, height = 0;
        QByteArray argb; // each pixel alpha, red, green, blue
        pixmaps.beginStructure();
        pixmaps >> width >> height >> argb;
        pixmaps.endStructure();
        for (qsizetype at = 0; at + 3 < argb.size(); at += 4) {
            const auto alpha = uchar(argb[at]), r = uchar(argb[at + 1]), g = uchar(argb[at + 2]),
                       b = uchar(argb[at + 3]);
            red += alpha > 200 && r > 150 && g < 80 && b < 80;
        }
    }
    pixmaps.endArray();
    QVERIFY2(red > 20, qPrintable(QString::number(red)));

    // Choosing the icon brings the window forward; nothing is unread then, and the icon goes.
    QDBusMessage activate = QDBusMessage::createMethodCall(item, path, ITEM, "Activate");
    activate << 0 << 0;
    call(activate);
    QTRY_VERIFY(window->isActiveWindow());
    QTRY_VERIFY(!nameOnBus(item));
}

namespace {

// The id of the entry labelled label in a com.canonical.dbusmenu layout (id, properties,
// children as variants), or -1.
int MenuEntry(const QDBusArgument& layout, const QString& label) {
    int id = -1, found = -1;
    QVariantMap properties;
    layout.beginStructure();
    layout >> id >> properties;
    if (properties.value(QStringLiteral("label")).toString().remove(QLatin1Char('_')) == label)
        found = id;
    layout.beginArray();
    while (!layout.atEnd()) {
        QDBusVariant child;
        layout >> child;
        const int inChild = MenuEntry(child.variant().value<QDBusArgument>(), label);
        if (found < 0)
            found = inChild;
    }
    layout.endArray();
    layout.endStructure();
    return found;
}

} // namespace

void DesktopTest::closedWindowKeepsRunningInTheNotificationAreaUntilQuit() {
    action("IDM_KEEP_IN_NOTIFICATION_AREA")->trigger();
    connectAs("Ann");
    window->close();
    QVERIFY(!window->isVisible());
    QVERIFY(commands == std::vector<std::string>{"connect"}); // the room goes on
    QTRY_VERIFY_WITH_TIMEOUT(!trayItem().isEmpty(), 10000);
    QString item = trayItem();
    const QString path = QStringLiteral("/StatusNotifierItem");
    QTRY_COMPARE(property(item, path, ITEM, "Status").toString(), QStringLiteral("Active"));

    QDBusMessage activate = QDBusMessage::createMethodCall(item, path, ITEM, "Activate");
    activate << 0 << 0;
    call(activate);
    QTRY_VERIFY(window->isVisible());
    QTRY_VERIFY(!nameOnBus(item)); // nothing unread: the icon goes with the window back
    window->close();
    QTRY_VERIFY(!window->isVisible());
    QTRY_COMPARE(services->watcher.items().size(), 2);
    item = trayItem();

    // Quit in the icon's menu ends the room and the program.
    const QVariant menuProperty = property(item, path, ITEM, "Menu");
    const QString menu = menuProperty.value<QDBusObjectPath>().path();
    QVERIFY2(!menu.isEmpty(), menuProperty.typeName());
    const QString dbusMenu = QStringLiteral("com.canonical.dbusmenu");
    QDBusMessage getLayout = QDBusMessage::createMethodCall(item, menu, dbusMenu, "GetLayout");
    getLayout << 0 << -1 << QStringList();
    const QList<QVariant> layout = call(getLayout).arguments();
    QCOMPARE(layout.size(), 2);
    const int quit = MenuEntry(layout[1].value<QDBusArgument>(), QStringLiteral("Quit"));
    QVERIFY(quit > 0);
    QDBusMessage clicked = QDBusMessage::createMethodCall(item, menu, dbusMenu, "Event");
    clicked << quit << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
    call(clicked);
    QTRY_VERIFY((commands == std::vector<std::string>{"connect", "close"}));
}

namespace {

double Contrast(const QColor& a, const QColor& b) {
    return WcagContrast(a.red(), a.green(), a.blue(), b.red(), b.green(), b.blue());
}

} // namespace

void DesktopTest::themeFollowsTheDesktopAndTheViewMenu() {
    const auto log = [this] {
        return FindControl<QWidget>(window.get(), "IDC_LOG");
    };
    const auto dark = [&log] {
        return log()->palette().color(QPalette::Base).lightness() < 100;
    };
    // No preference: the window as it always was.
    QCOMPARE(QApplication::palette(), startPalette);

    // The window hears the portal's signals once its match for them is in place: the stand-in
    // says it again until then.
    QTRY_VERIFY((services->settingChanged(1), dark()));
    // Text stands out at least 4.5:1 in both themes, wherever the window shows text.
    for (bool darkTheme : {true, false}) {
        if (!darkTheme)
            action("IDM_THEME_LIGHT")->trigger();
        QTRY_COMPARE(dark(), darkTheme);
        const QPalette palette = log()->palette();
        const struct {
            QPalette::ColorRole text, background;
        } pairs[] = {{QPalette::WindowText, QPalette::Window},
                     {QPalette::Text, QPalette::Base},
                     {QPalette::ButtonText, QPalette::Button},
                     {QPalette::HighlightedText, QPalette::Highlight}};
        for (const auto& pair : pairs) {
            const double ratio = Contrast(palette.color(pair.text), palette.color(pair.background));
            QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1 on %2 in %3: %4")
                                                  .arg(int(pair.text))
                                                  .arg(int(pair.background))
                                                  .arg(darkTheme ? "dark" : "light")
                                                  .arg(ratio)));
        }
    }

    // The choice is remembered, and overrides the desktop; following it again turns dark again.
    window.reset();
    openWindow();
    QVERIFY(action("IDM_THEME_LIGHT")->isChecked());
    QVERIFY(!dark());
    action("IDM_THEME_FOLLOW_DESKTOP")->trigger();
    QTRY_VERIFY(dark());
    QTRY_VERIFY((services->settingChanged(2), !dark()));
    // With no preference again, the window is as it always was.
    QTRY_VERIFY((services->settingChanged(0), QApplication::palette() == startPalette));

    // A desktop that prefers dark at the start.
    window.reset();
    services->portal.scheme = 1;
    openWindow();
    QTRY_VERIFY(dark());
}

// Pixels of the log with a colour a reader's eye calls colourful: saturated, neither near black
// nor near white.
int ColourfulPixels(QWidget* log) {
    const QImage shown = log->grab().toImage();
    int colourful = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const QColor pixel = shown.pixelColor(x, y);
            colourful += pixel.hsvSaturation() > 100 && pixel.value() > 80;
        }
    return colourful;
}

void DesktopTest::emojiShowInColour() {
    auto* log = FindControl<QPlainTextEdit>(window.get(), "IDC_LOG");
    AppendChatLine("Bob", "plain words only");
    QTRY_VERIFY(!log->toPlainText().isEmpty());
    const int plain = ColourfulPixels(log);
    // A smiling face and a red heart: black-and-white faces have both, so only a colour font
    // shows them in colour.
    AppendChatLine("Bob", "\xF0\x9F\x98\x80 \xE2\x9D\xA4\xEF\xB8\x8F");
    QTRY_COMPARE(log->blockCount(), 2);
    const int withEmoji = ColourfulPixels(log);
    QVERIFY2(plain < 5 && withEmoji > plain + 50,
             qPrintable(QStringLiteral("%1 then %2").arg(plain).arg(withEmoji)));
}

int main(int argc, char** argv) {
    DesktopStarted = TheDesktop.start();
    QApplication app(argc, argv);
    DesktopTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "desktop_test.moc"
