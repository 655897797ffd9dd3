// A TCP client connection that can be switched to TLS (OpenSSL): plain at first, encrypted
// from startTls() on, with the same bounded operations as Socket either way. Every wait is a
// poll() with a bound, so a peer that stalls the handshake or stops reading cannot block the
// caller for good.
//
// The server's certificate is always verified, together with the host name (or IP address)
// it was reached by, against the system's trust store, or against the PEM file of
// authorities named by $SENTORIX_CA_BUNDLE when that is set and not empty.
#pragma once

#include "platform/Socket.h"

#include <cstddef>
#include <cstdint>
#include <string>

using ssl_st = struct ssl_st;

namespace sentorix
{

class TlsSocket
{
public:
    TlsSocket() = default;
    ~TlsSocket();
    TlsSocket(const TlsSocket&) = delete;
    TlsSocket& operator=(const TlsSocket&) = delete;

    bool valid() const { return m_socket.valid(); }
    bool encrypted() const { return m_ssl != nullptr; }

    bool open() { return m_socket.open(); }
    bool connect(uint32_t address, uint16_t port, int timeoutMs)
    {
        return m_socket.connect(address, port, timeoutMs);
    }

    // Runs the TLS handshake on the open connection within timeoutMs and verifies the peer
    // for `host`. On failure `problem` says why in a few words (for a refused certificate it
    // names the certificate problem); the connection must then be closed, nothing more can be
    // sent on it.
    bool startTls(const std::string& host, int timeoutMs, std::string& problem);

    // As Socket's: 1 ready, 0 time-out, -1 failure. Readable means that receive() has bytes
    // or will report the end of the connection.
    int waitReadable(int timeoutMs);
    int waitWritable(int timeoutMs);
    bool sendAll(const void* data, std::size_t length, int timeoutMs);
    // > 0 bytes, 0 when the peer closed, -1 on error or when nothing is waiting.
    long receive(void* buffer, std::size_t size);
    void discardInput();

    void shutdownBoth();
    void close();

private:
    // Moves decrypted bytes into m_buffer, waiting at most timeoutMs; 1 when there are bytes
    // or the end was seen, 0 on time-out, -1 on failure.
    int fill(int timeoutMs);

    Socket m_socket;
    ssl_st* m_ssl = nullptr;
    char m_buffer[4096] = {};
    std::size_t m_start = 0;
    std::size_t m_end = 0;
    bool m_closed = false; // the peer ended the TLS stream (or it failed)
    bool m_failed = false; // ... by an error rather than an orderly close
};

// The PEM file of authorities to trust instead of the system store: $SENTORIX_CA_BUNDLE when
// set and not empty, else empty.
std::string trustBundlePath();

} // namespace sentorix
