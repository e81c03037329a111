// The Win32 main dialog on a thread of its own, driven through its message queue like a user:
// the template against the control table, keys, the About box, the log, and closing.
// Winsock 2 before windows.h, which the dialog headers include.
#include <winsock2.h>

#include "app/win32/dialog_extras.h"
#include "app/win32/dialog_theme.h"
#include "app/win32/dialog_view.h"
#include "app/win32/file_dialogs.h"
#include "app/win32/files_menu.h"
#include "app/win32/ini_store.h"
#include "app/win32/main_dialog.h"
#include "app/win32/registry_store.h"
#include "app/win32/rich_edit_log.h"
#include "app/win32/rooms_menu.h"
#include "app/win32/tray_notifier.h"
#include "app/win32/uia_announcer.h"
#include "chat/chat_client.h"
#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "commands/control_table.h"
#include "commands/room_discovery.h"
#include "discovery/dnsapi/dnsapi_discovery.h"
#include "tests/support/contrast.h"
#include "tests/support/loopback.h"
#include "tests/support/other_window.h"
#include "tests/support/wait.h"
#include "text/wide_text.h"

#include <commctrl.h>
#include <richedit.h>
#include <uiautomationcore.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
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

// What the dialog asked the commands or the shell to do.
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

Recorder ShellRecord;

BOOL WINAPI RecordFlash(PFLASHWINFO flash) {
    ShellRecord.add("flash " + std::to_string(flash->dwFlags) +
                    (flash->hwnd == MainDialogWindow() ? " window" : " other"));
    return TRUE;
}

// "add <tip>", "tip <tip>" (the icon changed), "balloon <title> | <text>", "delete".
BOOL WINAPI RecordNotifyIcon(DWORD what, PNOTIFYICONDATAW data) {
    std::string call;
    if (what == NIM_ADD) {
        call = "add " + Utf8FromWide(data->szTip);
    } else if (what == NIM_MODIFY && (data->uFlags & NIF_INFO)) {
        call = "balloon " + Utf8FromWide(data->szInfoTitle) + " | " + Utf8FromWide(data->szInfo);
        if (data->dwInfoFlags & NIIF_RESPECT_QUIET_TIME)
            call += " (quiet time respected)";
        if (!(data->dwInfoFlags & NIIF_NOSOUND))
            call += " (with the shell's sound)";
    } else if (what == NIM_MODIFY) {
        call = "tip " + Utf8FromWide(data->szTip);
    } else {
        call = "delete";
    }
    ShellRecord.add(call);
    return TRUE;
}

BOOL WINAPI RecordSound(LPCWSTR sound, HMODULE, DWORD flags) {
    ShellRecord.add("sound " + Utf8FromWide(sound) + ((flags & SND_ASYNC) ? " async" : ""));
    return TRUE;
}

// UI Automation: a host provider that is only counted, and the notifications raised on it.
struct FakeProvider : IRawElementProviderSimple {
    std::atomic<int> references{0};
    HRESULT WINAPI QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return ++references; }
    ULONG WINAPI Release() override { return --references; }
    HRESULT WINAPI get_ProviderOptions(ProviderOptions*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetPatternProvider(PATTERNID, IUnknown**) override { return E_NOTIMPL; }
    HRESULT WINAPI GetPropertyValue(PROPERTYID, VARIANT*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_HostRawElementProvider(IRawElementProviderSimple**) override {
        return E_NOTIMPL;
    }
};
FakeProvider Provider;
Recorder UiaRecord;

HRESULT WINAPI RecordHostProvider(HWND window, IRawElementProviderSimple** provider) {
    if (window != MainDialogWindow())
        return E_INVALIDARG;
    Provider.AddRef();
    *provider = &Provider;
    return S_OK;
}

HRESULT WINAPI RecordNotification(IRawElementProviderSimple* provider, int kind, int processing,
                                  BSTR text, BSTR activity) {
    UiaRecord.add((provider == &Provider ? "" : "(another provider) ") +
                  Utf8FromWide(std::wstring(text, ::SysStringLen(text))) + " [" +
                  std::to_string(kind) + "," + std::to_string(processing) + "," +
                  Utf8FromWide(activity) + "]");
    return S_OK;
}

// The dark title bar's attribute, and the controls put in the system's dark theme.
Recorder ThemeRecord;

HRESULT WINAPI RecordWindowAttribute(HWND, DWORD attribute, LPCVOID value, DWORD) {
    ThemeRecord.add("attribute " + std::to_string(attribute) + " " +
                    std::to_string(*static_cast<const BOOL*>(value)));
    return S_OK;
}

HRESULT WINAPI RecordWindowTheme(HWND, LPCWSTR name, LPCWSTR) {
    ThemeRecord.add(name == nullptr ? "theme default" : "theme " + Utf8FromWide(name));
    return S_OK;
}

const wchar_t* const PERSONALIZE =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

void SetAppsUseLightTheme(std::optional<DWORD> light) {
    if (!light) {
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, PERSONALIZE, L"AppsUseLightTheme");
        return;
    }
    ::RegSetKeyValueW(HKEY_CURRENT_USER, PERSONALIZE, L"AppsUseLightTheme", REG_DWORD, &*light,
                      sizeof(DWORD));
}

