// The open and save dialogs of the Files menu, behind a seam: the program uses the system's common
// dialogs; tests put their own choosers here.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The files the user picks to offer; none when cancelled.
extern std::function<std::vector<std::wstring>(HWND owner)> ChooseFilesToSend;
// Where to save an offer, starting from the suggested full path; empty when cancelled.
extern std::function<std::wstring(HWND owner, const std::wstring& suggested)> ChooseSaveTarget;

// The user's Downloads folder (the profile's folder when there is none), without a final
// separator.
std::wstring DownloadsFolder();
