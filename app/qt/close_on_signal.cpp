// The stop request's handle, watched on the window's thread.
#include "app/qt/close_on_signal.h"

#include <QSocketNotifier>
#include <QWidget>

CloseOnSignal::CloseOnSignal(QWidget* closing) : window(closing) {
    if (stop.pollHandle() == NO_HANDLE)
        return; // the signals keep their default action: the program ends at once
    notifier = new QSocketNotifier(stop.pollHandle(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &CloseOnSignal::closeWindow);
}

void CloseOnSignal::closeWindow() {
    stop.clear();
    window->close();
}
