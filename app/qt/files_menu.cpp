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
    : QObject(bar), window(target), popup(new QMenu(QStringLiteral("Files"), bar)) {
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
    refreshCall = std::make_shared<CoalescedCall>(this, [this] { refresh(); });
    SetRoomFilesObserver([call = refreshCall] { call->request(); });
    refresh();
}

FilesMenu::~FilesMenu() {
    SetRoomFilesObserver({});
    refreshCall->detach();
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
    sendFile->setEnabled(InRoomWithFiles());
    std::vector<FileMenuItem> items = FileMenuItems(RoomFileOffers());
    if (items.size() == shown.size() &&
        std::equal(items.begin(), items.end(), shown.begin(), [](const auto& a, const auto& b) {
            return a.text == b.text && a.action == b.action && a.offerId == b.offerId;
        }))
        return;
    // Everything after "Send a file…" and its separator.
    const QList<QAction*> old = popup->actions();
    for (qsizetype i = 2; i < old.size(); ++i) {
        popup->removeAction(old[i]);
        old[i]->deleteLater();
    }
    for (const FileMenuItem& item : items) {
        // A name's own ampersands are shown, not taken for mnemonic marks.
        QAction* action =
            popup->addAction(FromUtf8(item.text).replace(QLatin1Char('&'), QStringLiteral("&&")));
        action->setEnabled(item.action != FileMenuItem::Action::None);
        connect(action, &QAction::triggered, this, [this, item] { choose(item); });
    }
    shown = std::move(items);
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
