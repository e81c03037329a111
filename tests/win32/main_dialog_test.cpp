// The Win32 main dialog on a thread of its own, driven through its message queue like a user:
// the template against the control table, keys, the About box, the log, and closing.
// Winsock 2 before windows.h, which the dialog headers include.
#include <winsock2.h>

#include "app/control_table.h"
#include "app/room_discovery.h"
#include "app/win32/dialog_view.h"
#include "app/win32/main_dialog.h"
#include "app/win32/rooms_menu.h"
#include "app/win32/wide_text.h"
#include "chat/chat_client.h"
#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "discovery/dnsapi/dnsapi_discovery.h"
#include "tests/support/wait.h"

#include <commctrl.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// RECT lives in the global namespace; so must its operators, for gtest to find them.
static bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

static std::ostream& operator<<(std::ostream& out, const RECT& r) {
    return out << '(' << r.left << ',' << r.top << ")-(" << r.right << ',' << r.bottom << ')';
}

namespace {

std::string Text(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), int(text.size()))));
    return Utf8FromWide(text);
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

LONG_PTR StyleOf(HWND window) {
    return ::GetWindowLongPtrW(window, GWL_STYLE);
}

// A control's rectangle in its dialog's client coordinates.
RECT PlaceOf(HWND control) {
    RECT place{};
    ::GetWindowRect(control, &place);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&place), 2);
    return place;
}

// The dialog manager converts the position and the size each on its own, so the right edge is the
// converted x plus the converted width.
RECT DialogRect(HWND dialog, int x, int y, int width, int height) {
    RECT place{x, y, width, height};
    ::MapDialogRect(dialog, &place);
    return {place.left, place.top, place.left + place.right, place.top + place.bottom};
}

