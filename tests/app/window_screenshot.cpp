// Not a test: the window with a room in it, light or dark, and one of its menus open, saved as a
// PNG for the README (docs/window.png, docs/window-dark.png). Usage:
// window_screenshot FILE.png light|dark MENU, offscreen or on a display.
#include "app/qt/main_window.h"
#include "chat/window_ops.h"
#include "tests/support/find_control.h"
#include "wire/protocol.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
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
    AppendLog("----- Hosting on port: %d -----", 5000);
    AppendLog("IP List:");
    AppendLog("     1) %s", "office-pc");
    AppendLog("     2) %s", "192.168.1.20");
    AppendLog("----------------------------------------");
    SetUserName(HOST_ID, "Ann");
    SetUserName(0, "Bob");
    SetUserName(1, "Chlo\xc3\xa9");
    AppendChatLine("Bob", "Morning! Lunch at 12? \xF0\x9F\x8D\x95");
    AppendChatLine("Ann", "Sure, the usual place.");
    AppendChatLine("Chlo\xc3\xa9", "Count me in \xe2\x80\x93 sch\xc3\xb6ne Gr\xc3\xbc\xc3\x9f"
                                   "e from upstairs \xE2\x9D\xA4\xEF\xB8\x8F");
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
    // The window as it paints itself, and the open menu where it drops down from its title.
    const QPoint below = bar->mapTo(&window, bar->actionGeometry(menu->menuAction()).bottomLeft());
    const QPixmap opened = menu->grab();
    QPixmap shot(window.size().expandedTo(
        QSize(below.x() + opened.width() + 4, below.y() + opened.height() + 4)));
    shot.fill(window.palette().color(QPalette::Window));
    QPainter painter(&shot);
    painter.drawPixmap(0, 0, window.grab());
    painter.drawPixmap(below, opened);
    painter.end();
    if (!shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "window_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
