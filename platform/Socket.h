// A TCP client socket over POSIX sockets, non-blocking underneath: every wait is a poll()
// with a bound, so no call can block for good. IPv4 only, as the mailer needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sentorix
{

class Socket
{
public:
    Socket() = default;
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;

    bool valid() const { return m_fd >= 0; }
    // The descriptor, for a layer that runs its own protocol over the connection (TLS).
    int descriptor() const { return m_fd; }

    // Creates the socket; false when the system refuses.
    bool open();
    // Connects to an IPv4 address and port (both in network byte order) within timeoutMs.
    bool connect(uint32_t address, uint16_t port, int timeoutMs);

    // 1 ready, 0 time-out, -1 failure (error or hang-up without data for readable).
    int waitReadable(int timeoutMs);
    int waitWritable(int timeoutMs);

    // Sends all `length` bytes, waiting at most timeoutMs each time the peer takes no more.
    bool sendAll(const void* data, std::size_t length, int timeoutMs);
    // Receives what is there: > 0 bytes, 0 when the peer closed, -1 on error or when nothing
    // is waiting.
    long receive(void* buffer, std::size_t size);
    // Drops whatever input is waiting, without waiting.
    void discardInput();

    void shutdownBoth();
    void close();

private:
    int m_fd = -1;
};

// The first IPv4 address of a dotted address or host name, in network byte order.
bool resolveIPv4(const std::string& host, uint32_t& address);

// The port of a service from the services database, in network byte order, or `fallback`
// (host order) when it has no entry.
uint16_t servicePort(const char* service, const char* protocol, uint16_t fallback);

// This computer's name, at most maxLength bytes.
std::string localHostName(std::size_t maxLength);

// Milliseconds of a monotonic clock, truncated to 32 bits like a tick count.
uint32_t tickCountMs();

} // namespace sentorix