void PostKey(HWND target, UINT key) {
    const auto scan = static_cast<LPARAM>(::MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
    ::PostMessageW(target, WM_KEYDOWN, key, 1 | scan);
    ::PostMessageW(target, WM_KEYUP, key, 1 | scan | (LPARAM{3} << 30));
}

// Compares each child of a dialog, in creation order, with its row of the control table.
template <size_t N> void ExpectTemplate(HWND dialog, const Control (&table)[N]) {
    HWND child = ::GetWindow(dialog, GW_CHILD);
    for (const Control& row : table) {
        ASSERT_NE(child, nullptr) << row.text;
        EXPECT_EQ(::GetDlgCtrlID(child), row.id) << row.text;
        if (row.kind != ControlKind::Log) {
            EXPECT_EQ(Text(child), row.text) << row.id;
        }
        EXPECT_EQ(PlaceOf(child), DialogRect(dialog, row.x, row.y, row.width, row.height))
            << row.id << ' ' << row.text;
        const LONG_PTR style = StyleOf(child);
        const bool tabStop = (style & WS_TABSTOP) != 0;
        // Dialogs draw a control's border as a sunken edge (WS_EX_CLIENTEDGE) instead.
        const bool border =
            (style & WS_BORDER) || (::GetWindowLongPtrW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
        switch (row.kind) {
        case ControlKind::Edit:
            EXPECT_EQ(ClassOf(child), L"Edit");
            EXPECT_TRUE(tabStop && border && (style & ES_AUTOHSCROLL)) << row.id << ' ' << style;
            break;
        case ControlKind::Label:
            EXPECT_EQ(ClassOf(child), L"Static");
            EXPECT_EQ(style & SS_TYPEMASK, SS_LEFT) << row.text;
            break;
        case ControlKind::Button:
        case ControlKind::Default:
            EXPECT_EQ(ClassOf(child), L"Button");
            EXPECT_TRUE(tabStop) << row.id;
            EXPECT_EQ(style & BS_TYPEMASK,
                      row.kind == ControlKind::Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
            break;
        case ControlKind::Log:
            EXPECT_EQ(ClassOf(child), L"RichEdit20A");
            EXPECT_FALSE(tabStop);
            // Rich edit keeps its frame, scroll bars and read-only state to itself.
            EXPECT_TRUE(style & ES_MULTILINE);
            EXPECT_TRUE(::SendMessageW(child, EM_GETOPTIONS, 0, 0) & ECO_READONLY);
            break;
        case ControlKind::List:
            EXPECT_EQ(ClassOf(child), L"ListBox");
            EXPECT_FALSE(tabStop || (style & LBS_SORT));
            EXPECT_TRUE(border && (style & LBS_NOINTEGRALHEIGHT) && (style & LBS_NOTIFY)) << style;
            break;
        }
        child = ::GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr);
}

// What the dialog asked the commands to do.
struct Recorder {
    std::mutex mutex;
    std::vector<std::string> calls;
    void add(std::string call) {
        std::lock_guard<std::mutex> guard(mutex);
        calls.push_back(std::move(call));
    }
    std::vector<std::string> taken() {
        std::lock_guard<std::mutex> guard(mutex);
        return std::exchange(calls, {});
    }
};

class MainDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::InitCommonControls();
        ::LoadLibraryW(L"RICHED20.DLL");
    }

    void SetUp() override {
        std::lock_guard<std::mutex> guard(ChatLock);
        ResetChatView(true);
    }

    void open(WindowCommands commands) {
        ui = std::thread([this, commands] {
            uiThread = ::GetCurrentThreadId();
            RunMainDialog(::GetModuleHandleW(nullptr), commands);
            finished = true;
        });
        ASSERT_TRUE(WaitFor([] { return MainDialogWindow() != nullptr; }));
        dialog = MainDialogWindow();
    }

    void openRecorded() {
        WindowCommands commands;
        commands.connect = [this](const FieldTexts& f) {
            recorder.add("connect " + f.name + "|" + f.address + "|" + f.port);
        };
        commands.host = [this](const FieldTexts& f) {
            recorder.add("host " + f.name);
        };
        commands.enter = [this](const std::string& text) {
            recorder.add("enter " + text);
        };
        commands.close = [this] {
            recorder.add("close");
        };
        open(commands);
    }

    bool close() {
        ::PostMessageW(dialog, WM_CLOSE, 0, 0);
        const bool ended = WaitFor([this] { return finished.load(); }, 15000);
        ui.join();
        return ended;
    }

    void TearDown() override {
        if (ui.joinable())
            close();
    }

    HWND item(int id) const { return ::GetDlgItem(dialog, id); }
    HWND focus() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        ::GetGUIThreadInfo(uiThread, &info);
        return info.hwndFocus;
    }
    void focusOn(int id) const {
        ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(id)), TRUE);
    }
    // Types a marker key into a field and waits for its letter: every key posted before has been
    // handled (the characters of posted keys queue up behind everything posted before them).
    bool settle(int id) const {
        PostKey(item(id), 'Z');
        return WaitFor([&] { return Text(item(id)).find('z') != std::string::npos; });
    }
    std::string logText() const { return DialogView::logText(item(IDC_LOG)); }
    // The Rooms menu's items as shown, each with " (disabled)" where it cannot be chosen.
    std::vector<std::string> roomItems() const {
        HMENU bar = ::GetMenu(dialog);
        HMENU rooms = ::GetSubMenu(bar, ::GetMenuItemCount(bar) - 2);
        std::vector<std::string> items;
        for (int i = 0; i < ::GetMenuItemCount(rooms); ++i) {
            wchar_t text[256] = {};
            ::GetMenuStringW(rooms, static_cast<UINT>(i), text, 256, MF_BYPOSITION);
            const bool grayed =
                ::GetMenuState(rooms, static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED;
            items.push_back(Utf8FromWide(text) + (grayed ? " (disabled)" : ""));
        }
        return items;
    }

    std::thread ui;
    std::atomic<DWORD> uiThread{0};
    std::atomic<bool> finished{false};
    HWND dialog = nullptr;
    Recorder recorder;
};

} // namespace

