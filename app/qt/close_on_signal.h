// CloseOnSignal: SIGTERM and SIGINT ask a window to close, as its close box would.
#pragma once

#include <QObject>

class QSocketNotifier;
class QWidget;

// A session that logs out, a service manager that stops the program and Ctrl+C in its terminal all
// send a signal; the window then closes through its usual close path, which ends the live roles
// politely. The handler only writes a byte into a pipe (all a signal handler may safely do); the
// window's thread reads it and closes the window. One at a time; the destructor puts the default
// handlers back.
class CloseOnSignal : public QObject {
    Q_OBJECT
public:
    explicit CloseOnSignal(QWidget* window);
    ~CloseOnSignal() override;

private:
    void closeWindow();

    QWidget* window;
    QSocketNotifier* notifier = nullptr;
};