std::optional<std::wstring> RegistryValue(const wchar_t* name) {
    wchar_t value[256] = {};
    DWORD bytes = sizeof value;
    if (::RegGetValueW(HKEY_CURRENT_USER, RegistryStore::KEY, name, RRF_RT_REG_SZ, nullptr, value,
                       &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(value);
}

class MainDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::InitCommonControls();
        ::LoadLibraryW(L"RICHED20.DLL");
    }

    void SetUp() override {
        // Every test starts as a first start, with the shell calls recorded.
        ::RegDeleteTreeW(HKEY_CURRENT_USER, RegistryStore::KEY);
        SetAppsUseLightTheme(std::nullopt);
        Shell = {RecordFlash, RecordNotifyIcon, RecordSound};
        Uia = {RecordHostProvider, RecordNotification};
        ThemeApi = {RecordWindowAttribute, RecordWindowTheme};
        ShellRecord.taken();
        UiaRecord.taken();
        ThemeRecord.taken();
        std::lock_guard<CheckedMutex> guard(ChatLock);
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
    std::string logText() const { return RichEditLog::text(item(IDC_LOG)); }
    // The items of the menu fromEnd places before the bar's end, each with " (disabled)" where it
    // cannot be chosen.
    std::vector<std::string> menuItems(int fromEnd, int first = 0) const {
        HMENU bar = ::GetMenu(dialog);
        HMENU menu = ::GetSubMenu(bar, ::GetMenuItemCount(bar) - fromEnd);
        std::vector<std::string> items;
        for (int i = first; i < ::GetMenuItemCount(menu); ++i) {
            wchar_t text[256] = {};
            ::GetMenuStringW(menu, static_cast<UINT>(i), text, 256, MF_BYPOSITION);
            const bool grayed =
                ::GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED;
            items.push_back(Utf8FromWide(text) + (grayed ? " (disabled)" : ""));
        }
        return items;
    }
    std::vector<std::string> roomItems() const { return menuItems(3); }
    // Below "Send a file…" and its separator.
    std::vector<std::string> fileItems() const { return menuItems(2, 2); }

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
    ASSERT_EQ(::GetMenuItemCount(bar), 6);
    wchar_t caption[40] = {};
    int position = 0;
    for (const wchar_t* menu : {L"Log", L"Notify", L"View", L"Rooms", L"Files", L"About"}) {
        ::GetMenuStringW(bar, static_cast<UINT>(position++), caption, 32, MF_BYPOSITION);
        EXPECT_STREQ(caption, menu);
    }
    // Nothing turned on at a first start but notifying of every line, announcing new lines and
    // following the desktop's colours; with no preference there, the window looks as it always
    // did.
    for (int id : {IDM_NOTIFY_EVERY_LINE, IDM_ANNOUNCE, IDM_THEME_FOLLOW_DESKTOP})
        EXPECT_EQ(::GetMenuState(bar, id, MF_BYCOMMAND) & MF_CHECKED, MF_CHECKED) << id;
    for (int id : {IDM_NOTIFY_MENTIONS, IDM_NOTIFY_NONE, IDM_SHOW_TIMES, IDM_KEEP_TRANSCRIPTS,
                   IDM_SOUND, IDM_KEEP_IN_NOTIFICATION_AREA, IDM_THEME_LIGHT, IDM_THEME_DARK})
        EXPECT_EQ(::GetMenuState(bar, id, MF_BYCOMMAND) & MF_CHECKED, 0u) << id;
    EXPECT_TRUE(ThemeRecord.taken().empty());
    HMENU popup = ::GetSubMenu(bar, 5);
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
        std::lock_guard<CheckedMutex> guard(ChatLock);
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
// menu says so and hosting and joining work all the same.
// A port number whose swapped bytes were a free TCP port a moment ago, as the Port field takes it;
// sin_port holds that TCP port in network byte order.
std::wstring FreeProgramPort(sockaddr_in& address) {
    SOCKET probe = ::socket(AF_INET, SOCK_STREAM, 0);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::closesocket(probe);
    return std::to_wstring(address.sin_port); // the port's bytes, swapped
}

TEST_F(MainDialog, ClosesWithLiveServerAndClient) {
    StartRoomDiscovery();
    open(WindowCommands{});
    if (!FoundRooms.snapshot().unavailable.empty()) {
        EXPECT_TRUE(WaitFor([&] {
            return roomItems() == std::vector<std::string>{
                                      std::string(DnsApiDiscovery::UNAVAILABLE) + " (disabled)"};
        }));
    }
    sockaddr_in address{};
    const std::wstring number = FreeProgramPort(address);

    ::SetWindowTextW(item(IDC_NAME), L"host");
    ::SetWindowTextW(item(IDC_PORT), number.c_str());
    ::PostMessageW(item(IDC_HOST), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return ::SendMessageW(item(IDC_USERS), LB_GETCOUNT, 0, 0) == 1; }));
    ::SetWindowTextW(item(IDC_NAME), L"guest");
    ::SetWindowTextW(item(IDC_ADDRESS), L"127.0.0.1");
    ::PostMessageW(item(IDC_CONNECT), BM_CLICK, 0, 0);
    // Both ends of the connection are in this process: the room has taken it into a slot.
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        return ActiveClient != nullptr && ActiveServer != nullptr &&
               ActiveServer->occupiedSlots() == 1;
    })) << logText();

    EXPECT_TRUE(close());
    StopRoomDiscovery();
    FoundRooms.setAvailable();
    std::lock_guard<CheckedMutex> guard(ChatLock);
    EXPECT_EQ(ActiveClient, nullptr);
    EXPECT_EQ(ActiveServer, nullptr);
}

