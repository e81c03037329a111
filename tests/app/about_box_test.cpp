// The About box, opened from the main window's menu: its texts and size, and the ways it closes.
#include "app/qt/about_box.h"
#include "app/qt/dialog_units.h"
#include "app/qt/fonts.h"
#include "app/qt/main_window.h"
#include "commands/control_table.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

class AboutBoxTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void showsItsTexts();
    void okCloses();
    void closeBoxCloses();
    void escDoesNotClose();

private:
    // Opens the box from the menu and runs check on it while it is up. The box runs its own modal
    // loop, so check runs from a timer inside it; a box still open afterwards is closed here so
    // that a failing check cannot hang the test. Returns whether check left it closed.
    bool runAbout(const std::function<void(AboutBox*)>& check);

    MainWindow window{WindowCommands{}};
};

bool AboutBoxTest::runAbout(const std::function<void(AboutBox*)>& check) {
    bool closedByCheck = false;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<AboutBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        QCOMPARE(box->parentWidget(), &window);
        check(box);
        closedByCheck = !box->isVisible();
        if (!closedByCheck) {
            box->done(0);
        }
    });
    window.findChild<QAction*>(QStringLiteral("IDM_ABOUT"))->trigger();
    return closedByCheck;
}

void AboutBoxTest::showsItsTexts() {
    runAbout([](AboutBox* box) {
        QCOMPARE(box->windowTitle(), QStringLiteral("Parlox v1.0"));
        QCOMPARE(box->size(),
                 DialogUnitsOf(DialogFont()).toPixels(ABOUT_DIALOG.width, ABOUT_DIALOG.height));
        QVERIFY(box->findChild<QPushButton*>(QStringLiteral("IDOK"))->isDefault());
        // The value labels are narrow; a clipped text would show cut off.
        for (QLabel* label : box->findChildren<QLabel*>()) {
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                     qPrintable(label->text()));
        }
    });
}

void AboutBoxTest::okCloses() {
    QVERIFY(runAbout([](AboutBox* box) {
        QTest::mouseClick(box->findChild<QPushButton*>(QStringLiteral("IDOK")), Qt::LeftButton);
    }));
    // Enter presses the default button.
    QVERIFY(runAbout([](AboutBox* box) { QTest::keyClick(box, Qt::Key_Return); }));
}

void AboutBoxTest::closeBoxCloses() {
    QVERIFY(runAbout([](AboutBox* box) { box->close(); }));
}

void AboutBoxTest::escDoesNotClose() {
    QVERIFY(!runAbout([](AboutBox* box) { QTest::keyClick(box, Qt::Key_Escape); }));
}

QTEST_MAIN(AboutBoxTest)
#include "about_box_test.moc"
