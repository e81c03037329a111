// AboutDialogProc: the About box (dialog 103).
#pragma once

#include <windows.h>

// Ends the box on OK, on its close box and when it is destroyed; Esc (the Cancel command) does
// nothing. Returns 0 for every message.
INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
