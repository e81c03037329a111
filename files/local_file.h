// LocalFile: the few file operations a transfer needs, by UTF-8 path, over the platform's own
// calls (files/posix/, files/windows/): read an existing regular file, or write a new one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class LocalFile {
public:
    LocalFile() = default;
    ~LocalFile(); // closes what is open; a failure there goes unreported (see close())
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    // Opens a regular file for reading. Folders, devices and pipes are refused, without waiting on
    // them.
    [[nodiscard]] bool openForReading(const std::string& path);
    // Makes a new file for writing; fails when the name is taken. The file gets the usual
    // permissions of a new document: never executable.
    [[nodiscard]] bool createNew(const std::string& path);
    // The open file's size, or none on failure.
    std::optional<uint64_t> size();
    // Bytes read into buffer; 0 at the end; -1 on failure.
    int64_t read(char* buffer, size_t size);
    // Writes all of data; false on failure (a full disk, say).
    [[nodiscard]] bool writeAll(const char* data, size_t size);
    // Closes the file, reporting what the system found only then (a full disk on network
    // folders). Closing a file that is not open succeeds.
    [[nodiscard]] bool close();

    // The system's description of the last failure.
    std::string lastError;

private:
    intptr_t handle = -1;
};

// Gives the file at `from` the name `to`, in the same folder, replacing a file of that name in
// one step. False with the system's reason in error.
bool RenameReplacing(const std::string& from, const std::string& to, std::string& error);
// Removes a file; false when it could not (it may not exist).
bool RemoveFile(const std::string& path);
// The characters that separate a path's folders: "/" on Linux, "\\" and "/" on Windows.
extern const char PATH_SEPARATORS[];
