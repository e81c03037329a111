// The main window on the offscreen platform: its controls, focus order and key handling, driven by
// simulated keys and clicks, with the commands replaced by recorders.
#include "app/control_table.h"
#include "app/qt/dialog_units.h"
#include "app/qt/fonts.h"
#include "app/qt/main_window.h"
#include "chat/window_ops.h"
#include "tests/support/find_control.h"

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

class MainWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void freshWindowShowsTheDefaults();
    void controlsFollowTheTable();
    void tabVisitsTheTabStopsInTableOrder();
    void tabInTheInputLineStaysThere();
    void enterInTheInputLineHandsTheTextOn();
    void enterInTheInputLineKeeps1023Bytes();
    void enterInTheFieldsAndEscDoNothing();
    void buttonsPassTheFieldTexts();
    void closingRunsTheCloseCommand(); // last: it asks the application to quit

private:
    template <typename Widget> Widget* control(const char* name) {
        return FindControl<Widget>(window.get(), name);
    }

    std::unique_ptr<MainWindow> window;
    std::vector<FieldTexts> connects;
    std::vector<FieldTexts> hosts;
    std::vector<std::string> entered;
    int closes = 0;
};

void MainWindowTest::init() {
    connects.clear();
    hosts.clear();
    entered.clear();
    closes = 0;
    ChatView.reset(true);
    window = std::make_unique<MainWindow>(
        WindowCommands{[this](const FieldTexts& fields) { connects.push_back(fields); },
                       [this](const FieldTexts& fields) { hosts.push_back(fields); },
                       [this](const std::string& text) { entered.push_back(text); },
                       [this] {
                           ++closes;
                       }});
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
}

void MainWindowTest::cleanup() {
    window.reset();
}

void MainWindowTest::freshWindowShowsTheDefaults() {
    QCOMPARE(window->windowTitle(), QStringLiteral("Parlox"));
    QCOMPARE(control<QLineEdit>("IDC_NAME")->text(), QStringLiteral("<name>"));
    QCOMPARE(control<QLineEdit>("IDC_ADDRESS")->text(), QStringLiteral("localhost"));
    QCOMPARE(control<QLineEdit>("IDC_PORT")->text(), QStringLiteral("5000"));
    QVERIFY(control<QPlainTextEdit>("IDC_LOG")->toPlainText().isEmpty());
    QVERIFY(control<QPlainTextEdit>("IDC_LOG")->isReadOnly());
    QCOMPARE(control<QListWidget>("IDC_USERS")->count(), 0);
    QVERIFY(control<QLineEdit>("IDC_INPUT")->text().isEmpty());
    QCOMPARE(QApplication::focusWidget(), control<QLineEdit>("IDC_NAME"));

    QCOMPARE(window->minimumSize(), window->maximumSize());
    QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(window->findChild<QAction*>(QStringLiteral("IDM_ABOUT"))->text(),
             QStringLiteral("&About"));
}

void MainWindowTest::controlsFollowTheTable() {
    // 8-point text at 96 dots per inch: the units of a common Windows dialog font, give or take a
    // pixel; a face that failed to resolve would be far off.
    const DialogUnits units = DialogUnitsOf(DialogFont());
    QVERIFY2(units.baseX >= 5 && units.baseX <= 7, qPrintable(QString::number(units.baseX)));
    QVERIFY2(units.baseY >= 12 && units.baseY <= 14, qPrintable(QString::number(units.baseY)));
    QVERIFY(QStringList({"Liberation Sans", "Arial"})
                .contains(QFontInfo(control<QWidget>("IDC_LOG")->font()).family()));

    const QRect client(QPoint(0, 0), units.toPixels(MAIN_DIALOG.width, MAIN_DIALOG.height));
    QWidget* clientArea = control<QWidget>("IDC_NAME")->parentWidget();
    QCOMPARE(clientArea->size(), client.size());
    for (const Control& entry : MAIN_CONTROLS) {
        const QRect place = units.toPixels(entry.x, entry.y, entry.width, entry.height);
        QVERIFY(client.contains(place));
        if (entry.kind == ControlKind::Label) {
            // Labels have no name; find each by its text, and check that the text fits.
            QLabel* label = nullptr;
            for (QLabel* candidate : window->findChildren<QLabel*>()) {
                if (candidate->text() == QString::fromUtf8(entry.text)) {
                    label = candidate;
                }
            }
            QVERIFY2(label != nullptr, entry.text);
            // A label may grow to the right to fit its text, never elsewhere.
            QCOMPARE(label->pos(), place.topLeft());
            QCOMPARE(label->height(), place.height());
            QVERIFY(label->width() >= place.width());
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                     entry.text);
            continue;
        }
        QCOMPARE(control<QWidget>(entry.objectName)->geometry(), place);
    }
}

