// FilesMenu: the main window's Files menu: "Send a file…" and the room's offers kept current;
// choosing an offer saves it (after the save dialog), cancels its saving, or withdraws one's own.
// Files dropped on the window are offered too.
#pragma once

#include "commands/files_menu_feed.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

// Belongs to the menu bar.
class FilesMenu : public QObject {
    Q_OBJECT
public:
    // The menu goes into bar before the menu whose action is `before`; drops on window offer files.
    FilesMenu(QMenuBar* bar, QAction* before, QWidget* window);

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
    FilesMenuFeed feed;
};