TEST_F(MainDialog, MatchesItsTemplate) {
    openRecorded();
    EXPECT_EQ(Text(dialog), "Parlox");
    RECT client{};
    ::GetClientRect(dialog, &client);
    EXPECT_EQ(client, DialogRect(dialog, 0, 0, MAIN_DIALOG.width, MAIN_DIALOG.height));
    const LONG_PTR style = StyleOf(dialog);
    EXPECT_TRUE((style & WS_SYSMENU) && (style & WS_MINIMIZEBOX) && (style & WS_CAPTION));
    EXPECT_FALSE((style & WS_MAXIMIZEBOX) || (style & WS_THICKFRAME));
    ExpectTemplate(dialog, MAIN_CONTROLS);

    HMENU bar = ::GetMenu(dialog);
    ASSERT_NE(bar, nullptr);
    // About is the last menu, and Rooms stands right before it.
    const int about = ::GetMenuItemCount(bar) - 1;
    ASSERT_GE(about, 1);
    wchar_t caption[32] = {};
    ::GetMenuStringW(bar, static_cast<UINT>(about - 1), caption, 32, MF_BYPOSITION);
    EXPECT_STREQ(caption, L"Rooms");
    ::GetMenuStringW(bar, static_cast<UINT>(about), caption, 32, MF_BYPOSITION);
    EXPECT_STREQ(caption, L"About");
    HMENU popup = ::GetSubMenu(bar, about);
    EXPECT_EQ(::GetMenuItemID(popup, 0), static_cast<UINT>(IDM_ABOUT));
    ::GetMenuStringW(popup, 0, caption, 32, MF_BYPOSITION);
    EXPECT_STREQ(caption, L"&About");
    EXPECT_NE(::SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(::SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0), 0);

    // The chat font on the log and the list only (rich edit keeps it as its character format).
    const auto chatFont =
        reinterpret_cast<HFONT>(::SendMessageW(item(IDC_USERS), WM_GETFONT, 0, 0));
    EXPECT_NE(chatFont, reinterpret_cast<HFONT>(::SendMessageW(item(IDC_NAME), WM_GETFONT, 0, 0)));
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    ::SendMessageW(item(IDC_LOG), EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    EXPECT_STREQ(format.szFaceName, L"Arial");
    LOGFONTW font{};
    ASSERT_NE(::GetObjectW(chatFont, sizeof font, &font), 0);
    EXPECT_STREQ(font.lfFaceName, L"Arial");
    EXPECT_EQ(font.lfHeight, -12);
    EXPECT_EQ(font.lfWeight, FW_NORMAL);

    // The focus starts in the Name field with its text selected, and Tab walks the template.
    EXPECT_TRUE(WaitFor([&] { return focus() == item(IDC_NAME); }));
    DWORD from = 1, to = 0;
    ::SendMessageW(item(IDC_NAME), EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                   reinterpret_cast<LPARAM>(&to));
    EXPECT_EQ(from, 0u);
    EXPECT_EQ(to, 6u);
    const int order[] = {IDC_NAME, IDC_ADDRESS, IDC_PORT, IDC_CONNECT,
                         IDC_HOST, IDC_INPUT,   IDC_NAME};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        EXPECT_EQ(::GetNextDlgTabItem(dialog, item(order[i]), FALSE), item(order[i + 1])) << i;
}

TEST_F(MainDialog, InputLineTakesEnterAndSwallowsTab) {
    openRecorded();
    focusOn(IDC_INPUT);
    // Percent signs, conversions and non-ASCII letters reach the command byte for byte.
    const std::string line = "100% %s %n %d \xc3\xbc\xe2\x82\xac";
    ::SetWindowTextW(item(IDC_INPUT), WideFromUtf8(line).c_str());
    PostKey(item(IDC_INPUT), VK_TAB);
    PostKey(item(IDC_INPUT), VK_RETURN);
    PostKey(item(IDC_INPUT), VK_RETURN); // the empty line is handed on too
    ASSERT_TRUE(settle(IDC_INPUT));
    EXPECT_EQ(recorder.taken(), (std::vector<std::string>{"enter " + line, "enter "}));
    EXPECT_EQ(Text(item(IDC_INPUT)), "z");
    EXPECT_EQ(focus(), item(IDC_INPUT));
}

TEST_F(MainDialog, EnterAndEscInFieldsDoNothingButEnterPressesAFocusedButton) {
    openRecorded();
    for (int id : {IDC_NAME, IDC_ADDRESS, IDC_PORT}) {
        focusOn(id);
        PostKey(item(id), VK_RETURN);
        PostKey(item(id), VK_ESCAPE);
        ASSERT_TRUE(settle(id)) << id;
    }
    EXPECT_TRUE(recorder.taken().empty());
    EXPECT_TRUE(::IsWindowVisible(dialog));

    ::SetWindowTextW(item(IDC_NAME), L"ann");
    ::SetWindowTextW(item(IDC_ADDRESS), L"10.0.0.9");
    ::SetWindowTextW(item(IDC_PORT), L"70000");
    focusOn(IDC_CONNECT);
    PostKey(item(IDC_CONNECT), VK_RETURN);
    EXPECT_TRUE(WaitFor([&] { return !recorder.calls.empty(); }));
    EXPECT_EQ(recorder.taken(), (std::vector<std::string>{"connect ann|10.0.0.9|70000"}));
    focusOn(IDC_HOST);
    PostKey(item(IDC_HOST), VK_RETURN);
    EXPECT_TRUE(WaitFor([&] { return !recorder.calls.empty(); }));
    EXPECT_EQ(recorder.taken(), (std::vector<std::string>{"host ann"}));
}

TEST_F(MainDialog, AboutBoxClosesWithOkOrCloseBoxNotEsc) {
    openRecorded();
    // Once it is shown and its controls exist.
    const auto findAbout = [] {
        const HWND box = ::FindWindowW(L"#32770", L"Parlox v1.0");
        return box != nullptr && ::IsWindowVisible(box) && ::GetDlgItem(box, IDOK) ? box : nullptr;
    };
    ::PostMessageW(dialog, WM_COMMAND, IDM_ABOUT, 0);
    ASSERT_TRUE(WaitFor([&] { return findAbout() != nullptr; }));
    const HWND about = findAbout();
    EXPECT_EQ(::GetWindow(about, GW_OWNER), dialog);
    ExpectTemplate(about, ABOUT_CONTROLS);
    RECT client{};
    ::GetClientRect(about, &client);
    EXPECT_EQ(client, DialogRect(about, 0, 0, ABOUT_DIALOG.width, ABOUT_DIALOG.height));

    const HWND ok = ::GetDlgItem(about, IDOK);
    PostKey(ok, VK_ESCAPE);
    PostKey(ok, VK_RETURN); // the default button
    ASSERT_TRUE(WaitFor([&] { return findAbout() == nullptr; }));

    ::PostMessageW(dialog, WM_COMMAND, IDM_ABOUT, 0);
    ASSERT_TRUE(WaitFor([&] { return findAbout() != nullptr; }));
    ::PostMessageW(findAbout(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return findAbout() == nullptr; }));
    EXPECT_TRUE(recorder.taken().empty());
}

