// The input line's Tab and Enter handling.
#include "app/win32/input_edit_proc.h"

#include "text/wide_text.h"
#include "wire/formatting.h"

#include <string_view>
#include <utility>

namespace {

// The one input line of the program: its own procedure and where Enter sends its text. Written
// once when the dialog starts, read on the dialog's thread only.
WNDPROC PreviousInputProc = nullptr;
std::function<void(const std::string&)> OnEnter;

void TakeLine(HWND window) {
    // The text must fit the 1024-byte send buffer with its terminator: at most 1023 UTF-8 bytes,
    // cut at a character boundary. Every UTF-16 unit becomes at least one byte, so reading 1023
    // units never drops text that would have fitted.
    wchar_t wide[SEND_BUFFER_SIZE] = {};
    const int length = ::GetWindowTextW(window, wide, SEND_BUFFER_SIZE);
    const std::string utf8 = Utf8FromWide(std::wstring_view(wide, length > 0 ? length : 0));
    const std::string text(CutToCharBoundary(utf8, SEND_BUFFER_SIZE - 1));
    ::SetWindowTextW(window, L"");
    if (OnEnter)
        OnEnter(text);
}

} // namespace

void SubclassInputLine(HWND input, std::function<void(const std::string&)> onEnter) {
    OnEnter = std::move(onEnter);
    PreviousInputProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(input, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&InputEditProc)));
}

LRESULT CALLBACK InputEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS;
    case WM_CHAR:
        if (wParam == '\t')
            return 0;
        if (wParam == '\r') {
            TakeLine(window);
            return 0;
        }
        break;
    default:
        break;
    }
    return ::CallWindowProcW(PreviousInputProc, window, message, wParam, lParam);
}
