// The Files menu's dialogs: GetOpenFileNameW with several files at once, GetSaveFileNameW starting
// in the Downloads folder.
#include "app/win32/file_dialogs.h"

#include <commdlg.h>
#include <knownfolders.h>
#include <shlobj.h>

namespace {

// Room for many names at once: the dialog fails rather than cut a list that does not fit.
constexpr DWORD LIST_CHARACTERS = 64 * 1024;

std::vector<std::wstring> OpenDialog(HWND owner) {
    std::wstring buffer(LIST_CHARACTERS, L'\0');
    OPENFILENAMEW how{};
    how.lStructSize = sizeof how;
    how.hwndOwner = owner;
    how.lpstrFilter = L"All files\0*.*\0";
    how.lpstrFile = buffer.data();
    how.nMaxFile = LIST_CHARACTERS;
    how.lpstrTitle = L"Send a file";
    how.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR |
                OFN_DONTADDTORECENT;
    if (!::GetOpenFileNameW(&how))
        return {};
    // One file: its full path. Several: the folder, then each name, each ended by a zero.
    std::vector<std::wstring> parts;
    for (const wchar_t* part = buffer.c_str(); *part != L'\0'; part += wcslen(part) + 1)
        parts.emplace_back(part);
    if (parts.size() == 1)
        return parts;
    std::vector<std::wstring> files;
    for (size_t i = 1; i < parts.size(); ++i)
        files.push_back(parts[0] + L"\\" + parts[i]);
    return files;
}

std::wstring SaveDialog(HWND owner, const std::wstring& suggested) {
    std::wstring file = suggested;
    file.resize(std::max<size_t>(file.size() + 1, 4 * MAX_PATH), L'\0');
    OPENFILENAMEW how{};
    how.lStructSize = sizeof how;
    how.hwndOwner = owner;
    how.lpstrFilter = L"All files\0*.*\0";
    how.lpstrFile = file.data();
    how.nMaxFile = static_cast<DWORD>(file.size());
    how.lpstrTitle = L"Save file";
    how.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_DONTADDTORECENT;
    if (!::GetSaveFileNameW(&how))
        return {};
    return file.c_str();
}

} // namespace

std::function<std::vector<std::wstring>(HWND)> ChooseFilesToSend = OpenDialog;
std::function<std::wstring(HWND, const std::wstring&)> ChooseSaveTarget = SaveDialog;

std::wstring DownloadsFolder() {
    wchar_t* path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &path)))
        folder = path;
    ::CoTaskMemFree(path);
    if (folder.empty() && SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &path)))
        folder = path;
    return folder;
}