// The Files menu hosting a room: Send a file… and drops offer files, another window's offer is
// saved where the save dialog says (Downloads first), own offers are withdrawn; the dialogs are
// the tests' through their seam.
TEST_F(MainDialog, FilesMenuOffersSavesAndWithdraws) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("parlox-files-" + std::to_string(::GetCurrentProcessId()));
    std::filesystem::create_directories(folder);
    const auto write = [&](const std::wstring& name, const std::string& bytes) {
        std::ofstream(folder / name, std::ios::binary) << bytes;
        return (folder / name).wstring();
    };
    open(WindowCommands{});
    EXPECT_TRUE(WaitFor([&] {
        return fileItems() == std::vector<std::string>{"No files offered in this room (disabled)"};
    }));
    const ReservedPort port;
    ::SetWindowTextW(item(IDC_NAME), L"Ann");
    ::SetWindowTextW(item(IDC_PORT), std::to_wstring(port.programPort()).c_str());
    ::PostMessageW(item(IDC_HOST), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return ::SendMessageW(item(IDC_USERS), LB_GETCOUNT, 0, 0) == 1; }));
    RawPeer cid = RawPeer::connectTo(port.tcpPort);
    cid.send("login\nCid\n");
    ASSERT_TRUE(cid.readUntil("login\n0\nCid\n"));

    const std::wstring mine = write(L"mine \u20AC.txt", "hello");
    ChooseFilesToSend = [&](HWND) {
        return std::vector<std::wstring>{mine};
    };
    ASSERT_TRUE(WaitFor([&] {
        return !(::GetMenuState(::GetMenu(dialog), IDM_SEND_FILE, MF_BYCOMMAND) & MF_GRAYED);
    }));
    ::PostMessageW(dialog, WM_COMMAND, IDM_SEND_FILE, 0);
    EXPECT_TRUE(WaitFor([&] {
        return fileItems() ==
               std::vector<std::string>{
                   "mine \xE2\x82\xAC.txt \u2014 5 bytes, from you (choose to withdraw)"};
    })) << logText();
    EXPECT_TRUE(
        cid.readUntil("msg\n-1\nOffering a file: mine \xE2\x82\xAC.txt (5 bytes). [Parlox"));

    // A file dropped on the dialog: the shell hands over a DROPFILES block (written out here, as
    // the shell lays it out) with its paths.
    struct DropFiles {
        DWORD pFiles;
        POINT pt;
        BOOL fNC;
        BOOL fWide;
    };
    const std::wstring dropped = write(L"R&D notes", "notes");
    const size_t bytes = sizeof(DropFiles) + (dropped.size() + 2) * sizeof(wchar_t);
    HGLOBAL block = ::GlobalAlloc(GHND, bytes);
    auto* files = static_cast<DropFiles*>(::GlobalLock(block));
    files->pFiles = sizeof(DropFiles);
    files->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(files) + sizeof(DropFiles), dropped.c_str(),
                dropped.size() * sizeof(wchar_t));
    ::GlobalUnlock(block);
    ::PostMessageW(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
    EXPECT_TRUE(WaitFor([&] {
        const auto items = fileItems();
        return !items.empty() &&
               items[0] == "R&&D notes \u2014 5 bytes, from you (choose to withdraw)";
    })) << logText();

    // Another window's offer, saved where the save dialog says; it starts in Downloads.
    OtherWindow bob("Bob", port.programPort());
    ASSERT_TRUE(bob.joined);
    bob.files.offerFile(Utf8FromWide(write(L"b.bin", std::string("\0\1\2", 3))));
    ASSERT_TRUE(WaitFor([&] {
        const auto items = fileItems();
        return !items.empty() && items[0] == "b.bin \u2014 3 bytes, from Bob";
    })) << logText();
    std::wstring suggested;
    const std::wstring target = (folder / L"saved.bin").wstring();
    ChooseSaveTarget = [&](HWND, const std::wstring& path) {
        suggested = path;
        return target;
    };
    ::PostMessageW(dialog, WM_COMMAND, IDM_FILE_FIRST, 0);
    EXPECT_TRUE(WaitFor([&] {
        return logText().find("<<Saved b.bin (3 bytes) as " + Utf8FromWide(target) + ">>") !=
               std::string::npos;
    })) << logText();
    EXPECT_EQ(suggested, DownloadsFolder() + L"\\b.bin");
    std::ifstream in(std::filesystem::path(target), std::ios::binary);
    std::stringstream saved;
    saved << in.rdbuf();
    in.close();
    EXPECT_EQ(saved.str(), std::string("\0\1\2", 3));

    // Withdrawing the own offers leaves Bob's.
    ::PostMessageW(dialog, WM_COMMAND, IDM_FILE_FIRST + 1, 0);
    ::PostMessageW(dialog, WM_COMMAND, IDM_FILE_FIRST + 1, 0);
    EXPECT_TRUE(WaitFor(
        [&] { return fileItems() == std::vector<std::string>{"b.bin \u2014 3 bytes, from Bob"}; }));
    EXPECT_TRUE(close());
    std::filesystem::remove_all(folder);
}

