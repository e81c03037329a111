// LocalFile on Linux: open, read, write, rename and unlink.
#include "files/local_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string SystemError(int code) {
    return std::strerror(code);
}

} // namespace

LocalFile::~LocalFile() {
    (void)close();
}

bool LocalFile::openForReading(const std::string& path) {
    (void)close();
    // Non-blocking, so that a pipe without a writer cannot stall the open; a regular file reads
    // the same either way.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        lastError = SystemError(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        lastError = S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file";
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    handle = fd;
    return true;
}

bool LocalFile::createNew(const std::string& path) {
    (void)close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        lastError = SystemError(errno);
        return false;
    }
    handle = fd;
    return true;
}

std::optional<uint64_t> LocalFile::size() {
    struct stat info {};
    if (::fstat(static_cast<int>(handle), &info) != 0) {
        lastError = SystemError(errno);
        return std::nullopt;
    }
    return static_cast<uint64_t>(info.st_size);
}

int64_t LocalFile::read(char* buffer, size_t size) {
    ssize_t got;
    do {
        got = ::read(static_cast<int>(handle), buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        lastError = SystemError(errno);
    return got;
}

bool LocalFile::writeAll(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(static_cast<int>(handle), data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            lastError = SystemError(written < 0 ? errno : ENOSPC);
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool LocalFile::close() {
    if (handle < 0)
        return true;
    // Never retried: the descriptor is gone whatever close reports.
    const bool closed = ::close(static_cast<int>(handle)) == 0;
    if (!closed)
        lastError = SystemError(errno);
    handle = -1;
    return closed;
}

bool RenameReplacing(const std::string& from, const std::string& to, std::string& error) {
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    error = SystemError(errno);
    return false;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

const char PATH_SEPARATORS[] = "/";
