// RoomsMenu: the main window's Rooms menu, the rooms found on the network kept current; choosing
// one fills the IP and Port fields and moves the focus to Connect, so that Enter joins.
#pragma once

#include "commands/rooms_menu_feed.h"

#include <QObject>

class QAction;
class QLineEdit;
class QMenu;
class QMenuBar;
class QWidget;

// While it exists it is FoundRooms' only observer. Belongs to the menu bar.
class RoomsMenu : public QObject {
    Q_OBJECT
public:
    // The menu goes into bar before the menu whose action is `before`.
    RoomsMenu(QMenuBar* bar, QAction* before, QLineEdit* address, QLineEdit* port,
              QWidget* connectButton);

private:
    // On the window's thread: shows what FoundRooms holds now.
    void refresh();

    QMenu* popup;
    QLineEdit* address;
    QLineEdit* port;
    QWidget* connectButton;
    RoomsMenuFeed feed; // last: it may call refresh() as soon as it exists
};
