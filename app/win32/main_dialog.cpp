// The main dialog: set up from its template, wired to the commands, repainted from ChatView.
#include "app/win32/main_dialog.h"

#include "app/win32/about_dialog.h"
#include "app/win32/dialog_extras.h"
#include "app/win32/dialog_view.h"
#include "app/win32/files_menu.h"
#include "app/win32/input_edit_proc.h"
#include "app/win32/posted_call.h"
#include "app/win32/rooms_menu.h"
#include "chat/window_ops.h"
#include "commands/control_table.h"
#include "model/ui_tasks.h"
#include "text/wide_text.h"

#include <richedit.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

namespace {

// The window's program-wide state: made when the dialog starts, used on its thread only (the
// posted calls excepted, which other threads reach through the observers).
struct MainDialogState {
    HINSTANCE instance = nullptr;
    std::atomic<HWND> window{nullptr}; // read by tests on other threads
    WindowCommands commands;
    HFONT chatFont = nullptr; // created once, released with the process
    std::unique_ptr<DialogExtras> extras;
    std::unique_ptr<DialogView> view;
    // Shared with ChatView's observer and the task queue's wake-up, which may still be running on
    // a network thread when the window goes.
    std::shared_ptr<PostedCall> refreshCall;
    std::shared_ptr<PostedCall> uiTasksCall;
    // A busy room changes the view far more often than the display shows frames: the log is
    // laid out and painted at most once per frame, and what changes within a frame waits for the
    // frame's end on a timer.
    UINT frameMs = 16;
    ULONGLONG lastRefresh = 0;
    bool refreshTimerSet = false;
    std::unique_ptr<RoomsMenu> rooms;
    std::unique_ptr<FilesMenu> files;
};

constexpr UINT_PTR REFRESH_TIMER = 2; // DialogExtras's notification timer is 1

MainDialogState Dialog;

std::string FieldText(HWND window, int id) {
    const HWND field = ::GetDlgItem(window, id);
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(field)) + 1, L'\0');
    const int length = ::GetWindowTextW(field, text.data(), static_cast<int>(text.size()));
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return Utf8FromWide(text);
}

FieldTexts ReadFields(HWND window) {
    return {FieldText(window, IDC_NAME), FieldText(window, IDC_ADDRESS),
            FieldText(window, IDC_PORT)};
}

void CreateMenuBar(HWND window) {
    HMENU bar = ::CreateMenu();
    HMENU popup = ::CreatePopupMenu();
    ::AppendMenuW(popup, MF_STRING, IDM_ABOUT, L"&About");
    ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), L"About");
    ::SetMenu(window, bar);
}

// The menu bar takes its height from the client area; the window grows by it so that the client
// area stays the template's size, and is centred again.
void KeepTemplateClientSize(HWND window) {
    RECT client{0, 0, MAIN_DIALOG.width, MAIN_DIALOG.height};
    ::MapDialogRect(window, &client);
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_EXSTYLE));
    ::AdjustWindowRectEx(&client, style, TRUE, exStyle);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    ::SetWindowPos(window, nullptr, work.left + (work.right - work.left - width) / 2,
                   work.top + (work.bottom - work.top - height) / 2, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetIcons(HWND window) {
    // The icon holds several sizes; each slot gets the one the system draws there.
    const auto load = [](int sizeX, int sizeY) {
        return reinterpret_cast<LPARAM>(::LoadImageW(Dialog.instance, MAKEINTRESOURCEW(IDI_PARLOX),
                                                     IMAGE_ICON, ::GetSystemMetrics(sizeX),
                                                     ::GetSystemMetrics(sizeY), LR_DEFAULTCOLOR));
    };
    ::SendMessageW(window, WM_SETICON, ICON_BIG, load(SM_CXICON, SM_CYICON));
    ::SendMessageW(window, WM_SETICON, ICON_SMALL, load(SM_CXSMICON, SM_CYSMICON));
}

// Arial, 12 logical units high, normal weight, antialiased.
HFONT CreateChatFont() {
    return ::CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_TT_PRECIS,
                         CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, 0, L"Arial");
}

void Initialise(HWND window) {
    CreateMenuBar(window);
    Dialog.rooms = std::make_unique<RoomsMenu>(window);
    Dialog.files = std::make_unique<FilesMenu>(window);
    SetIcons(window);
    Dialog.extras = std::make_unique<DialogExtras>(
        window, reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0)), [] {
            if (Dialog.view) {
                Dialog.view->rerender();
                Dialog.refreshCall->request();
            }
        });
    Dialog.extras->addMenus(::GetMenu(window));
    KeepTemplateClientSize(window);
    const HWND input = ::GetDlgItem(window, IDC_INPUT);
    if (input != nullptr)
        SubclassInputLine(input, [](const std::string& text) { Dialog.commands.enter(text); });
    Dialog.chatFont = CreateChatFont();
    // Rich edit holds 32K characters unless told otherwise; the log's own limit is what counts.
    ::SendMessageW(::GetDlgItem(window, IDC_LOG), EM_EXLIMITTEXT, 0, 2 * ChatViewModel::LOG_LIMIT);
    ::SendMessageW(::GetDlgItem(window, IDC_LOG), WM_SETFONT,
                   reinterpret_cast<WPARAM>(Dialog.chatFont), TRUE);
    ::SendMessageW(::GetDlgItem(window, IDC_USERS), WM_SETFONT,
                   reinterpret_cast<WPARAM>(Dialog.chatFont), TRUE);
    Dialog.extras->showRememberedFields();
    const HDC screen = ::GetDC(window);
    const int hertz = ::GetDeviceCaps(screen, VREFRESH); // 0 or 1: the hardware's default
    ::ReleaseDC(window, screen);
    Dialog.frameMs = 1000 / static_cast<UINT>(hertz > 1 ? hertz : 60);

    // Network threads never touch a control: they change ChatView or queue a task, and a posted
    // message brings the change to this thread.
    Dialog.view =
        std::make_unique<DialogView>(::GetDlgItem(window, IDC_LOG), ::GetDlgItem(window, IDC_USERS),
                                     input, &Dialog.extras->features());
    Dialog.refreshCall = std::make_shared<PostedCall>(window, WM_REFRESH_VIEW);
    ChatView.setObserver([call = Dialog.refreshCall] { call->request(); });
    Dialog.refreshCall->request(); // what ChatView holds already
    Dialog.uiTasksCall = std::make_shared<PostedCall>(window, WM_RUN_UI_TASKS);
    SetUiWakeup([call = Dialog.uiTasksCall] { call->request(); });
    Dialog.window = window;
}

