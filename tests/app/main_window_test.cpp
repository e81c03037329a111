// The main window on the offscreen platform: its controls, focus order and key handling, driven by
// simulated keys and clicks, with the commands replaced by recorders; what assistive tools find in
// it; its icon; the layout at the screen scale ctest runs it with; closing on SIGTERM and SIGINT.
#include "app/qt/app_icon.h"
#include "app/qt/close_on_signal.h"
#include "app/qt/dialog_units.h"
#include "app/qt/fonts.h"
#include "app/qt/main_window.h"
#include "chat/window_ops.h"
#include "commands/control_table.h"
#include "commands/room_discovery.h"
#include "tests/support/find_control.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class MainWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void freshWindowShowsTheDefaults();
    void controlsFollowTheTable();
    void everyControlFitsTheClientAreaAtThisScale();
    void assistiveToolsFindEveryControlByName();
    void iconComesFromTheThemeOrTheProgram();
    void sigtermAndSigintClose();
    void tabVisitsTheTabStopsInTableOrder();
    void tabInTheInputLineStaysThere();
    void enterInTheInputLineHandsTheTextOn();
    void enterInTheInputLineKeeps1023Bytes();
    void enterInTheFieldsAndEscDoNothing();
    void buttonsPassTheFieldTexts();
    void roomsMenuListsRoomsAndChoosingOneFillsTheFields();
    void roomsMenuSaysWhenThereIsNothingToChoose();
    void closingRunsTheCloseCommand(); // last: it asks the application to quit

private:
    template <typename Widget> Widget* control(const char* name) {
        return FindControl<Widget>(window.get(), name);
    }

    // The Rooms menu's items as shown, each with " (disabled)" where it cannot be chosen.
    QStringList roomItems() {
        QStringList items;
        for (QAction* action : window->findChild<QMenu*>(QStringLiteral("IDM_ROOMS"))->actions())
            items << action->text() + (action->isEnabled() ? "" : " (disabled)");
        return items;
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
    // Typing replaces the selected "<name>".
    QTest::keyClicks(control<QLineEdit>("IDC_NAME"), "Zoe");
    QCOMPARE(control<QLineEdit>("IDC_NAME")->text(), QStringLiteral("Zoe"));

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

void MainWindowTest::everyControlFitsTheClientAreaAtThisScale() {
    // ctest runs this (and controlsFollowTheTable) once more at each of QT_SCALE_FACTOR 1.5 and 2.
    const qreal scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                            ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                            : 1.0;
    const QPixmap shot = window->grab();
    QCOMPARE(shot.devicePixelRatio(), scale);
    QCOMPARE(shot.size(), window->size() * scale);

    QWidget* client = control<QWidget>("IDC_NAME")->parentWidget();
    const QRect clientArea = client->geometry();
    QVERIFY(window->rect().contains(clientArea));
    QVERIFY(window->findChild<QMenuBar*>()->geometry().bottom() < clientArea.top());
    const QList<QWidget*> controls = client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(controls.size(), qsizetype(std::size(MAIN_CONTROLS)));
    for (QWidget* widget : controls) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            text = button->text();
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            text = edit->text();
        }
        const QString what = widget->objectName() + QLatin1Char(' ') + text;
        const QRect place(widget->mapTo(window.get(), QPoint(0, 0)), widget->size());
        QVERIFY2(clientArea.contains(place), qPrintable(what));
        // The text shows whole: as wide as it runs and one line high inside the control's frame.
        const QFontMetrics metrics = widget->fontMetrics();
        QVERIFY2(metrics.horizontalAdvance(text) <= widget->contentsRect().width(),
                 qPrintable(what));
        QVERIFY2(metrics.height() <= widget->contentsRect().height(), qPrintable(what));
    }
}

