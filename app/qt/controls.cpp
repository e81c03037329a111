// The widget that stands for each kind of control.
#include "app/qt/controls.h"

#include "app/qt/dialog_units.h"
#include "app/qt/fonts.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

namespace {

QWidget* CreateWidget(const Control& control, QWidget* client) {
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
    case ControlKind::Edit:
        return new QLineEdit(text, client);
    case ControlKind::Label: {
        auto* label = new QLabel(text, client);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case ControlKind::Button:
    case ControlKind::Default: {
        // Only a declared default button answers Enter; Qt would otherwise make any focused
        // button of a dialog the default one.
        auto* button = new QPushButton(text, client);
        button->setAutoDefault(false);
        button->setDefault(control.kind == ControlKind::Default);
        return button;
    }
    case ControlKind::Log: {
        auto* log = new QPlainTextEdit(client);
        log->setReadOnly(true);
        log->setUndoRedoEnabled(false); // an undo history would keep every dropped line
        log->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        log->setFont(ChatFont());
        log->setFocusPolicy(Qt::ClickFocus);
        return log;
    }
    case ControlKind::List: {
        auto* list = new QListWidget(client);
        list->setSortingEnabled(false);
        list->setFont(ChatFont());
        list->setFocusPolicy(Qt::ClickFocus);
        return list;
    }
    }
    return nullptr;
}

} // namespace

std::vector<QWidget*> CreateControls(std::span<const Control> controls, QWidget* client) {
    const DialogUnits units = DialogUnitsOf(DialogFont());
    const QFontMetrics labelMetrics(DialogFont());
    std::vector<QWidget*> widgets;
    QWidget* lastTabStop = nullptr;
    for (const Control& control : controls) {
        QWidget* widget = CreateWidget(control, client);
        widget->setObjectName(QString::fromUtf8(control.objectName));
        QRect place = units.toPixels(control.x, control.y, control.width, control.height);
        if (control.kind == ControlKind::Label) {
            // The stand-in dialog face runs a pixel or so wider than the one the layouts were
            // drawn for; a label grows to the right rather than clip its text.
            place.setWidth(std::max(
                place.width(), labelMetrics.horizontalAdvance(QString::fromUtf8(control.text))));
        }
        widget->setGeometry(place);
        if (widget->focusPolicy() & Qt::TabFocus) {
            if (lastTabStop != nullptr) {
                QWidget::setTabOrder(lastTabStop, widget);
            }
            lastTabStop = widget;
        }
        widgets.push_back(widget);
    }
    return widgets;
}
