// WindowExtras: the menus as checkable actions, the notification timer, and the window's
// activation watched through an event filter.
#include "app/qt/window_extras.h"

#include "app/qt/atspi_announcer.h"
#include "app/qt/desktop_notifier.h"
#include "app/qt/desktop_theme.h"
#include "app/qt/qt_settings_store.h"
#include "app/qt/tray_icon.h"
#include "features/window_features.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::filesystem::path TranscriptFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                           QStringLiteral("/transcripts");
    return std::filesystem::path(folder.toStdU16String());
}

QAction* AddChoice(QMenu* menu, const char* text, const char* objectName, bool checked) {
    QAction* action = menu->addAction(QString::fromUtf8(text));
    action->setObjectName(QString::fromUtf8(objectName));
    action->setCheckable(true);
    action->setChecked(checked);
    return action;
}

} // namespace

WindowExtras::WindowExtras(QWidget* target, QMenuBar* bar, QLineEdit* name, QLineEdit* address,
                           QLineEdit* port, std::function<void()> rerenderLog)
    : QObject(target), window(target), rerender(std::move(rerenderLog)),
      store(std::make_unique<QtSettingsStore>()), notifier(new DesktopNotifier(target)),
      announcer(new AtSpiAnnouncer(this)), tray(new TrayIcon(
                                               this, [this] { bringBack(); },
                                               [this] {
                                                   quitting = true;
                                                   window->close();
                                               })),
      features(std::make_unique<WindowFeatures>(*notifier, *announcer, *tray, *store,
                                                TranscriptFolder())),
      tickTimer(new QTimer(this)), theme(new DesktopTheme(this, features->settings().theme)) {
    chooseSaveFile = [this] {
        return QFileDialog::getSaveFileName(window, QStringLiteral("Save log"),
                                            QDir::homePath() + QStringLiteral("/parlox-log.txt"),
                                            QStringLiteral("Text files (*.txt)"));
    };
    const Settings& settings = features->settings();
    name->setText(FromUtf8(settings.name));
    address->setText(FromUtf8(settings.address));
    port->setText(FromUtf8(settings.port));
    addMenus(bar);
    tickTimer->setSingleShot(true);
    connect(tickTimer, &QTimer::timeout, this, [this] {
        features->tick();
        scheduleTick();
    });
    window->installEventFilter(this);
    // Announcements wait while the user types.
    if (auto* input = window->findChild<QLineEdit*>(QStringLiteral("IDC_INPUT")))
        connect(input, &QLineEdit::textEdited, this, [this] { features->keyTyped(); });
}

WindowExtras::~WindowExtras() = default;

void WindowExtras::addMenus(QMenuBar* bar) {
    // First on the bar, ahead of whatever menus it has (Log, Notify, then the others, About last).
    QAction* first = bar->actions().isEmpty() ? nullptr : bar->actions().first();
    const Settings& settings = features->settings();

    auto* log = new QMenu(QStringLiteral("Log"), bar);
    QAction* times = AddChoice(log, "Show &times", "IDM_SHOW_TIMES", settings.showTimes);
    connect(times, &QAction::toggled, this, [this](bool on) {
        features->setShowTimes(on);
        rerender();
    });
    QAction* save = log->addAction(QStringLiteral("&Save log\u2026"));
    save->setObjectName(QStringLiteral("IDM_SAVE_LOG"));
    connect(save, &QAction::triggered, this, &WindowExtras::saveLog);
    QAction* keep =
        AddChoice(log, "&Keep transcripts", "IDM_KEEP_TRANSCRIPTS", settings.keepTranscripts);
    connect(keep, &QAction::toggled, this, [this](bool on) { features->setKeepTranscripts(on); });
    bar->insertMenu(first, log);

    addNotifyMenu(bar, first);
    addViewMenu(bar, first);
}

