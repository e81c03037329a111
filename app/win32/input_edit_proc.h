// InputEditProc: the input line's replacement window procedure.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Replaces the input line's window procedure with InputEditProc (SetWindowLongPtrW with
// GWLP_WNDPROC) and keeps the one it replaces. Enter hands the line's text (UTF-8, at most 1023
// bytes, cut at a character boundary) to onEnter, even when it is empty.
void SubclassInputLine(HWND input, std::function<void(const std::string&)> onEnter);

// Wants every key, so that Enter and Tab reach the line instead of the dialog; swallows a typed
// Tab; on a typed Enter takes the text, empties the line and hands the text on. Everything else,
// Ctrl+Enter's line feed included, goes to the line's own procedure.
LRESULT CALLBACK InputEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
