// The Rooms menu: rebuilt from the feed's items whenever they change, on the window's thread.
#include "app/qt/rooms_menu.h"

#include "app/qt/coalesced_call.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

RoomsMenu::RoomsMenu(QMenuBar* bar, QAction* before, QLineEdit* addressField, QLineEdit* portField,
                     QWidget* connect)
    : QObject(bar), popup(new QMenu(QStringLiteral("Rooms"), bar)), address(addressField),
      port(portField), connectButton(connect),
      feed(std::make_shared<CoalescedCall>(this, [this] { refresh(); })) {
    popup->setObjectName(QStringLiteral("IDM_ROOMS"));
    bar->insertMenu(before, popup);
    refresh();
}

void RoomsMenu::refresh() {
    if (!feed.refresh())
        return;
    popup->clear();
    for (const RoomMenuItem& item : feed.items()) {
        const std::string text = MenuEntryText(item);
        QAction* action =
            popup->addAction(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        action->setEnabled(item.enabled);
        if (!item.enabled)
            continue;
        connect(action, &QAction::triggered, this,
                [this, chosenAddress = item.address, chosenPort = item.port] {
                    address->setText(QString::fromStdString(chosenAddress));
                    port->setText(QString::number(chosenPort));
                    connectButton->setFocus(Qt::MenuBarFocusReason);
                });
    }
}
