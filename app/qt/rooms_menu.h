// RoomsMenu: the main window's Rooms menu, the rooms found on the network kept current; choosing
// one fills the IP and Port fields and moves the focus to Connect, so that Enter joins.
#pragma once

#include "commands/room_menu_items.h"

#include <QObject>

#include <memory>
#include <vector>

class CoalescedCall;
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
    ~RoomsMenu() override;

private:
    // On the window's thread: shows what FoundRooms holds now.
    void refresh();

    QMenu* popup;
    QLineEdit* address;
    QLineEdit* port;
    QWidget* connectButton;
    std::vector<RoomMenuItem> shown;
    // Shared with FoundRooms' observer, which may still be running on a discovery thread when
    // the menu goes.
    std::shared_ptr<CoalescedCall> refreshCall;
};