// A raw client whose name and lines hold what a rich edit, Qt's text engine or Unicode itself
// takes for a break, a frame or an object: the clients get its bytes as sent, and the hosting
// dialog's log and list show each line and name on one line, with the marks.
TEST_F(MainDialog, HostileCharactersShowAsMarksOnOneLine) {
    open(WindowCommands{});
    sockaddr_in address{};
    ::SetWindowTextW(item(IDC_NAME), L"Ann");
    ::SetWindowTextW(item(IDC_PORT), FreeProgramPort(address).c_str());
    ::PostMessageW(item(IDC_HOST), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return ::SendMessageW(item(IDC_USERS), LB_GETCOUNT, 0, 0) == 1; }));

    const std::string pilcrow = "\xC2\xB6", replacement = "\xEF\xBF\xBD";
    const struct {
        std::string bytes;
        const std::string& mark;
    } hostile[] = {
        {"\r", pilcrow},               // a paragraph's end to the rich edit
        {"\v", pilcrow},               // a line break within a paragraph
        {"\xE2\x80\xA8", pilcrow},     // U+2028 LINE SEPARATOR
        {"\xE2\x80\xA9", pilcrow},     // U+2029 PARAGRAPH SEPARATOR
        {"\a", replacement},           // the end of a table cell
        {"\xEF\xBF\xB9", replacement}, // U+FFF9, which starts a table row
        {"\xEF\xBF\xBC", replacement}, // U+FFFC, an embedded object
        {"\xEF\xB7\x90", replacement}, // U+FDD0, a math object's start; Qt's frame start
        {"\xEF\xB7\xAF", replacement}, // U+FDEF, a math object's end
        {"\xEF\xBF\xBF", replacement}, // U+FFFF, a noncharacter
        {"\xE2\x80\x8F", replacement}, // U+200F RIGHT-TO-LEFT MARK
    };
    SOCKET mal = ::socket(AF_INET, SOCK_STREAM, 0);
    const DWORD timeoutMs = 5000;
    ::setsockopt(mal, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
                 sizeof timeoutMs);
    ASSERT_EQ(::connect(mal, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::string name = "M", shownName = "M", sent, relayed, shownLines;
    for (const auto& c : hostile) {
        name += c.bytes + "a";
        shownName += c.mark + "a";
    }
    sent = "login\n" + name + "\n";
    for (const auto& c : hostile) {
        const std::string text = "x" + c.bytes + "<Ann>: y";
        sent += "msg\n" + text + "\n";
        relayed += "msg\n0\n" + text + "\n";
        shownLines += "<" + shownName + ">: x" + c.mark + "<Ann>: y\n";
    }
    ASSERT_EQ(::send(mal, sent.data(), static_cast<int>(sent.size()), 0), int(sent.size()));
    std::string received;
    char buffer[4096];
    while (received.find(relayed) == std::string::npos) {
        const int got = ::recv(mal, buffer, sizeof buffer, 0);
        ASSERT_GT(got, 0) << received;
        received.append(buffer, size_t(got));
    }

    // The log holds the banner, then the lines; the control lays out one line for each, and the
    // empty paragraph after the last.
    ASSERT_TRUE(WaitFor([&] { return logText() == ChatView.logText(); })) << logText();
    const std::string shown = logText();
    EXPECT_EQ(shown.substr(shown.size() - shownLines.size()), shownLines);
    const auto lines = std::count(shown.begin(), shown.end(), '\n');
    EXPECT_EQ(::SendMessageW(item(IDC_LOG), EM_GETLINECOUNT, 0, 0), lines + 1);
    wchar_t entry[512] = {};
    ASSERT_EQ(::SendMessageW(item(IDC_USERS), LB_GETCOUNT, 0, 0), 2);
    ::SendMessageW(item(IDC_USERS), LB_GETTEXT, 1, reinterpret_cast<LPARAM>(entry));
    EXPECT_EQ(Utf8FromWide(entry), shownName);
    ::closesocket(mal);
}

// Lines from others while the window is in the background: the taskbar button flashes, a balloon
// shows the line, then "N new lines" for a burst, and the notification-area icon counts them; the
// icon goes when the window is active.
TEST_F(MainDialog, FlashBalloonAndIconForLinesFromOthers) {
    openRecorded();
    // Once the window is up and has the focus, it goes to the background.
    ASSERT_TRUE(WaitFor([&] { return focus() == item(IDC_NAME); }));
    ::SetWindowTextW(item(IDC_NAME), L"Ann");
    ::SendMessageW(dialog, WM_COMMAND, IDC_CONNECT, 0);
    ::SendMessageW(dialog, WM_ACTIVATE, WA_INACTIVE, 0);
    AppendLog("<<Connected to: %s on port %d>>", "10.0.0.7", 5000);
    AppendChatLine("Ann", "my own line");
    AppendChatLine("Bob", "hi <b>all</b>");
    const std::string flash = "flash " + std::to_string(FLASHW_TRAY | FLASHW_TIMERNOFG) + " window";
    std::vector<std::string> calls;
    const auto until = [&](const std::string& last, int timeoutMs = 5000) {
        return WaitFor(
            [&] {
                for (std::string& call : ShellRecord.taken())
                    calls.push_back(std::move(call));
                return !calls.empty() && calls.back() == last;
            },
            timeoutMs);
    };
    ASSERT_TRUE(until("tip Parlox: 1 unread line"));
    EXPECT_EQ(calls, (std::vector<std::string>{
                         flash, "add Parlox",
                         "balloon Bob in Parlox | hi <b>all</b> (quiet time respected)",
                         "tip Parlox: 1 unread line"}));

    AppendChatLine("Bob", "two");
    AppendChatLine("Cy", "three");
    calls.clear();
    ASSERT_TRUE(until("balloon Cy in Parlox | 3 new lines (quiet time respected)", 10000));
    EXPECT_EQ(calls[calls.size() - 3], "tip Parlox: 3 unread lines");
    EXPECT_EQ(calls[calls.size() - 2], flash);

    ::SendMessageW(dialog, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(ShellRecord.taken(), std::vector<std::string>{"delete"});
    AppendChatLine("Bob", "seen as it comes");
    ASSERT_TRUE(WaitFor([&] { return logText().find("seen as it comes") != std::string::npos; }));
    EXPECT_TRUE(ShellRecord.taken().empty());
}

// While the window is active, lines from others are raised as UI Automation notifications on the
// dialog, a burst as one; own and program lines never; nothing while Announce new lines is off.
TEST_F(MainDialog, AnnouncementsForScreenReaders) {
    openRecorded();
    ::SetWindowTextW(item(IDC_NAME), L"Ann");
    ::SendMessageW(dialog, WM_COMMAND, IDC_CONNECT, 0);
    ::SendMessageW(dialog, WM_ACTIVATE, WA_ACTIVE, 0);
    AppendChatLine("Ann", "my own line");
    AppendLog("<<Error: %s>>", "a program line");
    AppendChatLine("Bob", "hello from Bob");
    std::vector<std::string> said;
    const auto heard = [&](size_t count) {
        return WaitFor(
            [&] {
                for (std::string& call : UiaRecord.taken())
                    said.push_back(std::move(call));
                return said.size() >= count;
            },
            10000);
    };
    ASSERT_TRUE(heard(1));
    EXPECT_EQ(said[0], "Bob: hello from Bob [0,2,Parlox.NewLines]");
    AppendChatLine("Bob", "one");
    AppendChatLine("Cy", "two");
    ASSERT_TRUE(heard(2));
    EXPECT_TRUE(said[1].rfind("2 new lines, from Bob and Cy [", 0) == 0 ||
                said[1].rfind("Bob: one [", 0) == 0)
        << said[1];
    // Every provider is given back, just after its notification is raised.
    EXPECT_TRUE(WaitFor([&] { return Provider.references == 0; })) << Provider.references;

    ::SendMessageW(dialog, WM_COMMAND, IDM_ANNOUNCE, 0);
    AppendChatLine("Bob", "unheard");
    ASSERT_TRUE(WaitFor([&] { return logText().find("unheard") != std::string::npos; }));
    ::SendMessageW(dialog, WM_COMMAND, IDM_ANNOUNCE, 0);
    AppendChatLine("Bob", "heard again");
    ASSERT_TRUE(WaitFor(
        [&] {
            for (std::string& call : UiaRecord.taken())
                said.push_back(std::move(call));
            return !said.empty() && said.back().rfind("Bob: heard again", 0) == 0;
        },
        10000));
    for (const std::string& text : said)
        EXPECT_TRUE(text.find("own line") == std::string::npos &&
                    text.find("program line") == std::string::npos &&
                    text.find("unheard") == std::string::npos)
            << text;

    // Where UIAutomationCore lacks the functions, nothing is raised and nothing fails.
    Uia = {};
    AppendChatLine("Bob", "into the void");
    ASSERT_TRUE(WaitFor([&] { return logText().find("into the void") != std::string::npos; }));
}

// Sound: the instant-message sound once per burst, the balloon never with the shell's own. Keep
// running in the notification area: closing hides the window and the room goes on; the icon
// brings it back, and its Quit ends it.
TEST_F(MainDialog, SoundAndKeepRunningInTheNotificationArea) {
    openRecorded();
    ::SetWindowTextW(item(IDC_NAME), L"Ann");
    ::SendMessageW(dialog, WM_COMMAND, IDC_CONNECT, 0);
    ::SendMessageW(dialog, WM_COMMAND, IDM_SOUND, 0);
    ::SendMessageW(dialog, WM_ACTIVATE, WA_INACTIVE, 0);
    AppendChatLine("Bob", "one");
    AppendChatLine("Bob", "two");
    std::vector<std::string> calls;
    ASSERT_TRUE(WaitFor(
        [&] {
            for (std::string& call : ShellRecord.taken())
                calls.push_back(std::move(call));
            return std::count(calls.begin(), calls.end(),
                              "balloon Bob in Parlox | 2 new lines (quiet time respected)") == 1;
        },
        10000));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "sound Notification.IM async"), 1);

    ::SendMessageW(dialog, WM_ACTIVATE, WA_ACTIVE, 0);
    ::SendMessageW(dialog, WM_COMMAND, IDM_KEEP_IN_NOTIFICATION_AREA, 0);
    ShellRecord.taken();
    EXPECT_EQ(recorder.taken(), std::vector<std::string>{"connect Ann|localhost|5000"});
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    calls.clear();
    ASSERT_TRUE(WaitFor([&] {
        for (std::string& call : ShellRecord.taken())
            calls.push_back(std::move(call));
        return !calls.empty();
    }));
    EXPECT_EQ(calls, std::vector<std::string>{"add Parlox"});
    EXPECT_FALSE(::IsWindowVisible(dialog));
    EXPECT_FALSE(finished);
    EXPECT_TRUE(recorder.taken().empty()); // the room goes on

    ::PostMessageW(dialog, WM_TRAY_ICON, 1, WM_LBUTTONUP);
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(dialog) != FALSE; }));
    ::PostMessageW(dialog, WM_COMMAND, IDM_TRAY_QUIT, 0);
    ASSERT_TRUE(WaitFor([this] { return finished.load(); }, 15000));
    ui.join();
    EXPECT_EQ(recorder.taken(), std::vector<std::string>{"close"});
}

