#include "platform/TlsSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <pthread.h>

namespace sentorix
{

namespace
{

// OpenSSL writes to the socket with write(), which raises SIGPIPE when the peer has gone; that
// would end the process. While one of these lives, SIGPIPE is blocked in this thread, and one
// raised meanwhile is taken off again, so the failure shows as an error code instead.
class SigpipeGuard
{
public:
    SigpipeGuard()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        m_blocked = pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous) == 0;
    }
    ~SigpipeGuard()
    {
        if (!m_blocked)
            return;
        if (!m_wasPending) {
            sigset_t pending;
            sigemptyset(&pending);
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec none{0, 0};
                sigtimedwait(&m_pipe, nullptr, &none);
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_previous;
    bool m_wasPending = false;
    bool m_blocked = false;
};

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, INT_MAX)) : 0;
}

// The first queued OpenSSL error as text, or `fallback` when there is none.
std::string openSslError(const char* fallback)
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return fallback;
    const char* reason = ERR_reason_error_string(code);
    return reason != nullptr ? std::string(reason) : std::string(fallback);
}

bool isIpAddress(const std::string& host)
{
    in_addr v4{};
    in6_addr v6{};
    return ::inet_pton(AF_INET, host.c_str(), &v4) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

} // namespace

std::string trustBundlePath()
{
    if (const char* bundle = std::getenv("SENTORIX_CA_BUNDLE"); bundle != nullptr && *bundle)
        return bundle;
    return {};
}

TlsSocket::~TlsSocket()
{
    close();
}

bool TlsSocket::startTls(const std::string& host, int timeoutMs, std::string& problem)
{
    if (!m_socket.valid() || m_ssl != nullptr) {
        problem = "no connection to secure";
        return false;
    }
    SigpipeGuard guard;
    ERR_clear_error();
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        problem = "TLS is not available: " + openSslError("no context");
        return false;
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    const std::string bundle = trustBundlePath();
    const int loaded = bundle.empty()
                           ? SSL_CTX_set_default_verify_paths(context)
                           : SSL_CTX_load_verify_locations(context, bundle.c_str(), nullptr);
    if (loaded != 1) {
        problem = bundle.empty() ? "cannot load the system's trusted certificates"
                                 : "cannot load the trusted certificates of " + bundle;
        ERR_clear_error();
        SSL_CTX_free(context);
        return false;
    }
    SSL* ssl = SSL_new(context);
    SSL_CTX_free(context); // the connection keeps its own reference
    if (ssl == nullptr) {
        problem = "TLS is not available: " + openSslError("no connection object");
        return false;
    }
    SSL_set_mode(ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    bool named = SSL_set_fd(ssl, m_socket.descriptor()) == 1;
    if (isIpAddress(host)) {
        named = named && X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    } else {
        // The name is sent for the server to pick its certificate, and checked against it.
        named = named &&
                SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                         const_cast<char*>(host.c_str())) == 1 &&
                SSL_set1_host(ssl, host.c_str()) == 1;
    }
    if (!named || host.empty()) {
        problem = "cannot check the server's name \"" + host + "\"";
        ERR_clear_error();
        SSL_free(ssl);
        return false;
    }

    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        ERR_clear_error();
        const int result = SSL_connect(ssl);
        if (result == 1)
            break;
        const int error = SSL_get_error(ssl, result);
        int ready = -1;
        if (error == SSL_ERROR_WANT_READ)
            ready = m_socket.waitReadable(msLeft(deadline));
        else if (error == SSL_ERROR_WANT_WRITE)
            ready = m_socket.waitWritable(msLeft(deadline));
        if (ready == 1)
            continue;
        if (ready == 0) {
            problem = "the TLS handshake timed out";
        } else {
            const long verify = SSL_get_verify_result(ssl);
            if (verify != X509_V_OK) {
                problem = std::string("server certificate not accepted: ") +
                          X509_verify_cert_error_string(verify);
            } else {
                problem =
                    "TLS handshake failed: " + openSslError("the server closed the connection");
            }
        }
        ERR_clear_error();
        SSL_free(ssl);
        return false;
    }
    m_ssl = ssl;
    m_start = m_end = 0;
    m_closed = m_failed = false;
    return true;
}

