// Not a test: the window with a room in it, light or dark, and one of its menus open, saved as a
// PNG for the README (docs/window.png, docs/window-dark.png). Usage:
// window_screenshot FILE.png light|dark MENU, offscreen or on a display.
#include "app/qt/main_window.h"
#include "tests/support/find_control.h"
#include "tests/support/menu_picture.h"
#include "tests/support/sample_room.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstring>

namespace {

void ShowRoom(MainWindow& window) {
    FindControl<QLineEdit>(&window, "IDC_NAME")->setText(QStringLiteral("Ann"));
    FindControl<QPushButton>(&window, "IDC_HOST")->click(); // the commands open no room
    ShowSampleRoom();
    FindControl<QLineEdit>(&window, "IDC_INPUT")->setText(QStringLiteral("See you there"));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[2], "light") != 0 && std::strcmp(argv[2], "dark") != 0)) {
        std::fputs("usage: window_screenshot FILE.png light|dark MENU\n", stderr);
        return 2;
    }
    // Remembered fields of the user's own never show in the picture, nor the desktop's colours.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "");
    QApplication app(argc, argv);
    MainWindow window(WindowCommands{[](const FieldTexts&) {}, [](const FieldTexts&) {},
                                     [](const std::string&) {},
                                     [] {
                                     }});
    // Light is the window as the system paints it when nobody prefers anything.
    FindControl<QAction>(&window, std::strcmp(argv[2], "dark") == 0 ? "IDM_THEME_DARK"
                                                                    : "IDM_THEME_FOLLOW_DESKTOP")
        ->trigger();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    ShowRoom(window);
    auto* log = FindControl<QPlainTextEdit>(&window, "IDC_LOG");
    if (!QTest::qWaitFor([log] { return log->toPlainText().contains(QStringLiteral("upstairs")); }))
        return 1;
    auto* bar = window.findChild<QMenuBar*>();
    QMenu* menu = nullptr;
    for (QAction* entry : bar->actions())
        if (entry->text() == QString::fromLocal8Bit(argv[3]))
            menu = entry->menu();
    if (menu == nullptr) {
        std::fprintf(stderr, "window_screenshot: no menu %s\n", argv[3]);
        return 1;
    }
    bar->setActiveAction(menu->menuAction());
    const QPixmap shot = WithMenuOpen(window, bar, menu);
    if (!shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "window_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
