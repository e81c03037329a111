// Not a test: the window with its Rooms menu open on two rooms, saved as a PNG for the README
// (docs/rooms-menu.png). Usage: rooms_menu_screenshot FILE.png, offscreen or on a display.
#include "app/qt/main_window.h"
#include "commands/room_discovery.h"
#include "tests/support/find_control.h"
#include "tests/support/menu_picture.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: rooms_menu_screenshot FILE.png\n", stderr);
        return 2;
    }
    // Remembered fields of the user's own never show in the picture.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    FoundRooms.put("a", {"Ann's room", "192.168.1.20", 5000, 3});
    FoundRooms.put("b", {"Parlox room on office-pc", "192.168.1.34", 6000, 1});
    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    FindControl<QLineEdit>(&window, "IDC_NAME")->setText(QStringLiteral("Bob"));
    auto* rooms = window.findChild<QMenu*>(QStringLiteral("IDM_ROOMS"));
    if (rooms == nullptr || !QTest::qWaitFor([rooms] { return rooms->actions().size() == 2; }))
        return 1;
    rooms->setActiveAction(rooms->actions()[0]);
    const QPixmap shot = WithMenuOpen(window, window.findChild<QMenuBar*>(), rooms);
    if (!shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "rooms_menu_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