void MainWindowTest::assistiveToolsFindEveryControlByName() {
    // What a screen reader hears for each control, found by name in the window's accessible tree.
    struct Expected {
        const char* name;
        QAccessible::Role role;
        const char* objectName; // empty for labels
    };
    const Expected expected[] = {
        {"Name", QAccessible::EditableText, "IDC_NAME"},
        {"IP", QAccessible::EditableText, "IDC_ADDRESS"},
        {"Port", QAccessible::EditableText, "IDC_PORT"},
        {"Connect", QAccessible::Button, "IDC_CONNECT"},
        {"Host", QAccessible::Button, "IDC_HOST"},
        {"Chat log", QAccessible::EditableText, "IDC_LOG"},
        {"Message", QAccessible::EditableText, "IDC_INPUT"},
        {"Users", QAccessible::List, "IDC_USERS"},
        {"Name:", QAccessible::StaticText, ""},
        {"IP:", QAccessible::StaticText, ""},
        {"Port:", QAccessible::StaticText, ""},
    };
    std::vector<QAccessibleInterface*> found;
    std::vector<QAccessibleInterface*> pending = {
        QAccessible::queryAccessibleInterface(window.get())};
    while (!pending.empty()) {
        QAccessibleInterface* node = pending.back();
        pending.pop_back();
        found.push_back(node);
        for (int i = 0; i < node->childCount(); ++i) {
            pending.push_back(node->child(i));
        }
    }
    for (const Expected& entry : expected) {
        const auto match =
            std::find_if(found.begin(), found.end(), [&](QAccessibleInterface* node) {
                return node->text(QAccessible::Name) == QLatin1String(entry.name);
            });
        QVERIFY2(match != found.end(), entry.name);
        QAccessibleInterface* node = *match;
        QCOMPARE(node->role(), entry.role);
        if (*entry.objectName != '\0') {
            QCOMPARE(node->object(), control<QObject>(entry.objectName));
            QVERIFY2(!node->text(QAccessible::Description).isEmpty(), entry.name);
        }
    }
    // Each field's label names that field, so the label's mnemonic and a reader's label-to-field
    // relation lead there.
    for (const auto& [text, field] :
         {std::pair{"Name:", "IDC_NAME"}, std::pair{"IP:", "IDC_ADDRESS"},
          std::pair{"Port:", "IDC_PORT"}}) {
        QLabel* label = nullptr;
        for (QLabel* candidate : window->findChildren<QLabel*>()) {
            if (candidate->text() == QLatin1String(text)) {
                label = candidate;
            }
        }
        QVERIFY2(label != nullptr, text);
        QCOMPARE(label->buddy(), control<QWidget>(field));
    }
}

void MainWindowTest::iconComesFromTheThemeOrTheProgram() {
    // The PNGs that cmake --install puts into the hicolor theme, in a theme made of them here with
    // the index that the system's hicolor theme supplies to an installed program.
    const int sizes[] = {16, 24, 32, 48, 64, 128, 256};
    QTemporaryDir themes;
    QVERIFY(QDir(themes.path()).mkdir(QStringLiteral("hicolor")));
    QFile index(themes.filePath(QStringLiteral("hicolor/index.theme")));
    QVERIFY(index.open(QIODevice::WriteOnly));
    QStringList directories;
    QString sections;
    for (int size : sizes) {
        directories << QStringLiteral("%1x%1/apps").arg(size);
        sections += QStringLiteral("[%1x%1/apps]\nSize=%1\nType=Fixed\n").arg(size);
        QVERIFY(QFile::link(QStringLiteral(PARLOX_SOURCE_DIR "/res/icons/hicolor/%1x%1").arg(size),
                            themes.filePath(QStringLiteral("hicolor/%1x%1").arg(size))));
    }
    index.write(
        ("[Icon Theme]\nName=hicolor\nDirectories=" + directories.join(',') + '\n' + sections)
            .toUtf8());
    index.close();

    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString themeName = QIcon::themeName();
    const auto restoreTheme = qScopeGuard([&] {
        QIcon::setThemeSearchPaths(searchPaths);
        QIcon::setThemeName(themeName);
    });
    // With the theme, and without it (a build run from its directory). A themed icon follows the
    // theme as it changes, so each is looked at while its theme is in place.
    for (const bool inTheme : {true, false}) {
        QIcon::setThemeSearchPaths(inTheme ? QStringList{themes.path()} : QStringList{});
        QIcon::setThemeName(QStringLiteral("hicolor"));
        window.reset();
        window = std::make_unique<MainWindow>();
        const QIcon icon = window->windowIcon();
        QCOMPARE(icon.name(), inTheme ? QString::fromUtf8(APP_ID) : QString());
        for (int size : sizes) {
            QVERIFY(icon.availableSizes().contains(QSize(size, size)));
            QCOMPARE(icon.pixmap(QSize(size, size), 1.0).size(), QSize(size, size));
        }
    }
}

