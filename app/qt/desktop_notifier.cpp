// DesktopNotifier: org.freedesktop.Notifications.Notify as a call whose answer (the id that
// later updates replace) arrives whenever it does.
#include "app/qt/desktop_notifier.h"

#include "app/qt/app_icon.h"
#include "app/qt/session_bus.h"
#include "features/notification_text.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <QWidget>

namespace {

const QString SERVICE = QStringLiteral("org.freedesktop.Notifications");
const QString PATH = QStringLiteral("/org/freedesktop/Notifications");
const QString INTERFACE = QStringLiteral("org.freedesktop.Notifications");

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

DesktopNotifier::DesktopNotifier(QWidget* target) : QObject(target), window(target) {
    if (!SessionBusAddressKnown())
        return;
    QDBusConnection session = QDBusConnection::sessionBus();
    bus = session.isConnected();
    if (!bus)
        return;
    session.connect(SERVICE, PATH, INTERFACE, QStringLiteral("ActionInvoked"), this,
                    SLOT(actionInvoked(uint, QString)));
    session.connect(SERVICE, PATH, INTERFACE, QStringLiteral("NotificationClosed"), this,
                    SLOT(notificationClosed(uint, uint)));
}

void DesktopNotifier::show(const Notification& notification) {
    QApplication::alert(window);
    if (!bus)
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(SERVICE, PATH, INTERFACE, QStringLiteral("Notify"));
    const QString appId = QString::fromUtf8(APP_ID);
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), appId);
    hints.insert(QStringLiteral("category"), QStringLiteral("im.received"));
    if (notification.sound)
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    // Servers that read markup in the body would take "<b>" from a chat text as markup.
    call << QStringLiteral("Parlox") << (notification.replaces ? shownId : 0u) << appId
         << FromUtf8(notification.summary) << FromUtf8(EscapeMarkup(notification.body))
         << QStringList{QStringLiteral("default"), QStringLiteral("Open Parlox")} << hints
         << int(-1);
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isValid())
                    shownId = reply.value();
                finished->deleteLater();
            });
}

void DesktopNotifier::withdraw() {
    if (!bus || shownId == 0)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(SERVICE, PATH, INTERFACE,
                                                       QStringLiteral("CloseNotification"));
    call << shownId;
    QDBusConnection::sessionBus().send(call);
    shownId = 0;
}

void DesktopNotifier::actionInvoked(uint id, const QString& action) {
    if (id == 0 || id != shownId || action != QStringLiteral("default"))
        return;
    window->show();
    window->raise();
    window->activateWindow();
}

void DesktopNotifier::notificationClosed(uint id, uint) {
    if (id == shownId)
        shownId = 0;
}
