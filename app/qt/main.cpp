// Parlox's entry: the main window, run until it is closed.
#include "app/qt/app_icon.h"
#include "app/qt/close_on_signal.h"
#include "app/qt/main_window.h"
#include "commands/room_discovery.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

bool IsSet(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

// Without a display Qt aborts with a backtrace; a plain hint serves better.
bool HasDisplay() {
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char** argv) {
    if (!HasDisplay()) {
        std::fputs("parlox: no display to show the window on. Run it from a desktop session, set "
                   "DISPLAY to an X server you can reach, or use: xvfb-run -a parlox\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    // Wayland compositors match the window to its desktop entry, and so to its name and icon.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(APP_ID));
    StartRoomDiscovery();
    {
        MainWindow window;
        CloseOnSignal closeOnSignal(&window);
        window.show();
        app.exec();
    }
    StopRoomDiscovery();
    return 0;
}
