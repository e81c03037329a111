// WindowExtras: the Qt window's side of WindowFeatures: the Log and Notify menus, the remembered
// fields, desktop notifications and the timer that folds a burst of them into one.
#pragma once

#include "commands/field_texts.h"
#include "model/chat_view_model.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class DesktopNotifier;
class QLineEdit;
class QMenuBar;
class QTimer;
class QWidget;
class QtSettingsStore;
class WindowFeatures;

class WindowExtras : public QObject {
    Q_OBJECT
public:
    // Puts the remembered fields into name, address and port, and the Log and Notify menus at the
    // front of bar. rerender shows the whole log again, as the choices now
    // say.
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

    // Where "Save log..." writes; an empty name cancels. The platform's save dialog, unless a test
    // puts its own here.
    std::function<QString()> chooseSaveFile;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void addMenus(QMenuBar* bar);
    void saveLog();
    void scheduleTick();

    QWidget* window;
    std::function<void()> rerender;
    std::unique_ptr<QtSettingsStore> store;
    DesktopNotifier* notifier; // a child of the window
    std::unique_ptr<WindowFeatures> features;
    QTimer* tickTimer; // a child of this
};
