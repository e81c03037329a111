// The About box, built from its control table.
#include "app/qt/about_box.h"

#include "app/qt/controls.h"
#include "app/qt/dialog_units.h"
#include "app/qt/fonts.h"
#include "commands/control_table.h"

#include <QKeyEvent>
#include <QPushButton>

AboutBox::AboutBox(QWidget* owner) : QDialog(owner) {
    // Title, system menu and close box on a fixed frame; no minimise, maximise or help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(ABOUT_DIALOG.title));
    setFont(DialogFont());
    setFixedSize(DialogUnitsOf(DialogFont()).toPixels(ABOUT_DIALOG.width, ABOUT_DIALOG.height));
    CreateControls(ABOUT_CONTROLS, this);
    auto* ok = findChild<QPushButton*>(QStringLiteral("IDOK"));
    // The box's result is not looked at: OK and the close box both end it with 0.
    connect(ok, &QPushButton::clicked, this, [this] { done(0); });
    ok->setFocus();
}

void AboutBox::keyPressEvent(QKeyEvent* event) {
    // QDialog would reject on Esc; this box stays open until OK or its close box.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
