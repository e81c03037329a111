// The widget that stands for each kind of control.
#include "app/qt/controls.h"

#include "app/qt/dialog_units.h"
#include "app/qt/fonts.h"
#include "app/qt/log_accessible.h"

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
        // Enter presses the focused push button, as in a dialog. Only a declared default button
        // answers Enter elsewhere: the main window is no QDialog, so no button becomes its
        // default by taking the focus, and the About box has no other button.
        auto* button = new QPushButton(text, client);
        button->setAutoDefault(control.kind == ControlKind::Button);
        button->setDefault(control.kind == ControlKind::Default);
        return button;
    }
    case ControlKind::Log: {
        InstallLogAccessible(); // before the log exists, so that it answers screen readers through
                                // it
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
        widget->setAccessibleName(QString::fromUtf8(control.accessibleName));
        widget->setAccessibleDescription(QString::fromUtf8(control.accessibleDescription));
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
    // Each label's buddy, found by its id once every widget exists.
    for (size_t i = 0; i < controls.size(); ++i) {
        auto* label = qobject_cast<QLabel*>(widgets[i]);
        if (label == nullptr || controls[i].buddy == 0) {
            continue;
        }
        for (size_t j = 0; j < controls.size(); ++j) {
            if (controls[j].id == controls[i].buddy) {
                label->setBuddy(widgets[j]);
            }
        }
    }
    return widgets;
}
