// AboutBox: the program's name, author, mail address and website, shown from the About menu.
#pragma once

#include <QDialog>

// Modal, owned by the main window. It closes with OK or its close box; Esc does nothing.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* owner);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
