// The TLS transport to an IRC server, over OpenSSL: the certificate checked against the system's
// store (or a file of trusted certificates) and the server's name, or pinned by its SHA-256.
#include "bridge/dial.h"
#include "bridge/irc_transport.h"
#include "net/socket_poll.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;

// OpenSSL's own socket BIO writes with write(2), which raises SIGPIPE on a connection the server
// has closed. This one sends with MSG_NOSIGNAL; everything else is a plain non-blocking socket.
int SocketOf(BIO* bio) {
    return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
}

void SetRetry(BIO* bio, bool reading, ssize_t result) {
    BIO_clear_retry_flags(bio);
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        if (reading)
            BIO_set_retry_read(bio);
        else
            BIO_set_retry_write(bio);
    }
}

int BioWrite(BIO* bio, const char* data, int length) {
    const ssize_t sent = ::send(SocketOf(bio), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    SetRetry(bio, false, sent);
    return static_cast<int>(sent);
}

int BioRead(BIO* bio, char* data, int length) {
    const ssize_t got = ::recv(SocketOf(bio), data, static_cast<size_t>(length), 0);
    SetRetry(bio, true, got);
    return static_cast<int>(got);
}

long BioControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

// Made once, never freed: OpenSSL keeps using it for every connection.
BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "parlox");
        BIO_meth_set_write(made, BioWrite);
        BIO_meth_set_read(made, BioRead);
        BIO_meth_set_ctrl(made, BioControl);
        BIO_meth_set_create(made, BioCreate);
        return made;
    }();
    return method;
}

// OpenSSL's queued error, or the fallback when it queued none.
std::string OpenSslError(const std::string& fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return fallback;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

bool IsDottedAddress(const std::string& host) {
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 ||
           inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string HexDigits(const unsigned char* bytes, unsigned length) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < length; ++i) {
        text += DIGITS[bytes[i] >> 4];
        text += DIGITS[bytes[i] & 0xF];
    }
    return text;
}

class OpenSslTransport final : public IrcTransport {
public:
    explicit OpenSslTransport(TlsSettings tlsSettings) : settings(std::move(tlsSettings)) {}
    ~OpenSslTransport() override { close(); }

    bool open(const std::string& host, uint16_t tcpPort, int timeoutMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        socket = DialWithin(host, ProgramPortFor(tcpPort), timeoutMs, lastError);
        if (!socket)
            return false;
        const int flags = ::fcntl(socket->handle, F_GETFL);
        if (flags < 0 || ::fcntl(socket->handle, F_SETFL, flags | O_NONBLOCK) < 0)
            return fail(std::strerror(errno));
        if (!prepare(host))
            return false;
        return handshake(deadline) && checkPin();
    }
    SocketHandle handle() const override { return socket ? socket->handle : NO_HANDLE; }
    unsigned pollEvents(bool haveBytesToWrite) const override {
        return POLL_READABLE | (haveBytesToWrite || readNeedsWritable ? POLL_WRITABLE : 0);
    }
    int32_t read(char* buffer, size_t size) override {
        readNeedsWritable = false;
        errno = 0;
        const int n = SSL_read(ssl, buffer, static_cast<int>(size));
        if (n > 0)
            return n;
        switch (SSL_get_error(ssl, n)) {
        case SSL_ERROR_WANT_READ:
            return WOULD_BLOCK;
        case SSL_ERROR_WANT_WRITE:
            readNeedsWritable = true;
            return WOULD_BLOCK;
        case SSL_ERROR_ZERO_RETURN:
            return 0;
        default:
            // A server that just closes the socket, without TLS's close notice, has ended too.
            if (ERR_peek_error() == 0 && (errno == 0 || n == 0))
                return 0;
            lastError = OpenSslError(std::strerror(errno));
            return FAILED;
        }
    }
    bool hasBufferedInput() const override { return ssl != nullptr && SSL_pending(ssl) > 0; }
    int32_t write(const char* bytes, size_t count) override {
        errno = 0;
        const int n = SSL_write(ssl, bytes, static_cast<int>(count));
        if (n > 0)
            return n;
        switch (SSL_get_error(ssl, n)) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            return WOULD_BLOCK;
        default:
            lastError = OpenSslError(std::strerror(errno));
            return FAILED;
        }
    }
    void close() override {
        if (ssl != nullptr) {
            SSL_shutdown(ssl); // the close notice, if the socket takes it at once
            SSL_free(ssl);
            ssl = nullptr;
        }
        if (context != nullptr) {
            SSL_CTX_free(context);
            context = nullptr;
        }
        socket.reset();
        ERR_clear_error();
    }