// Dark when Windows prefers dark for apps: the title bar, the controls' colours and the rich edit;
// every text at least 4.5:1 on its background. Followed when the setting changes; the View menu
// overrides it.
TEST_F(MainDialog, DarkAndLight) {
    SetAppsUseLightTheme(0);
    openRecorded();
    std::vector<std::string> calls = ThemeRecord.taken();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0], "attribute 20 1");
    EXPECT_EQ(calls[1], "theme DarkMode_Explorer");

    // The colours the dialog paints its controls with, asked as the controls ask.
    const HDC dc = ::CreateCompatibleDC(nullptr);
    const auto colours = [&](UINT message) -> std::optional<std::pair<COLORREF, COLORREF>> {
        const auto brush =
            reinterpret_cast<HBRUSH>(::SendMessageW(dialog, message, reinterpret_cast<WPARAM>(dc),
                                                    reinterpret_cast<LPARAM>(item(IDC_NAME))));
        LOGBRUSH paint{};
        if (brush == nullptr || ::GetObjectW(brush, sizeof paint, &paint) == 0)
            return std::nullopt;
        return std::pair{::GetTextColor(dc), paint.lbColor};
    };
    const auto contrast = [](COLORREF a, COLORREF b) {
        return WcagContrast(GetRValue(a), GetGValue(a), GetBValue(a), GetRValue(b), GetGValue(b),
                            GetBValue(b));
    };
    for (UINT message :
         {WM_CTLCOLORDLG, WM_CTLCOLORSTATIC, WM_CTLCOLOREDIT, WM_CTLCOLORLISTBOX, WM_CTLCOLORBTN}) {
        const auto pair = colours(message);
        ASSERT_TRUE(pair.has_value()) << message;
        EXPECT_GE(contrast(pair->first, pair->second), 4.5) << message;
        EXPECT_LT(GetRValue(pair->second) + GetGValue(pair->second) + GetBValue(pair->second),
                  3 * 80)
            << message; // a dark background
    }
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    ::SendMessageW(item(IDC_LOG), EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    // EM_SETBKGNDCOLOR answers with the colour it replaces: the log's background.
    const auto logBackground =
        static_cast<COLORREF>(::SendMessageW(item(IDC_LOG), EM_SETBKGNDCOLOR, 0, RGB(1, 2, 3)));
    ::SendMessageW(item(IDC_LOG), EM_SETBKGNDCOLOR, 0, logBackground);
    EXPECT_FALSE(format.dwEffects & CFE_AUTOCOLOR);
    EXPECT_GE(contrast(format.crTextColor, logBackground), 4.5);

    // Windows turns light: so does the window, with the system's colours.
    SetAppsUseLightTheme(1);
    ::SendMessageW(dialog, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"ImmersiveColorSet"));
    calls = ThemeRecord.taken();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0], "attribute 20 0");
    EXPECT_EQ(calls[1], "theme default");
    EXPECT_EQ(colours(WM_CTLCOLOREDIT)->second, ::GetSysColor(COLOR_WINDOW));

    // Dark from the menu, whatever Windows prefers; remembered for the next start.
    ::SendMessageW(dialog, WM_COMMAND, IDM_THEME_DARK, 0);
    EXPECT_EQ(ThemeRecord.taken().at(0), "attribute 20 1");
    EXPECT_EQ(RegistryValue(L"theme"), L"dark");
    ::DeleteDC(dc);
    SetAppsUseLightTheme(std::nullopt);
}

