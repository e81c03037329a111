// The main window: built from the control table, wired to the commands, repainted from ChatView.
#include "app/qt/main_window.h"

#include "app/control_table.h"
#include "app/qt/about_box.h"
#include "app/qt/app_icon.h"
#include "app/qt/coalesced_call.h"
#include "app/qt/controls.h"
#include "app/qt/dialog_units.h"
#include "app/qt/fonts.h"
#include "app/qt/input_edit_proc.h"
#include "app/qt/rooms_menu.h"
#include "chat/ui_tasks.h"
#include "chat/window_ops.h"

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
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
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
    layout->setMenuBar(createMenu());
    layout->addWidget(client);

    connect(Find<QPushButton>(client, "IDC_CONNECT"), &QPushButton::clicked, this,
            [this] { commands.connect(fieldTexts()); });
    connect(Find<QPushButton>(client, "IDC_HOST"), &QPushButton::clicked, this,
            [this] { commands.host(fieldTexts()); });
    new InputEditProc(input, [this](const std::string& text) { commands.enter(text); });

    refreshCall = std::make_shared<CoalescedCall>(this, [this] { refreshView(); });
    seenInputClears = ChatView.inputClears();
    ChatView.setObserver([call = refreshCall] { call->request(); });
    refreshView();
    uiTasksCall = std::make_shared<CoalescedCall>(this, RunUiTasks);
    SetUiWakeup([call = uiTasksCall] { call->request(); });

    // The Name field opens with its text selected, so that typing replaces "<name>".
    name->setFocus();
    name->selectAll();
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
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
    commands.close();
    event->accept();
    QCoreApplication::quit();
}

void MainWindow::refreshView() {
    applyLog(ChatView.logSince(logCursor));

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

void MainWindow::applyLog(ChatViewModel::LogUpdate update) {
    if (update.cleared) {
        log->clear();
        blocksPerLine.clear();
        pendingLines.clear();
    }
    // Lines the log let go of leave the top of what is shown first, then the waiting ones.
    const size_t shownDropped = std::min(update.droppedFront, blocksPerLine.size());
    const size_t waitingDropped = std::min(update.droppedFront - shownDropped, pendingLines.size());
    pendingLines.erase(pendingLines.begin(),
                       pendingLines.begin() + static_cast<std::ptrdiff_t>(waitingDropped));
    for (std::string& line : update.added) {
        pendingLines.push_back(std::move(line));
    }
    if (shownDropped == 0 && pendingLines.empty()) {
        return;
    }
    // A busy room can hand over a whole log's worth of lines at once; showing them in slices of
    // LINES_PER_REFRESH, one per turn of the event loop, keeps the window answering meanwhile.
    const size_t count = std::min(pendingLines.size(), LINES_PER_REFRESH);
    // One edit block, so that the document lays itself out once per refresh, not once per line.
    QTextCursor cursor(log->document());
    cursor.beginEditBlock();
    dropLogLines(shownDropped);
    for (size_t i = 0; i < count; ++i) {
        appendLogLine(pendingLines[i]);
    }
    cursor.endEditBlock();
    pendingLines.erase(pendingLines.begin(),
                       pendingLines.begin() + static_cast<std::ptrdiff_t>(count));
    if (count > 0) {
        // The newest line shows, wherever the user had scrolled to.
        QScrollBar* bar = log->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
    if (!pendingLines.empty()) {
        refreshCall->request(); // queued behind whatever else the event loop has waiting
    }
}

void MainWindow::appendLogLine(const std::string& line) {
    QTextDocument* document = log->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    // An empty document still has one empty block, which the first line fills.
    const int before = blocksPerLine.empty() ? 0 : document->blockCount();
    if (!blocksPerLine.empty()) {
        cursor.insertBlock();
    }
    // Bytes that are not UTF-8 turn into replacement characters. Line feeds and carriage returns
    // inside the line start new blocks, counted from the document rather than guessed.
    cursor.insertText(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    blocksPerLine.push_back(document->blockCount() - before);
}

void MainWindow::dropLogLines(size_t count) {
    count = std::min(count, blocksPerLine.size());
    if (count == 0) {
        return;
    }
    QTextCursor cursor(log->document());
    if (count == blocksPerLine.size()) {
        cursor.select(QTextCursor::Document);
        cursor.removeSelectedText();
        blocksPerLine.clear();
        return;
    }
    int blocks = 0;
    for (size_t i = 0; i < count; ++i) {
        blocks += blocksPerLine.front();
        blocksPerLine.pop_front();
    }
    // From the start of the first block to the start of the first kept one, separator included.
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, blocks);
    cursor.removeSelectedText();
}