private:
    bool fail(const std::string& reason) {
        lastError = reason;
        close();
        return false;
    }

    bool prepare(const std::string& host) {
        context = SSL_CTX_new(TLS_client_method());
        if (context == nullptr)
            return fail(OpenSslError("cannot start TLS"));
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
        if (settings.fingerprint.empty()) {
            SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
            const bool trusted =
                settings.caFile.empty()
                    ? SSL_CTX_set_default_verify_paths(context) == 1
                    : SSL_CTX_load_verify_locations(context, settings.caFile.c_str(), nullptr) == 1;
            if (!trusted)
                return fail("cannot read the trusted certificates" +
                            (settings.caFile.empty() ? "" : " in " + settings.caFile) + ": " +
                            OpenSslError("unknown error"));
        } else {
            // The pin decides alone, after the handshake: a self-signed certificate has no chain
            // and often no matching name.
            SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
        }
        ssl = SSL_new(context);
        BIO* bio = BIO_new(SocketMethod());
        if (ssl == nullptr || bio == nullptr) {
            BIO_free(bio);
            return fail(OpenSslError("cannot start TLS"));
        }
        BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(socket->handle)));
        SSL_set_bio(ssl, bio, bio);
        SSL_set_mode(ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        // The certificate must name the server as it was given: a name, or an address.
        if (IsDottedAddress(host)) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
        } else {
            SSL_set_tlsext_host_name(ssl, host.c_str());
            SSL_set1_host(ssl, host.c_str());
        }
        return true;
    }

    bool handshake(Clock::time_point deadline) {
        for (;;) {
            errno = 0;
            const int result = SSL_connect(ssl);
            if (result == 1)
                return true;
            unsigned waitFor;
            switch (SSL_get_error(ssl, result)) {
            case SSL_ERROR_WANT_READ:
                waitFor = POLL_READABLE;
                break;
            case SSL_ERROR_WANT_WRITE:
                waitFor = POLL_WRITABLE;
                break;
            default: {
                const long verified = SSL_get_verify_result(ssl);
                if (verified != X509_V_OK)
                    return fail("the server's certificate is not trusted: " +
                                std::string(X509_verify_cert_error_string(verified)));
                return fail("TLS handshake failed: " +
                            OpenSslError(errno != 0 ? std::strerror(errno) : "connection closed"));
            }
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            PollEntry entry{socket->handle, waitFor, 0};
            if (left.count() <= 0 || PollSockets(&entry, 1, static_cast<int>(left.count())) <= 0)
                return fail("TLS handshake timed out");
        }
    }

    bool checkPin() {
        if (settings.fingerprint.empty())
            return true;
        X509* certificate = SSL_get1_peer_certificate(ssl);
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned length = 0;
        const bool digested =
            certificate != nullptr && X509_digest(certificate, EVP_sha256(), digest, &length) == 1;
        X509_free(certificate);
        if (!digested)
            return fail("the server sent no certificate");
        const std::string got = HexDigits(digest, length);
        if (got != settings.fingerprint)
            return fail("the server's certificate is not the one pinned (its SHA-256 is " + got +
                        ")");
        return true;
    }

    const TlsSettings settings;
    std::unique_ptr<TcpSocket> socket;
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    bool readNeedsWritable = false;
};

} // namespace

std::unique_ptr<IrcTransport> MakeTlsTransport(const TlsSettings& settings) {
    return std::make_unique<OpenSslTransport>(settings);
}