TEST_F(MainDialog, LogShowsLinesVerbatimFromManyThreads) {
    openRecorded();
    const std::string name = "<n%sme>";
    const std::string text = "100% %s %n %d%% \xc3\xbc\xe2\x82\xac {\\rtf1 x}";
    AppendChatLine(name, text);
    const std::string expected = "<" + name + ">: " + text + "\n";
    ASSERT_TRUE(WaitFor([&] { return logText() == expected; })) << logText();

    // Four threads appending at once lose nothing, and each thread's lines stay in order.
    constexpr int THREADS = 4, LINES = 300;
    std::vector<std::thread> writers;
    for (int t = 0; t < THREADS; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < LINES; ++i)
                AppendLog("writer %d line %d", t, i);
        });
    for (std::thread& writer : writers)
        writer.join();
    ASSERT_TRUE(WaitFor([&] { return logText() == ChatView.logText(); }, 20000));
    const std::string shown = logText();
    for (int t = 0; t < THREADS; ++t) {
        size_t at = 0;
        for (int i = 0; i < LINES; ++i) {
            const std::string line =
                "writer " + std::to_string(t) + " line " + std::to_string(i) + "\n";
            at = shown.find(line, at);
            ASSERT_NE(at, std::string::npos) << line;
        }
    }
}

// Past its limit the log lets go of its oldest lines, in the control as in the model, line breaks
// inside lines included.
TEST_F(MainDialog, LogDropsOldestLinesAtItsLimit) {
    openRecorded();
    const std::string filler(180, 'x');
    for (int i = 0; i < 700; ++i) {
        if (i % 100 == 0)
            AppendLog("<<Error: %s>>", "WSAECONNREFUSED\nConnection refused");
        AppendLog("%04d %s", i, filler.c_str());
    }
    ASSERT_LT(ChatView.logBytes(), ChatViewModel::LOG_LIMIT + 1);
    EXPECT_TRUE(WaitFor([&] { return logText() == ChatView.logText(); }, 20000))
        << logText().size() << " shown, " << ChatView.logBytes() << " in the log; shown starts "
        << logText().substr(0, 300) << "\nmodel starts " << ChatView.logText().substr(0, 300);
    {
        std::lock_guard<std::mutex> guard(ChatLock);
        ResetChatView(true);
    }
    EXPECT_TRUE(WaitFor([&] { return logText().empty(); }));
}

TEST_F(MainDialog, RoomsMenuListsRoomsAndChoosingOneFillsTheFields) {
    openRecorded();
    EXPECT_TRUE(WaitFor([&] {
        return roomItems() == std::vector<std::string>{"No rooms found on this network (disabled)"};
    }));
    FoundRooms.put("b", {"R&D", "10.0.0.7", 6000, 4});
    FoundRooms.put("a", {"Ann", "192.168.1.20", 5000, 1});
    const std::vector<std::string> listed = {"Ann \u2014 192.168.1.20, port 5000, 1 person",
                                             "R&&D \u2014 10.0.0.7, port 6000, 4 people"};
    EXPECT_TRUE(WaitFor([&] { return roomItems() == listed; }));

    ::PostMessageW(dialog, WM_COMMAND, IDM_ROOM_FIRST + 1, 0);
    EXPECT_TRUE(WaitFor([&] { return focus() == item(IDC_CONNECT); }));
    EXPECT_EQ(Text(item(IDC_ADDRESS)), "10.0.0.7");
    EXPECT_EQ(Text(item(IDC_PORT)), "6000");
    PostKey(item(IDC_CONNECT), VK_RETURN); // Enter then joins
    EXPECT_TRUE(WaitFor([&] { return !recorder.calls.empty(); }));
    EXPECT_EQ(recorder.taken(), (std::vector<std::string>{"connect <name>|10.0.0.7|6000"}));

    FoundRooms.setUnavailable(DnsApiDiscovery::UNAVAILABLE);
    EXPECT_TRUE(WaitFor([&] {
        return roomItems() ==
               std::vector<std::string>{std::string(DnsApiDiscovery::UNAVAILABLE) + " (disabled)"};
    }));
    FoundRooms.setAvailable();
}