void MainWindowTest::tabVisitsTheTabStopsInTableOrder() {
    const QStringList expected = {"IDC_NAME",    "IDC_ADDRESS", "IDC_PORT",
                                  "IDC_CONNECT", "IDC_HOST",    "IDC_INPUT"};
    QStringList visited = {QApplication::focusWidget()->objectName()};
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, expected);

    control<QWidget>("IDC_HOST")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), control<QWidget>("IDC_CONNECT"));
}

void MainWindowTest::tabInTheInputLineStaysThere() {
    auto* input = control<QLineEdit>("IDC_INPUT");
    input->setFocus();
    QTest::keyClicks(input, "ab");
    QTest::keyClick(input, Qt::Key_Tab);
    QTest::keyClick(input, Qt::Key_Backtab, Qt::ShiftModifier);
    QTest::keyClick(input, Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), input);
    QCOMPARE(input->text(), QStringLiteral("ab"));
    QVERIFY(entered.empty());
}

void MainWindowTest::enterInTheInputLineHandsTheTextOn() {
    auto* input = control<QLineEdit>("IDC_INPUT");
    input->setFocus();
    QTest::keyClicks(input, "100% sure");
    QTest::keyClick(input, Qt::Key_Return);
    QVERIFY(input->text().isEmpty());
    QTest::keyClick(input, Qt::Key_Enter, Qt::KeypadModifier); // empty lines go on too
    input->setText(QStringLiteral("Zoë"));
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(entered, (std::vector<std::string>{"100% sure", "", "Zo\xC3\xAB"}));
    QCOMPARE(QApplication::focusWidget(), input);
}

void MainWindowTest::enterInTheInputLineKeeps1023Bytes() {
    // 600 two-byte characters: 1023 bytes would end inside the 512th, so 511 of them stay.
    auto* input = control<QLineEdit>("IDC_INPUT");
    input->setFocus();
    input->setText(QString(600, QChar(0xE9)));
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(entered.size(), size_t(1));
    QCOMPARE(QString::fromStdString(entered[0]), QString(511, QChar(0xE9)));

    input->setText(QString(1100, QLatin1Char('x')));
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(entered.at(1), std::string(1023, 'x'));
}

void MainWindowTest::enterInTheFieldsAndEscDoNothing() {
    for (const char* name : {"IDC_NAME", "IDC_ADDRESS", "IDC_PORT", "IDC_INPUT"}) {
        QWidget* field = control<QWidget>(name);
        field->setFocus();
        if (field != control<QWidget>("IDC_INPUT")) {
            QTest::keyClick(field, Qt::Key_Return);
            QTest::keyClick(field, Qt::Key_Enter, Qt::KeypadModifier);
        }
        QTest::keyClick(field, Qt::Key_Escape);
        QCOMPARE(QApplication::focusWidget(), field);
    }
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QVERIFY(window->isVisible());
    QVERIFY(connects.empty() && hosts.empty() && closes == 0);
    QCOMPARE(control<QLineEdit>("IDC_NAME")->text(), QStringLiteral("<name>"));
    QCOMPARE(control<QLineEdit>("IDC_PORT")->text(), QStringLiteral("5000"));
}

void MainWindowTest::buttonsPassTheFieldTexts() {
    control<QLineEdit>("IDC_NAME")->setText(QStringLiteral("Zoë"));
    control<QLineEdit>("IDC_PORT")->setText(QStringLiteral("port 7")); // any text goes through
    QTest::mouseClick(control<QPushButton>("IDC_CONNECT"), Qt::LeftButton);
    control<QLineEdit>("IDC_ADDRESS")->setText(QStringLiteral("10.0.0.2"));
    QTest::mouseClick(control<QPushButton>("IDC_HOST"), Qt::LeftButton);

    QCOMPARE(connects.size(), size_t(1));
    QCOMPARE(connects[0].name, std::string("Zo\xC3\xAB"));
    QCOMPARE(connects[0].address, std::string("localhost"));
    QCOMPARE(connects[0].port, std::string("port 7"));
    QCOMPARE(hosts.size(), size_t(1));
    QCOMPARE(hosts[0].address, std::string("10.0.0.2"));
}

void MainWindowTest::closingRunsTheCloseCommand() {
    QVERIFY(window->close());
    QCOMPARE(closes, 1);
    QVERIFY(!window->isVisible());
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
