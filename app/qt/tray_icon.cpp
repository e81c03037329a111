// TrayIcon: QSystemTrayIcon with the program's icon and a badge for the unread count.
#include "app/qt/tray_icon.h"

#include "app/qt/app_icon.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <algorithm>
#include <utility>

namespace {

constexpr int ICON_SIZE = 64;

// The program's icon with the count in a red disc at its lower right ("99+" beyond): white on
// that red stands 6:1.
QIcon BadgedIcon(int unread) {
    if (unread <= 0)
        return AppIcon();
    QPixmap pixmap = AppIcon().pixmap(ICON_SIZE, ICON_SIZE);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QString count = unread > 99 ? QStringLiteral("99+") : QString::number(unread);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(ICON_SIZE * 3 / 8);
    painter.setFont(font);
    const int width =
        std::max(ICON_SIZE * 5 / 8, painter.fontMetrics().horizontalAdvance(count) + ICON_SIZE / 8);
    const QRect disc(ICON_SIZE - width, ICON_SIZE * 3 / 8, width, ICON_SIZE * 5 / 8);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xc0, 0x1c, 0x28));
    painter.drawRoundedRect(disc, disc.height() / 2.0, disc.height() / 2.0);
    painter.setPen(Qt::white);
    painter.drawText(disc, Qt::AlignCenter, count);
    painter.end();
    return QIcon(pixmap);
}

} // namespace

TrayIcon::TrayIcon(QObject* parent, std::function<void()> onOpen, std::function<void()> onQuit)
    : QObject(parent), open(std::move(onOpen)), quit(std::move(onQuit)) {}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::showIcon(int unread, const std::string& toolTip) {
    if (!icon) {
        menu = std::make_unique<QMenu>();
        QAction* openAction = menu->addAction(QStringLiteral("&Open Parlox"));
        connect(openAction, &QAction::triggered, this, [this] { open(); });
        menu->addSeparator();
        QAction* quitAction = menu->addAction(QStringLiteral("&Quit"));
        connect(quitAction, &QAction::triggered, this, [this] { quit(); });
        icon = std::make_unique<QSystemTrayIcon>();
        icon->setContextMenu(menu.get());
        connect(icon.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger ||
                        reason == QSystemTrayIcon::DoubleClick)
                        open();
                });
    }
    icon->setIcon(BadgedIcon(unread));
    icon->setToolTip(QString::fromUtf8(toolTip.data(), static_cast<qsizetype>(toolTip.size())));
    icon->show();
}

void TrayIcon::hideIcon() {
    if (icon)
        icon->hide();
}
