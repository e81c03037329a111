// The Rooms menu: rebuilt from FoundRooms on every change, on the window's thread.
#include "app/qt/rooms_menu.h"

#include "app/qt/coalesced_call.h"
#include "commands/room_discovery.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

RoomsMenu::RoomsMenu(QMenuBar* bar, QAction* before, QLineEdit* addressField, QLineEdit* portField,
                     QWidget* connect)
    : QObject(bar), popup(new QMenu(QStringLiteral("Rooms"), bar)), address(addressField),
      port(portField), connectButton(connect) {
    popup->setObjectName(QStringLiteral("IDM_ROOMS"));
    bar->insertMenu(before, popup);
    refreshCall = std::make_shared<CoalescedCall>(this, [this] { refresh(); });
    FoundRooms.setObserver([call = refreshCall] { call->request(); });
    refresh();
}

RoomsMenu::~RoomsMenu() {
    FoundRooms.setObserver({});
    refreshCall->detach();
}

void RoomsMenu::refresh() {
    std::vector<RoomMenuItem> items = RoomMenuItems(FoundRooms.snapshot());
    if (items.size() == shown.size() &&
        std::equal(items.begin(), items.end(), shown.begin(), [](const auto& a, const auto& b) {
            return a.text == b.text && a.enabled == b.enabled;
        }))
        return;
    popup->clear();
    for (const RoomMenuItem& item : items) {
        // A name's own ampersands are shown, not taken for mnemonic marks.
        QString text =
            QString::fromUtf8(item.text.data(), static_cast<qsizetype>(item.text.size()));
        QAction* action = popup->addAction(text.replace(QLatin1Char('&'), QStringLiteral("&&")));
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
    shown = std::move(items);
}
