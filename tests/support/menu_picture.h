// A Qt window's picture with one of its menus open below its title, as the README shows them.
#pragma once

#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

// The window as it paints itself, and menu where it drops down from its title in bar.
inline QPixmap WithMenuOpen(QWidget& window, QMenuBar* bar, QMenu* menu) {
    const QPoint below = bar->mapTo(&window, bar->actionGeometry(menu->menuAction()).bottomLeft());
    const QPixmap opened = menu->grab();
    QPixmap shot(window.size().expandedTo(
        QSize(below.x() + opened.width() + 4, below.y() + opened.height() + 4)));
    shot.fill(window.palette().color(QPalette::Window));
    QPainter painter(&shot);
    painter.drawPixmap(0, 0, window.grab());
    painter.drawPixmap(below, opened);
    painter.end();
    return shot;
}