// The window closes promptly while it hosts a room and is a client in it, and leaves no role.
// Finding rooms runs meanwhile, as in the program: where the system lacks it (Wine), the Rooms
// menu says so and hosting and joining go on as before.
TEST_F(MainDialog, ClosesWithLiveServerAndClient) {
    StartRoomDiscovery();
    open(WindowCommands{});
    if (!FoundRooms.snapshot().unavailable.empty()) {
        EXPECT_TRUE(WaitFor([&] {
            return roomItems() == std::vector<std::string>{
                                      std::string(DnsApiDiscovery::UNAVAILABLE) + " (disabled)"};
        }));
    }
    // A port number whose swapped bytes were a free TCP port a moment ago.
    SOCKET probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::closesocket(probe);
    const std::wstring number = std::to_wstring(address.sin_port); // the port's bytes, swapped

    ::SetWindowTextW(item(IDC_NAME), L"host");
    ::SetWindowTextW(item(IDC_PORT), number.c_str());
    ::PostMessageW(item(IDC_HOST), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return ::SendMessageW(item(IDC_USERS), LB_GETCOUNT, 0, 0) == 1; }));
    ::SetWindowTextW(item(IDC_NAME), L"guest");
    ::SetWindowTextW(item(IDC_ADDRESS), L"127.0.0.1");
    ::PostMessageW(item(IDC_CONNECT), BM_CLICK, 0, 0);
    // Both ends of the connection are in this process: the room has taken it into a slot.
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard<std::mutex> guard(ChatLock);
        return ActiveClient != nullptr && ActiveServer != nullptr &&
               ActiveServer->occupiedSlots() == 1;
    })) << logText();

    EXPECT_TRUE(close());
    StopRoomDiscovery();
    FoundRooms.setAvailable();
    std::lock_guard<std::mutex> guard(ChatLock);
    EXPECT_EQ(ActiveClient, nullptr);
    EXPECT_EQ(ActiveServer, nullptr);
}

// Not a test: with PARLOX_SCREENSHOT set to a file name, shows a room and saves the window as a
// 24-bit BMP there (scripts/screenshot-windows.sh makes docs/window-windows.png from it).
TEST_F(MainDialog, Screenshot) {
    const char* path = std::getenv("PARLOX_SCREENSHOT");
    if (path == nullptr)
        GTEST_SKIP() << "PARLOX_SCREENSHOT not set";
    openRecorded();
    ::SetWindowTextW(item(IDC_NAME), L"Ann");
    AppendLog("----- Hosting on port: %d -----", 5000);
    AppendLog("IP List:");
    AppendLog("     1) %s", "office-pc");
    AppendLog("     2) %s", "192.168.1.20");
    AppendLog("----------------------------------------");
    AddUserName("Ann");
    AddUserName("Bob");
    AddUserName("Chlo\xc3\xa9");
    AppendChatLine("Bob", "Morning! Lunch at 12?");
    AppendChatLine("Ann", "Sure, the usual place.");
    AppendChatLine("Chlo\xc3\xa9", "Count me in \xe2\x80\x93 sch\xc3\xb6ne Gr\xc3\xbc\xc3\x9f"
                                   "e from upstairs");
    ::SetWindowTextW(item(IDC_INPUT), L"See you there");
    ASSERT_TRUE(WaitFor([&] { return logText().find("upstairs") != std::string::npos; }));
    ::RedrawWindow(dialog, nullptr, nullptr,
                   RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    ::Sleep(500); // let the X server draw what the window painted

    RECT frame{};
    ::GetWindowRect(dialog, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<char> pixels(stride * static_cast<DWORD>(height));
    ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4d42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(path, "wb");
    ASSERT_NE(out, nullptr) << path;
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&header, sizeof header, 1, out);
    std::fwrite(pixels.data(), 1, pixels.size(), out);
    std::fclose(out);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}
