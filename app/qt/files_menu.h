// FilesMenu: the main window's Files menu: "Send a file…" and the room's offers kept current;
// choosing an offer saves it (after the save dialog), cancels its saving, or withdraws one's own.
// Files dropped on the window are offered too.
#pragma once

#include "commands/file_menu_items.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class CoalescedCall;
class QAction;
class QMenu;
class QMenuBar;
class QWidget;

// While it exists it is the room files' only observer. Belongs to the menu bar.
class FilesMenu : public QObject {
    Q_OBJECT
public:
    // The menu goes into bar before the menu whose action is `before`; drops on window offer files.
    FilesMenu(QMenuBar* bar, QAction* before, QWidget* window);
    ~FilesMenu() override;

    // The platform's dialogs, unless a test puts its own here. chooseFiles: the files to offer
    // (none: cancelled); chooseSaveTarget: where to save an offer, given the suggested full path
    // (empty: cancelled).
    std::function<QStringList()> chooseFiles;
    std::function<QString(const QString& suggested)> chooseSaveTarget;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // On the window's thread: shows what the room's files are now.
    void refresh();
    void choose(const FileMenuItem& item);

    QWidget* window;
    QMenu* popup;
    QAction* sendFile;
    std::vector<FileMenuItem> shown;
    // Shared with the room files' observer, which may still be running on a network thread when
    // the menu goes.
    std::shared_ptr<CoalescedCall> refreshCall;
};