void WindowExtras::addNotifyMenu(QMenuBar* bar, QAction* first) {
    const Settings& settings = features->settings();
    auto* notify = new QMenu(QStringLiteral("Notify"), bar);
    auto* group = new QActionGroup(notify);
    const struct {
        const char* text;
        const char* objectName;
        NotifyMode mode;
    } choices[] = {
        {"&Every line", "IDM_NOTIFY_EVERY_LINE", NotifyMode::EveryLine},
        {"Only lines that &mention my name", "IDM_NOTIFY_MENTIONS", NotifyMode::Mentions},
        {"&None", "IDM_NOTIFY_NONE", NotifyMode::None}};
    for (const auto& choice : choices) {
        QAction* action =
            AddChoice(notify, choice.text, choice.objectName, settings.notify == choice.mode);
        group->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, mode = choice.mode] { features->setNotifyMode(mode); });
    }
    notify->addSeparator();
    const struct {
        const char* text;
        const char* objectName;
        bool checked;
        void (WindowFeatures::*set)(bool);
    } switches[] = {
        {"&Announce new lines", "IDM_ANNOUNCE", settings.announce, &WindowFeatures::setAnnounce},
        {"&Sound", "IDM_SOUND", settings.sound, &WindowFeatures::setSound},
        {"&Keep running in the notification area when closed", "IDM_KEEP_IN_NOTIFICATION_AREA",
         settings.keepInNotificationArea, &WindowFeatures::setKeepInNotificationArea}};
    for (const auto& entry : switches) {
        QAction* action = AddChoice(notify, entry.text, entry.objectName, entry.checked);
        connect(action, &QAction::toggled, this,
                [this, set = entry.set](bool on) { (features.get()->*set)(on); });
    }
    bar->insertMenu(first, notify);
}

void WindowExtras::addViewMenu(QMenuBar* bar, QAction* first) {
    auto* view = new QMenu(QStringLiteral("View"), bar);
    auto* group = new QActionGroup(view);
    const struct {
        const char* text;
        const char* objectName;
        ThemeChoice choice;
    } choices[] = {{"&Follow the desktop", "IDM_THEME_FOLLOW_DESKTOP", ThemeChoice::FollowDesktop},
                   {"&Light", "IDM_THEME_LIGHT", ThemeChoice::Light},
                   {"&Dark", "IDM_THEME_DARK", ThemeChoice::Dark}};
    for (const auto& choice : choices) {
        QAction* action = AddChoice(view, choice.text, choice.objectName,
                                    features->settings().theme == choice.choice);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, chosen = choice.choice] {
            features->setTheme(chosen);
            theme->setChoice(chosen);
        });
    }
    bar->insertMenu(first, view);
}

void WindowExtras::roomStarting(bool hosting, const FieldTexts& fields) {
    features->roomStarting(hosting, fields);
}

void WindowExtras::linesArrived(const ChatViewModel::LogUpdate& update) {
    features->linesArrived(update, window->isActiveWindow());
    scheduleTick();
}

void WindowExtras::closing(const FieldTexts& fields) {
    features->closing(fields);
}

bool WindowExtras::hidOnClose() {
    if (quitting || !features->settings().keepInNotificationArea || !TrayIcon::available())
        return false;
    window->hide();
    features->windowHidden(true);
    return true;
}

void WindowExtras::bringBack() {
    window->show();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
    features->windowHidden(false);
}

void WindowExtras::saveLog() {
    const QString path = chooseSaveFile();
    if (!path.isEmpty())
        features->saveLog(path.toUtf8().toStdString());
}

void WindowExtras::scheduleTick() {
    const auto due = features->nextTick();
    if (!due || tickTimer->isActive())
        return;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        *due - NotificationPolicy::Clock::now());
    tickTimer->start(static_cast<int>(std::max<long long>(0, wait.count())));
}

bool WindowExtras::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window && event->type() == QEvent::ActivationChange) {
        if (window->isActiveWindow())
            features->windowActivated();
        else
            features->windowDeactivated();
    }
    return QObject::eventFilter(watched, event);
}
