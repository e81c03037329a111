// LocalFile on Windows: CreateFileW and its kin, with the UTF-8 paths turned into UTF-16.
#include "files/local_file.h"

#include "text/wide_text.h"

#include <windows.h>

#include <string_view>

namespace {

std::string SystemError(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring_view message(text != nullptr ? text : L"", length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L'.' || message.back() == L' '))
        message.remove_suffix(1);
    std::string result = Utf8FromWide(message);
    ::LocalFree(text);
    if (result.empty())
        result = "system error " + std::to_string(code);
    return result;
}

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

LocalFile::~LocalFile() {
    (void)close();
}

bool LocalFile::openForReading(const std::string& path) {
    (void)close();
    // Folders fail here (they need FILE_FLAG_BACKUP_SEMANTICS); devices and pipes below.
    const HANDLE file = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        lastError =
            code == ERROR_ACCESS_DENIED &&
                    (::GetFileAttributesW(WideFromUtf8(path).c_str()) & FILE_ATTRIBUTE_DIRECTORY)
                ? "it is a folder"
                : SystemError(code);
        return false;
    }
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        lastError = "it is not a regular file";
        ::CloseHandle(file);
        return false;
    }
    handle = reinterpret_cast<intptr_t>(file);
    return true;
}

bool LocalFile::createNew(const std::string& path) {
    (void)close();
    const HANDLE file = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        lastError = SystemError(::GetLastError());
        return false;
    }
    handle = reinterpret_cast<intptr_t>(file);
    return true;
}

std::optional<uint64_t> LocalFile::size() {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(AsHandle(handle), &size)) {
        lastError = SystemError(::GetLastError());
        return std::nullopt;
    }
    return static_cast<uint64_t>(size.QuadPart);
}

int64_t LocalFile::read(char* buffer, size_t size) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
    if (!::ReadFile(AsHandle(handle), buffer, want, &got, nullptr)) {
        lastError = SystemError(::GetLastError());
        return -1;
    }
    return got;
}

bool LocalFile::writeAll(const char* data, size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD want = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
        if (!::WriteFile(AsHandle(handle), data, want, &written, nullptr) || written == 0) {
            lastError = SystemError(::GetLastError());
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool LocalFile::close() {
    if (handle == -1)
        return true;
    const bool closed = ::CloseHandle(AsHandle(handle)) != 0;
    if (!closed)
        lastError = SystemError(::GetLastError());
    handle = -1;
    return closed;
}

bool RenameReplacing(const std::string& from, const std::string& to, std::string& error) {
    if (::MoveFileExW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = SystemError(::GetLastError());
    return false;
}

bool RemoveFile(const std::string& path) {
    return ::DeleteFileW(WideFromUtf8(path).c_str()) != 0;
}

const char PATH_SEPARATORS[] = "\\/";
