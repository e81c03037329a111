// dialog_screenshot: shows the main dialog with a room in it and saves the window as a 24-bit BMP
// at the path it is given. scripts/screenshot-windows.sh runs it under Wine and makes
// docs/window-windows.png from the picture. A tool, not a test.
#include "app/win32/main_dialog.h"
#include "app/win32/rich_edit_log.h"
#include "chat/window_ops.h"
#include "commands/control_table.h"
#include "tests/support/wait.h"

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// The window's frame as it stands on the screen, bottom-up rows of BGR as a BMP holds them.
std::vector<char> CaptureScreen(const RECT& frame, BITMAPINFOHEADER& header) {
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<char> pixels(stride * static_cast<DWORD>(height));
    ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return pixels;
}

void ShowRoom(HWND dialog) {
    ::SetWindowTextW(::GetDlgItem(dialog, IDC_NAME), L"Ann");
    AppendLog("----- Hosting on port: %d -----", 5000);
    AppendLog("IP List:");
    AppendLog("     1) %s", "office-pc");
    AppendLog("     2) %s", "192.168.1.20");
    AppendLog("----------------------------------------");
    SetUserName(HOST_ID, "Ann");
    SetUserName(0, "Bob");
    SetUserName(1, "Chlo\xc3\xa9");
    AppendChatLine("Bob", "Morning! Lunch at 12?");
    AppendChatLine("Ann", "Sure, the usual place.");
    AppendChatLine("Chlo\xc3\xa9", "Count me in \xe2\x80\x93 sch\xc3\xb6ne Gr\xc3\xbc\xc3\x9f"
                                   "e from upstairs");
    ::SetWindowTextW(::GetDlgItem(dialog, IDC_INPUT), L"See you there");
}

bool WriteBmp(const char* path, const BITMAPINFOHEADER& header, const std::vector<char>& pixels) {
    BITMAPFILEHEADER file{};
    file.bfType = 0x4d42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr)
        return false;
    const bool written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                         std::fwrite(&header, sizeof header, 1, out) == 1 &&
                         std::fwrite(pixels.data(), 1, pixels.size(), out) == pixels.size();
    return std::fclose(out) == 0 && written;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dialog_screenshot PICTURE.bmp\n");
        return 2;
    }
    ::InitCommonControls();
    ::LoadLibraryW(L"RICHED20.DLL");
    // No command reaches the network: the room is only shown.
    WindowCommands shown{[](const FieldTexts&) {}, [](const FieldTexts&) {},
                         [](const std::string&) {},
                         [] {
                         }};
    std::thread ui([&shown] { RunMainDialog(::GetModuleHandleW(nullptr), shown); });
    bool saved = false;
    HWND dialog = nullptr;
    if (WaitFor([&dialog] { return (dialog = MainDialogWindow()) != nullptr; })) {
        ShowRoom(dialog);
        const HWND log = ::GetDlgItem(dialog, IDC_LOG);
        const bool filled =
            WaitFor([log] { return RichEditLog::text(log).find("upstairs") != std::string::npos; });
        ::RedrawWindow(dialog, nullptr, nullptr,
                       RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        // The X server draws what the window painted in its own time: the picture is taken once
        // two captures in a row agree.
        RECT frame{};
        ::GetWindowRect(dialog, &frame);
        BITMAPINFOHEADER header{};
        std::vector<char> pixels = CaptureScreen(frame, header);
        const bool settled = WaitFor([&] {
            std::vector<char> again = CaptureScreen(frame, header);
            const bool same = again == pixels;
            pixels = std::move(again);
            return same;
        });
        saved = filled && settled && WriteBmp(argv[1], header, pixels);
        ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
    ui.join();
    if (!saved)
        std::fprintf(stderr, "dialog_screenshot: no picture taken\n");
    return saved ? 0 : 1;
}
