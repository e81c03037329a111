// The main window: built from the control table, wired to the commands, repainted from ChatView.
#include "app/qt/main_window.h"

#include "app/qt/about_box.h"
#include "app/qt/app_icon.h"
#include "app/qt/coalesced_call.h"
#include "app/qt/controls.h"
#include "app/qt/dialog_units.h"
#include "app/qt/files_menu.h"
#include "app/qt/fonts.h"
#include "app/qt/input_edit_proc.h"
#include "app/qt/rooms_menu.h"
#include "app/qt/window_extras.h"
#include "chat/window_ops.h"
#include "commands/control_table.h"
#include "model/ui_tasks.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

// The window's resources live in a static library, whose initialiser the linker would drop. The
// macro declares the initialiser, so this stays outside any namespace.
static void LoadResources() {
    Q_INIT_RESOURCE(parlox);
}

namespace {

std::string ToUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

template <typename Widget> Widget* Find(QWidget* client, const char* objectName) {
    return client->findChild<Widget*>(QString::fromUtf8(objectName), Qt::FindDirectChildrenOnly);
}

} // namespace

MainWindow::MainWindow(WindowCommands windowCommands) : commands(std::move(windowCommands)) {
    LoadResources();
    // A fixed dialog frame: title, system menu, minimise and close, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(MAIN_DIALOG.title));
    setWindowIcon(AppIcon());

    auto* client = new QWidget(this);
    client->setFont(DialogFont());
    client->setFixedSize(
        DialogUnitsOf(DialogFont()).toPixels(MAIN_DIALOG.width, MAIN_DIALOG.height));
    CreateControls(MAIN_CONTROLS, client);
    name = Find<QLineEdit>(client, "IDC_NAME");
    address = Find<QLineEdit>(client, "IDC_ADDRESS");
    port = Find<QLineEdit>(client, "IDC_PORT");
    log = Find<QPlainTextEdit>(client, "IDC_LOG");
    input = Find<QLineEdit>(client, "IDC_INPUT");
    users = Find<QListWidget>(client, "IDC_USERS");

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    QMenuBar* bar = createMenu();
    layout->setMenuBar(bar);
    layout->addWidget(client);
    extras = new WindowExtras(this, bar, name, address, port, [this] { rerenderLog(); });
    logControl.emplace(log, &extras->windowFeatures());
    logPager.heard = [this](const ChatViewModel::LogUpdate& update) {
        extras->linesArrived(update);
    };

    connect(Find<QPushButton>(client, "IDC_CONNECT"), &QPushButton::clicked, this, [this] {
        extras->roomStarting(false, fieldTexts());
        commands.connect(fieldTexts());
    });
    connect(Find<QPushButton>(client, "IDC_HOST"), &QPushButton::clicked, this, [this] {
        extras->roomStarting(true, fieldTexts());
        commands.host(fieldTexts());
    });
    new InputEditProc(input, [this](const std::string& text) { commands.enter(text); });

    // Each refresh lays the log out and paints it; a busy room changes the view far more often
    // than the display shows frames, and refreshes beyond that rate would only take processor
    // time from the host's network threads.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal hertz = screen != nullptr && screen->refreshRate() > 1 ? screen->refreshRate() : 60;
    frameMs = std::max(1, static_cast<int>(1000 / hertz));
    frameTimer = new QTimer(this);
    frameTimer->setSingleShot(true);
    frameTimer->setTimerType(Qt::PreciseTimer);
    connect(frameTimer, &QTimer::timeout, this, &MainWindow::refreshView);
    refreshCall = std::make_shared<CoalescedCall>(this, [this] { refreshAtFrameRate(); });
    seenInputClears = ChatView.inputClears();
    ChatView.setObserver([call = refreshCall] { call->request(); });
    refreshView();
    uiTasksCall = std::make_shared<CoalescedCall>(this, RunUiTasks);
    SetUiWakeup([call = uiTasksCall] { call->request(); });

    // The Name field opens with its text selected, so that typing replaces "<name>".
    name->setFocus();
    name->selectAll();
    adjustSize();
    if (screen != nullptr) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

MainWindow::~MainWindow() {
    SetUiWakeup({});
    uiTasksCall->detach();
    ChatView.setObserver({});
    refreshCall->detach();
}

QMenuBar* MainWindow::createMenu() {
    // The menu bar keeps the desktop's menu font; only the client area is in the dialog font.
    auto* bar = new QMenuBar(this);
    QMenu* popup = bar->addMenu(QStringLiteral("About"));
    QAction* about = popup->addAction(QStringLiteral("&About"));
    about->setObjectName(QStringLiteral("IDM_ABOUT"));
    about->setData(IDM_ABOUT);
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
    new RoomsMenu(bar, popup->menuAction(), address, port,
                  findChild<QPushButton*>(QStringLiteral("IDC_CONNECT")));
    new FilesMenu(bar, popup->menuAction(), this);
    return bar;
}

void MainWindow::showAbout() {
    AboutBox box(this);
    box.exec();
}

FieldTexts MainWindow::fieldTexts() const {
    return {ToUtf8(name->text()), ToUtf8(address->text()), ToUtf8(port->text())};
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Kept running in the notification area: the window hides, and the room goes on.
    if (extras->hidOnClose()) {
        event->ignore();
        return;
    }
    commands.close();
    extras->closing(fieldTexts());
    event->accept();
    QCoreApplication::quit();
}

void MainWindow::refreshAtFrameRate() {
    const qint64 left = sinceRefresh.isValid() ? frameMs - sinceRefresh.elapsed() : 0;
    if (left <= 0) {
        refreshView();
        return;
    }
    // Until the frame's refresh, changes need not wake this thread: that refresh shows them.
    refreshCall->defer();
    if (!frameTimer->isActive()) {
        frameTimer->start(static_cast<int>(left));
    }
}

void MainWindow::refreshView() {
    refreshCall->taken();
    sinceRefresh.restart();
    frameTimer->stop();
    if (logPager.refresh(ChatView, *logControl)) {
        refreshCall->request(); // queued behind whatever else the event loop has waiting
    }

    std::vector<std::string> names = ChatView.users();
    if (names != shownUsers) {
        users->clear();
        for (const std::string& entry : names) {
            users->addItem(QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size())));
        }
        shownUsers = std::move(names);
    }

    const uint64_t clears = ChatView.inputClears();
    if (clears != seenInputClears) {
        seenInputClears = clears;
        input->clear();
    }
}

void MainWindow::rerenderLog() {
    logPager.reshow(*logControl);
    refreshView();
}
