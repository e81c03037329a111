// The main window as the dialog resource 9 and its dialog procedure.
#pragma once

#include "commands/window_commands.h"

#include <windows.h>

// Resource ids of the two dialogs, the icon and the menu command.
inline constexpr int IDD_MAIN = 9;
inline constexpr int IDD_ABOUT = 103;
inline constexpr int IDI_PARLOX = 102;

// Messages the dialog posts to itself from any thread.
inline constexpr UINT WM_REFRESH_VIEW = WM_APP + 1; // ChatView changed
inline constexpr UINT WM_RUN_UI_TASKS = WM_APP + 2; // network threads queued work for this thread

// Runs the main window modally until it is closed; commands are what its buttons, input line and
// close box run. Returns 0.
int RunMainDialog(HINSTANCE instance, WindowCommands commands = {});

// The main window while it runs, else null.
HWND MainDialogWindow();

// Returns 1 for the initialisation message (the focus goes to the Name field, its text selected)
// and 0 for every other message. Enter in a field and Esc anywhere give the dialog's OK and
// Cancel commands, which are ignored; Enter on a focused Connect or Host button presses it.
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