// A mention shows bold, other lines plain; times come and go with the menu; Save log writes the
// log through the seam that stands in for the save dialog.
TEST_F(MainDialog, MentionsBoldTimesAndSaveLog) {
    openRecorded();
    ::SetWindowTextW(item(IDC_NAME), L"Ann");
    ::SendMessageW(dialog, WM_COMMAND, IDC_HOST, 0);
    AppendChatLine("Bob", "hi ANN");
    AppendChatLine("Bob", "hi all");
    ASSERT_TRUE(WaitFor([&] { return logText() == "<Bob>: hi ANN\n<Bob>: hi all\n"; }))
        << logText();
    const auto boldAt = [&](long at) {
        CHARRANGE range{at, at + 1};
        ::SendMessageW(item(IDC_LOG), EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
        CHARFORMAT2W format{};
        format.cbSize = sizeof format;
        ::SendMessageW(item(IDC_LOG), EM_GETCHARFORMAT, SCF_SELECTION,
                       reinterpret_cast<LPARAM>(&format));
        return (format.dwEffects & CFE_BOLD) != 0;
    };
    EXPECT_TRUE(boldAt(2));
    EXPECT_FALSE(boldAt(17));

    ::SendMessageW(dialog, WM_COMMAND, IDM_SHOW_TIMES, 0);
    ASSERT_TRUE(WaitFor([&] { return logText().size() == 28 + 2 * 8; })) << logText();
    const std::string timed = logText();
    EXPECT_EQ(timed[0], '[');
    EXPECT_EQ(timed.substr(6, 15), "] <Bob>: hi ANN");
    ::SendMessageW(dialog, WM_COMMAND, IDM_SHOW_TIMES, 0);
    ASSERT_TRUE(WaitFor([&] { return logText() == "<Bob>: hi ANN\n<Bob>: hi all\n"; }));

    const std::filesystem::path saved =
        std::filesystem::temp_directory_path() /
        ("parlox-saved-" + std::to_string(::GetCurrentProcessId()) + ".txt");
    ChooseSaveFile = [&saved](HWND) {
        return saved.wstring();
    };
    ::SendMessageW(dialog, WM_COMMAND, IDM_SAVE_LOG, 0);
    std::ifstream in(saved, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    std::filesystem::remove(saved);
    const std::string content = text.str();
    EXPECT_EQ(content.rfind("Parlox transcript, hosting on ", 0), 0u) << content;
    EXPECT_NE(content.find("] <Bob>: hi ANN\n["), std::string::npos) << content;
    EXPECT_EQ(content.substr(content.size() - 16), "] <Bob>: hi all\n");
}

// Fields and choices come back from the registry at the next start; garbage there is ignored.
TEST_F(MainDialog, SettingsRoundTripInTheRegistry) {
    openRecorded();
    ::SetWindowTextW(item(IDC_NAME), L"Zo\u00EB");
    ::SetWindowTextW(item(IDC_ADDRESS), L"chat.example.org");
    ::SetWindowTextW(item(IDC_PORT), L"6000");
    ::SendMessageW(dialog, WM_COMMAND, IDM_NOTIFY_MENTIONS, 0);
    ::SendMessageW(dialog, WM_COMMAND, IDM_SHOW_TIMES, 0);
    ::SendMessageW(dialog, WM_COMMAND, IDC_CONNECT, 0);
    EXPECT_EQ(RegistryValue(L"name"), L"Zo\u00EB");
    EXPECT_EQ(RegistryValue(L"notify"), L"mentions");
    ::SetWindowTextW(item(IDC_NAME), L"Zed"); // changed after Connect: kept on close
    ASSERT_TRUE(close());
    EXPECT_EQ(RegistryValue(L"name"), L"Zed");

    finished = false;
    openRecorded();
    EXPECT_EQ(Text(item(IDC_NAME)), "Zed");
    EXPECT_EQ(Text(item(IDC_ADDRESS)), "chat.example.org");
    EXPECT_EQ(Text(item(IDC_PORT)), "6000");
    HMENU bar = ::GetMenu(dialog);
    EXPECT_EQ(::GetMenuState(bar, IDM_NOTIFY_MENTIONS, MF_BYCOMMAND) & MF_CHECKED, MF_CHECKED);
    EXPECT_EQ(::GetMenuState(bar, IDM_NOTIFY_EVERY_LINE, MF_BYCOMMAND) & MF_CHECKED, 0u);
    EXPECT_EQ(::GetMenuState(bar, IDM_SHOW_TIMES, MF_BYCOMMAND) & MF_CHECKED, MF_CHECKED);
    ASSERT_TRUE(close());

    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, RegistryStore::KEY, 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring huge(5 * 1024 * 1024, L'n');
    ::RegSetValueExW(key, L"name", 0, REG_SZ, reinterpret_cast<const BYTE*>(huge.c_str()),
                     static_cast<DWORD>((huge.size() + 1) * sizeof(wchar_t)));
    ::RegSetValueExW(key, L"port", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"abc"), 8);
    const DWORD number = 7;
    ::RegSetValueExW(key, L"notify", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                     sizeof number);
    ::RegCloseKey(key);
    finished = false;
    openRecorded();
    EXPECT_EQ(Text(item(IDC_NAME)), "<name>");
    EXPECT_EQ(Text(item(IDC_ADDRESS)), "chat.example.org");
    EXPECT_EQ(Text(item(IDC_PORT)), "5000");
    EXPECT_EQ(::GetMenuState(::GetMenu(dialog), IDM_NOTIFY_EVERY_LINE, MF_BYCOMMAND) & MF_CHECKED,
              MF_CHECKED);
}

// The portable program's ini file keeps every letter.
TEST(IniStoreTest, RoundTrip) {
    const std::wstring path = (std::filesystem::temp_directory_path() /
                               ("parlox-" + std::to_string(::GetCurrentProcessId()) + ".ini"))
                                  .wstring();
    {
        IniStore store(path);
        EXPECT_EQ(store.read("name"), std::nullopt);
        store.write("name", "Zo\xC3\xAB \xE2\x82\xAC");
        store.write("port", "");
    }
    IniStore again(path);
    EXPECT_EQ(again.read("name"), "Zo\xC3\xAB \xE2\x82\xAC");
    EXPECT_EQ(again.read("port"), "");
    EXPECT_EQ(again.read("notify"), std::nullopt);
    ::DeleteFileW(path.c_str());
}