void MainWindowTest::sigtermAndSigintClose() {
    // On a window of its own: the main window's close would ask the application to quit.
    QWidget closing;
    {
        CloseOnSignal closer(&closing);
        for (int signal : {SIGTERM, SIGINT}) {
            closing.show();
            QVERIFY(QTest::qWaitForWindowExposed(&closing));
            QCOMPARE(std::raise(signal), 0);
            QTRY_VERIFY2(!closing.isVisible(), strsignal(signal));
        }
    }
    // Without a CloseOnSignal the signals end the program again, as they do by default.
    struct sigaction action = {};
    QCOMPARE(sigaction(SIGTERM, nullptr, &action), 0);
    QVERIFY(action.sa_handler == SIG_DFL);
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
    QTest::keyClick(input, Qt::Key_Return, Qt::ControlModifier); // no second Enter
    QCOMPARE(input->text(), QStringLiteral("Zoë"));
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

    // Enter on a focused button presses it, as a click would.
    for (const char* name : {"IDC_CONNECT", "IDC_HOST"}) {
        QWidget* button = control<QWidget>(name);
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
    }
    QCOMPARE(connects.size(), size_t(1));
    QCOMPARE(hosts.size(), size_t(1));
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

void MainWindowTest::roomsMenuListsRoomsAndChoosingOneFillsTheFields() {
    // Rooms stands right before Files, and About stays last.
    QStringList titles;
    for (QAction* action : window->findChild<QMenuBar*>()->actions())
        titles << action->text();
    QCOMPARE(titles.mid(titles.size() - 3), (QStringList{"Rooms", "Files", "About"}));

    FoundRooms.put("b", {"R&D", "10.0.0.7", 6000, 4});
    FoundRooms.put("a", {"Ann", "192.168.1.20", 5000, 1});
    const auto cleanup = qScopeGuard([] {
        FoundRooms.remove("a");
        FoundRooms.remove("b");
    });
    QTRY_COMPARE(roomItems(), (QStringList{"Ann \u2014 192.168.1.20, port 5000, 1 person",
                                           "R&&D \u2014 10.0.0.7, port 6000, 4 people"}));

    window->findChild<QMenu*>(QStringLiteral("IDM_ROOMS"))->actions()[1]->trigger();
    QCOMPARE(control<QLineEdit>("IDC_ADDRESS")->text(), QStringLiteral("10.0.0.7"));
    QCOMPARE(control<QLineEdit>("IDC_PORT")->text(), QStringLiteral("6000"));
    QCOMPARE(QApplication::focusWidget(), control<QWidget>("IDC_CONNECT"));
    // Enter then joins.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(connects.size(), size_t(1));
    QCOMPARE(connects[0].address, std::string("10.0.0.7"));
    QCOMPARE(connects[0].port, std::string("6000"));
}

void MainWindowTest::roomsMenuSaysWhenThereIsNothingToChoose() {
    QTRY_COMPARE(roomItems(), QStringList{"No rooms found on this network (disabled)"});
    FoundRooms.setUnavailable("Finding rooms needs the Avahi service (avahi-daemon)");
    const auto cleanup = qScopeGuard([] { FoundRooms.setAvailable(); });
    QTRY_COMPARE(roomItems(),
                 QStringList{"Finding rooms needs the Avahi service (avahi-daemon) (disabled)"});
}

void MainWindowTest::closingRunsTheCloseCommand() {
    QVERIFY(window->close());
    QCOMPARE(closes, 1);
    QVERIFY(!window->isVisible());
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
