// WindowExtras: the Qt window's side of WindowFeatures: the Log, Notify and View menus, the
// remembered fields, desktop notifications, announcements for screen readers, the notification
// area's icon, light and dark, and the timer that folds a burst of lines into one.
#pragma once

#include "commands/field_texts.h"
#include "model/chat_view_model.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class AtSpiAnnouncer;
class QAction;
class DesktopNotifier;
class DesktopTheme;
class QLineEdit;
class QMenuBar;
class QTimer;
class QWidget;
class QtSettingsStore;
class TrayIcon;
class WindowFeatures;

class WindowExtras : public QObject {
    Q_OBJECT
public:
    // Puts the remembered fields into name, address and port, the Log and Notify menus at the
    // front of bar and the View menu after them. rerender shows the whole log again, as the
    // choices now say.
    WindowExtras(QWidget* window, QMenuBar* bar, QLineEdit* name, QLineEdit* address,
                 QLineEdit* port, std::function<void()> rerender);
    ~WindowExtras() override;

    // Connect or Host is about to run with these fields.
    void roomStarting(bool hosting, const FieldTexts& fields);
    // New lines of a refresh, before the log shows them.
    void linesArrived(const ChatViewModel::LogUpdate& update);
    // The shared policy behind the menus: how lines show, for the log control.
    const WindowFeatures& windowFeatures() const { return *features; }
    // The window closes with these fields.
    void closing(const FieldTexts& fields);
    // The user closes the window: while it keeps running in the notification area (and the desktop
    // has one), the window hides instead, and this returns true.
    bool hidOnClose();

    // Where "Save log..." writes; an empty name cancels. The platform's save dialog, unless a test
    // puts its own here.
    std::function<QString()> chooseSaveFile;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void addMenus(QMenuBar* bar);
    void addNotifyMenu(QMenuBar* bar, QAction* before);
    void addViewMenu(QMenuBar* bar, QAction* before);
    void saveLog();
    void scheduleTick();
    void bringBack();

    QWidget* window;
    std::function<void()> rerender;
    std::unique_ptr<QtSettingsStore> store;
    DesktopNotifier* notifier; // a child of the window
    AtSpiAnnouncer* announcer; // a child of this
    TrayIcon* tray;            // a child of this
    std::unique_ptr<WindowFeatures> features;
    QTimer* tickTimer;     // a child of this
    DesktopTheme* theme;   // a child of this
    bool quitting = false; // Quit was chosen in the icon's menu
};