// Before the window goes: no observer may post to it any more.
void Detach() {
    SetUiWakeup({});
    if (Dialog.uiTasksCall)
        Dialog.uiTasksCall->detach();
    ChatView.setObserver({});
    if (Dialog.refreshCall)
        Dialog.refreshCall->detach();
    Dialog.view.reset();
    Dialog.extras.reset();
    Dialog.rooms.reset();
    Dialog.files.reset();
    Dialog.window = nullptr;
}

void Refresh(HWND window) {
    if (Dialog.refreshTimerSet)
        ::KillTimer(window, REFRESH_TIMER);
    Dialog.refreshTimerSet = false;
    Dialog.lastRefresh = ::GetTickCount64();
    if (Dialog.view && Dialog.view->refresh(Dialog.extras->active()))
        Dialog.refreshCall->request(); // the rest after whatever else is waiting
    Dialog.extras->scheduleTick();
}

void RefreshAtFrameRate(HWND window) {
    const ULONGLONG since = ::GetTickCount64() - Dialog.lastRefresh;
    if (since >= Dialog.frameMs) {
        Refresh(window);
    } else if (!Dialog.refreshTimerSet) {
        Dialog.refreshTimerSet = true;
        ::SetTimer(window, REFRESH_TIMER, Dialog.frameMs - static_cast<UINT>(since), nullptr);
    }
}

void Command(HWND window, int id) {
    switch (id) {
    case IDC_CONNECT:
        Dialog.extras->roomStarting(false, ReadFields(window));
        Dialog.commands.connect(ReadFields(window));
        break;
    case IDC_HOST:
        Dialog.extras->roomStarting(true, ReadFields(window));
        Dialog.commands.host(ReadFields(window));
        break;
    case IDM_ABOUT:
        ::DialogBoxParamW(Dialog.instance, MAKEINTRESOURCEW(IDD_ABOUT), window, AboutDialogProc, 0);
        break;
    default:
        // The Log, Notify, Rooms and Files menus; IDOK from Enter in a field and IDCANCEL from
        // Esc do nothing.
        if (!Dialog.extras->command(id) && !(Dialog.rooms && Dialog.rooms->choose(id)) &&
            Dialog.files)
            Dialog.files->choose(id);
        break;
    }
}

} // namespace

int RunMainDialog(HINSTANCE instance, WindowCommands commands) {
    Dialog.instance = instance;
    Dialog.commands = std::move(commands);
    ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    return 0;
}

HWND MainDialogWindow() {
    return Dialog.window;
}

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        Initialise(window);
        return 1;
    case WM_COMMAND:
        if (HIWORD(wParam) == EN_CHANGE) {
            if (LOWORD(wParam) == IDC_INPUT && Dialog.extras)
                Dialog.extras->keyTyped();
            return 0;
        }
        Command(window, LOWORD(wParam));
        return 0;
    // Light and dark.
    case WM_SETTINGCHANGE:
        if (Dialog.extras)
            Dialog.extras->settingChanged(lParam);
        return 0;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
        return Dialog.extras ? reinterpret_cast<INT_PTR>(Dialog.extras->controlColours(
                                   message, reinterpret_cast<HDC>(wParam)))
                             : 0;
    case WM_REFRESH_VIEW:
        Dialog.refreshCall->taken();
        RefreshAtFrameRate(window);
        return 0;
    // The window's activation, the timers and the notification icon's clicks, while the window is
    // initialised and not yet going.
    case WM_ACTIVATE:
        if (Dialog.extras)
            Dialog.extras->activated(LOWORD(wParam) != WA_INACTIVE);
        return 0;
    case WM_TIMER:
        if (wParam == REFRESH_TIMER)
            Refresh(window);
        else if (Dialog.extras)
            Dialog.extras->timer(wParam);
        return 0;
    case WM_TRAY_ICON:
        if (Dialog.extras)
            Dialog.extras->trayIcon(lParam);
        return 0;
    case WM_REFRESH_ROOMS:
        if (Dialog.rooms)
            Dialog.rooms->refresh();
        return 0;
    case WM_REFRESH_FILES:
        if (Dialog.files)
            Dialog.files->refresh();
        return 0;
    case WM_DROPFILES:
        if (Dialog.files)
            Dialog.files->drop(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_RUN_UI_TASKS:
        Dialog.uiTasksCall->taken();
        RunUiTasks();
        return 0;
    case WM_CLOSE:
        // Kept running in the notification area: the window hides, and the room goes on.
        if (Dialog.extras && Dialog.extras->hidOnClose())
            return 0;
        // The live roles end first (their threads are waited for here, outside ChatLock), then
        // the modal loop ends on the quit message and the window goes.
        Dialog.commands.close();
        Dialog.extras->closing(ReadFields(window));
        ::PostQuitMessage(0);
        return 0;
    case WM_DESTROY:
        Detach();
        return 0;
    default:
        return 0;
    }
}
