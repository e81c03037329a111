// The error texts: POSIX codes shown with the row of the same meaning, unknown codes as nothing.
#include "net/socket_errors.h"
#include "net/tcp_socket.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace {

struct ErrnoCase {
    const char* name;
    int posixErrno;
    const char* text;
};

class DescribeLastError : public ::testing::TestWithParam<ErrnoCase> {};

} // namespace

TEST_P(DescribeLastError, ShowsRowOfSameMeaning) {
    errno = GetParam().posixErrno;
    EXPECT_EQ(TcpSocket::describeLastError(), GetParam().text);
    // Only an unknown code is reset; a known one stays for the caller.
    EXPECT_EQ(errno, *GetParam().text == '\0' ? 0 : GetParam().posixErrno);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DescribeLastError,
    ::testing::Values(
        ErrnoCase{"NoError", 0, ""},
        ErrnoCase{"Refused", ECONNREFUSED, "WSAECONNREFUSED\nConnection refused"},
        ErrnoCase{"AddressInUse", EADDRINUSE, "WSAEADDRINUSE\nAddress already in use"},
        ErrnoCase{"BadDescriptor", EBADF, "WSAENOTSOCK\nSocket operation on nonsocket"},
        ErrnoCase{"NotASocket", ENOTSOCK, "WSAENOTSOCK\nSocket operation on nonsocket"},
        ErrnoCase{"TimedOut", ETIMEDOUT, "WSAETIMEDOUT\nConnection timed out"},
        ErrnoCase{"HostUnreachable", EHOSTUNREACH, "WSAEHOSTUNREACH\nNo route to host"},
        ErrnoCase{"NetUnreachable", ENETUNREACH, "WSAENETUNREACH\nNetwork is unreachable"},
        ErrnoCase{"Access", EACCES, "WSAEACCES\nPermission Denied: Access in use"},
        ErrnoCase{"Invalid", EINVAL, "WSAEINVAL\nInvalid argument"},
        ErrnoCase{"TooManyFiles", EMFILE, "WSAEMFILE\nToo many open files"},
        ErrnoCase{"SystemFileTable", ENFILE, "WSAEMFILE\nToo many open files"},
        ErrnoCase{"WouldBlock", EAGAIN, "WSAEWOULDBLOCK\nResource temporarily unavailable"},
        ErrnoCase{"Reset", ECONNRESET, "WSAECONNRESET\nConnection reset by peer"},
        ErrnoCase{"BrokenPipe", EPIPE, "WSAESHUTDOWN\nCannot send after socket shutdown"},
        ErrnoCase{"NoMemory", ENOMEM, "WSA_NOT_ENOUGH_MEMORY\nInsufficient memory available"},
        ErrnoCase{"NoSuchFile", ENOENT, ""}, ErrnoCase{"OutOfDomain", EDOM, ""}),
    [](const auto& row) { return std::string(row.param.name); });

// Catches a mapping onto a row that does not exist and a text that lost its shape.
TEST(SocketErrorTable, EveryMappedCodeHasAWellFormedRow) {
    for (int posixErrno = 1; posixErrno < 256; ++posixErrno) {
        const int code = WsaCodeForErrno(posixErrno);
        if (code != 0) {
            EXPECT_FALSE(SocketErrorText(code).empty()) << "errno " << posixErrno;
        }
    }
    for (int code = 0; code < 12000; ++code) {
        const std::string text = SocketErrorText(code);
        if (text.empty())
            continue;
        const size_t feed = text.find('\n');
        EXPECT_EQ(text.rfind("WSA", 0), 0u) << code;
        ASSERT_NE(feed, std::string::npos) << code;
        EXPECT_EQ(text.find('\n', feed + 1), std::string::npos) << code;
        EXPECT_GT(text.size(), feed + 1) << code;
    }
}
