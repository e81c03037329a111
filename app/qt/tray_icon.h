// TrayIcon: the window's icon in the desktop's notification area (a StatusNotifierItem through
// Qt's tray support), with the count of unread lines drawn on it.
#pragma once

#include "features/notification_area.h"

#include <QObject>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

class TrayIcon : public QObject, public NotificationArea {
    Q_OBJECT
public:
    // Choosing the icon, or Open Parlox in its menu, runs open; Quit in its menu runs quit.
    TrayIcon(QObject* parent, std::function<void()> open, std::function<void()> quit);
    ~TrayIcon() override;

    // Whether the desktop has a notification area to show the icon in. Asks the desktop, and may
    // wait for its answer: only for what the user just chose.
    static bool available();

    void showIcon(int unread, const std::string& toolTip) override;
    void hideIcon() override;

private:
    std::function<void()> open;
    std::function<void()> quit;
    // Made when the icon first shows; the icon goes before its menu.
    std::unique_ptr<QMenu> menu;
    std::unique_ptr<QSystemTrayIcon> icon;
};
