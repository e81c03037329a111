// DesktopNotifier: notifications through the desktop's notification service on the session bus,
// and the window's attention hint. Every call is asynchronous: the window never waits for the bus,
// and without a bus or a service nothing shows and nothing complains.
#pragma once

#include "features/notifier.h"

#include <QObject>

class QWidget;

class DesktopNotifier : public QObject, public Notifier {
    Q_OBJECT
public:
    // Clicking a notification raises window.
    explicit DesktopNotifier(QWidget* window);

    void show(const Notification& notification) override;
    void withdraw() override;

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    QWidget* window;
    bool bus = false; // a session bus was there when the window opened
    uint shownId = 0; // the service's id of the notification shown last, once it answered
};
