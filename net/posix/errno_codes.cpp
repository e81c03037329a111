// The mapping from POSIX error codes to the rows of the error-text table.
#include "net/socket_errors.h"

#include <cerrno>

namespace {

struct ErrnoRow {
    int posixErrno;
    int wsaCode;
};

// Each POSIX code with the row of the same meaning. Some names are aliases of one value on Linux
// (EAGAIN/EWOULDBLOCK, ENOTSUP/EOPNOTSUPP); the first match wins, and both lead to the same row.
// EPIPE is what a send after the connection was shut down gets, hence WSAESHUTDOWN.
constexpr ErrnoRow ERRNO_ROWS[] = {
    {ENOMEM, 8},           {ECANCELED, 995},         {EINTR, 10004},
    {EACCES, 10013},       {EPERM, 10013},           {EFAULT, 10014},
    {EINVAL, 10022},       {EMFILE, 10024},          {ENFILE, 10024},
    {EWOULDBLOCK, 10035},  {EAGAIN, 10035},          {EINPROGRESS, 10036},
    {EALREADY, 10037},     {ENOTSOCK, 10038},        {EBADF, 10038},
    {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},   {ENOTSUP, 10045},         {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},     {ENETUNREACH, 10051},     {ENETRESET, 10052},
    {ECONNABORTED, 10053}, {ECONNRESET, 10054},      {ENOBUFS, 10055},
    {EISCONN, 10056},      {ENOTCONN, 10057},        {ESHUTDOWN, 10058},
    {EPIPE, 10058},        {ETIMEDOUT, 10060},       {ECONNREFUSED, 10061},
    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},
};

} // namespace

int WsaCodeForErrno(int posixErrno) {
    for (const ErrnoRow& row : ERRNO_ROWS) {
        if (row.posixErrno == posixErrno)
            return row.wsaCode;
    }
    return 0;
}
