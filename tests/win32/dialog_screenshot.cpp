// dialog_screenshot: shows the main dialog with a room in it, light or dark, and saves the window
// as a 24-bit BMP at the path it is given. scripts/screenshot-windows.sh runs it under Wine and
// makes docs/window-windows.png and docs/window-windows-dark.png from the pictures. A tool, not a
// test.
#include "app/win32/dialog_extras.h"
#include "app/win32/main_dialog.h"
#include "app/win32/rich_edit_log.h"
#include "chat/window_ops.h"
#include "commands/control_table.h"
#include "tests/support/sample_room.h"
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
    ShowSampleRoom(false);
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
    const bool dark = argc == 3 && std::string(argv[2]) == "dark";
    if (argc != 2 && !dark) {
        std::fprintf(stderr, "usage: dialog_screenshot PICTURE.bmp [dark]\n");
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
        // The View menu's choice; the dialog remembers it, so the light picture sets its own.
        ::SendMessageW(dialog, WM_COMMAND, dark ? IDM_THEME_DARK : IDM_THEME_FOLLOW_DESKTOP, 0);
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
