// The Files menu: rebuilt from the room's offers on every change, on the window's thread.
#include "app/qt/files_menu.h"

#include "app/qt/coalesced_call.h"
#include "commands/room_files.h"

#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// The local files a drag carries; empty when it carries anything else too.
QStringList DroppedFiles(const QMimeData* data) {
    QStringList files;
    if (data == nullptr || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        files << url.toLocalFile();
    }
    return files;
}

} // namespace

FilesMenu::FilesMenu(QMenuBar* bar, QAction* before, QWidget* target)
    : QObject(bar), window(target), popup(new QMenu(QStringLiteral("Files"), bar)),
      feed(std::make_shared<CoalescedCall>(this, [this] { refresh(); })) {
    popup->setObjectName(QStringLiteral("IDM_FILES"));
    bar->insertMenu(before, popup);
    sendFile = popup->addAction(FromUtf8(SEND_A_FILE));
    sendFile->setObjectName(QStringLiteral("IDM_SEND_FILE"));
    connect(sendFile, &QAction::triggered, this, [this] {
        for (const QString& path : chooseFiles())
            OfferRoomFile(ToUtf8(path));
    });
    popup->addSeparator();
    connect(popup, &QMenu::aboutToShow, this, &FilesMenu::refresh);
    chooseFiles = [this] {
        return QFileDialog::getOpenFileNames(window, QStringLiteral("Send a file"),
                                             QDir::homePath());
    };
    chooseSaveTarget = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(window, QStringLiteral("Save file"), suggested);
    };
    // Drops anywhere on the window, its fields and log included, are offers.
    window->setAcceptDrops(true);
    window->installEventFilter(this);
    for (QWidget* child : window->findChildren<QWidget*>())
        child->installEventFilter(this);
    refresh();
}

bool FilesMenu::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (DroppedFiles(drag->mimeData()).isEmpty())
            return false;
        drag->acceptProposedAction();
        return true;
    }
    if (event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList files = DroppedFiles(drop->mimeData());
        if (files.isEmpty())
            return false;
        drop->acceptProposedAction();
        for (const QString& path : files)
            OfferRoomFile(ToUtf8(path));
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void FilesMenu::refresh() {
    if (!feed.refresh())
        return;
    sendFile->setEnabled(feed.canSend());
    // Everything after "Send a file…" and its separator.
    const QList<QAction*> old = popup->actions();
    for (qsizetype i = 2; i < old.size(); ++i) {
        popup->removeAction(old[i]);
        old[i]->deleteLater();
    }
    for (const FileMenuItem& item : feed.items()) {
        QAction* action = popup->addAction(FromUtf8(MenuEntryText(item.text)));
        action->setEnabled(item.action != FileMenuItem::Action::None);
        connect(action, &QAction::triggered, this, [this, item] { choose(item); });
    }
}

void FilesMenu::choose(const FileMenuItem& item) {
    ChooseFileMenuItem(item, [this](const std::string& name) {
        QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        if (folder.isEmpty())
            folder = QDir::homePath();
        const QString target = chooseSaveTarget(folder + QLatin1Char('/') + FromUtf8(name));
        return target.isEmpty() ? std::string() : ToUtf8(QDir::toNativeSeparators(target));
    });
    refresh();
}