int TlsSocket::fill(int timeoutMs)
{
    if (m_start < m_end || m_closed)
        return 1;
    SigpipeGuard guard;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        m_start = m_end = 0;
        ERR_clear_error();
        const int got = SSL_read(m_ssl, m_buffer, static_cast<int>(sizeof m_buffer));
        if (got > 0) {
            m_end = static_cast<std::size_t>(got);
            return 1;
        }
        const int error = SSL_get_error(m_ssl, got);
        if (error == SSL_ERROR_ZERO_RETURN) {
            m_closed = true;
            return 1;
        }
        int ready = -1;
        if (error == SSL_ERROR_WANT_READ)
            ready = m_socket.waitReadable(msLeft(deadline));
        else if (error == SSL_ERROR_WANT_WRITE)
            ready = m_socket.waitWritable(msLeft(deadline));
        if (ready == 1)
            continue;
        if (ready == 0)
            return 0;
        ERR_clear_error();
        m_closed = true;
        m_failed = true;
        return 1;
    }
}

int TlsSocket::waitReadable(int timeoutMs)
{
    if (m_ssl == nullptr)
        return m_socket.waitReadable(timeoutMs);
    return fill(timeoutMs);
}

int TlsSocket::waitWritable(int timeoutMs)
{
    return m_socket.waitWritable(timeoutMs);
}

bool TlsSocket::sendAll(const void* data, std::size_t length, int timeoutMs)
{
    if (m_ssl == nullptr)
        return m_socket.sendAll(data, length, timeoutMs);
    if (m_failed)
        return false;
    SigpipeGuard guard;
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        ERR_clear_error();
        const int chunk = static_cast<int>(std::min<std::size_t>(length, 1 << 20));
        const int sent = SSL_write(m_ssl, bytes, chunk);
        if (sent > 0) {
            bytes += sent;
            length -= static_cast<std::size_t>(sent);
            continue;
        }
        const int error = SSL_get_error(m_ssl, sent);
        int ready = -1;
        if (error == SSL_ERROR_WANT_WRITE)
            ready = m_socket.waitWritable(timeoutMs);
        else if (error == SSL_ERROR_WANT_READ)
            ready = m_socket.waitReadable(timeoutMs);
        if (ready != 1) {
            ERR_clear_error();
            return false;
        }
    }
    return true;
}

long TlsSocket::receive(void* buffer, std::size_t size)
{
    if (m_ssl == nullptr)
        return m_socket.receive(buffer, size);
    if (m_start == m_end && !m_closed)
        fill(0);
    if (m_start < m_end) {
        const std::size_t n = std::min(size, m_end - m_start);
        std::memcpy(buffer, m_buffer + m_start, n);
        m_start += n;
        return static_cast<long>(n);
    }
    if (m_closed)
        return m_failed ? -1 : 0;
    return -1;
}

void TlsSocket::discardInput()
{
    if (m_ssl == nullptr) {
        m_socket.discardInput();
        return;
    }
    char scratch[1024];
    while (waitReadable(0) == 1) {
        if (receive(scratch, sizeof scratch) <= 0)
            return;
    }
}

void TlsSocket::shutdownBoth()
{
    if (m_ssl != nullptr && !m_failed) {
        // Tells the peer the stream ends (close_notify), without waiting for its answer.
        SigpipeGuard guard;
        ERR_clear_error();
        SSL_shutdown(m_ssl);
        ERR_clear_error();
    }
    m_socket.shutdownBoth();
}

void TlsSocket::close()
{
    if (m_ssl != nullptr) {
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
    m_socket.close();
    m_start = m_end = 0;
    m_closed = m_failed = false;
}

} // namespace sentorix
