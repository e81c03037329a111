// CloseOnSignal: SIGTERM and SIGINT ask a window to close, as its close box would.
#pragma once

#include "app/console/stop_request.h"

#include <QObject>

class QSocketNotifier;
class QWidget;

// A session that logs out, a service manager that stops the program and Ctrl+C in its terminal all
// send a signal; the window then closes through its usual close path, which ends the live roles
// politely. The signals come through a StopRequest, whose handle the window's thread watches. One
// at a time; the destructor puts the default handlers back.
class CloseOnSignal : public QObject {
    Q_OBJECT
public:
    explicit CloseOnSignal(QWidget* window);

private:
    void closeWindow();

    QWidget* window;
    StopRequest stop;
    QSocketNotifier* notifier = nullptr;
};
