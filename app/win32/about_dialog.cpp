// The About box's dialog procedure.
#include "app/win32/about_dialog.h"

INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            ::EndDialog(window, 0);
        break;
    case WM_CLOSE:
    case WM_DESTROY:
        ::EndDialog(window, 0);
        break;
    default:
        break;
    }
    return 0;
}
