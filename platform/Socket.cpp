#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace sentorix
{

namespace
{

// poll() on one descriptor for `events`, restarted after a signal with the time left.
int pollOne(int fd, short events, int timeoutMs, short& revents)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{fd, events, 0};
        const int result = ::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
        if (result >= 0) {
            revents = p.revents;
            return result;
        }
        if (errno != EINTR)
            return -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            timeoutMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
    }
}

} // namespace

Socket::~Socket()
{
    close();
}

Socket::Socket(Socket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool Socket::open()
{
    close();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    return m_fd >= 0;
}

bool Socket::connect(uint32_t address, uint16_t port, int timeoutMs)
{
    if (m_fd < 0)
        return false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = port;
    peer.sin_addr.s_addr = address;
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EINTR)
        return false;
    short revents = 0;
    if (pollOne(m_fd, POLLOUT, timeoutMs, revents) <= 0)
        return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return false;
    return error == 0;
}

int Socket::waitReadable(int timeoutMs)
{
    if (m_fd < 0)
        return -1;
    short revents = 0;
    const int result = pollOne(m_fd, POLLIN, timeoutMs, revents);
    if (result <= 0)
        return result;
    // A hang-up or error still lets receive() report the closed connection or the error.
    return (revents & (POLLIN | POLLHUP | POLLERR)) != 0 ? 1 : -1;
}

int Socket::waitWritable(int timeoutMs)
{
    if (m_fd < 0)
        return -1;
    short revents = 0;
    const int result = pollOne(m_fd, POLLOUT, timeoutMs, revents);
    if (result <= 0)
        return result;
    if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
        return -1;
    return (revents & POLLOUT) != 0 ? 1 : -1;
}

bool Socket::sendAll(const void* data, std::size_t length, int timeoutMs)
{
    if (m_fd < 0)
        return false;
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t sent = ::send(m_fd, bytes, length, MSG_NOSIGNAL);
        if (sent > 0) {
            bytes += sent;
            length -= static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (waitWritable(timeoutMs) != 1)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

long Socket::receive(void* buffer, std::size_t size)
{
    if (m_fd < 0)
        return -1;
    for (;;) {
        const ssize_t got = ::recv(m_fd, buffer, size, 0);
        if (got >= 0)
            return static_cast<long>(got);
        if (errno != EINTR)
            return -1;
    }
}

void Socket::discardInput()
{
    char scratch[1024];
    while (waitReadable(0) == 1) {
        if (receive(scratch, sizeof scratch) <= 0)
            return;
    }
}

void Socket::shutdownBoth()
{
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RDWR);
}

void Socket::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool resolveIPv4(const std::string& host, uint32_t& address)
{
    in_addr parsed{};
    if (::inet_pton(AF_INET, host.c_str(), &parsed) == 1) {
        address = parsed.s_addr;
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    bool ok = false;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in in{};
            std::memcpy(&in, a->ai_addr, sizeof in);
            address = in.sin_addr.s_addr;
            ok = true;
            break;
        }
    }
    ::freeaddrinfo(found);
    return ok;
}

uint16_t servicePort(const char* service, const char* protocol, uint16_t fallback)
{
    servent entry{};
    servent* result = nullptr;
    char buffer[4096];
    if (::getservbyname_r(service, protocol, &entry, buffer, sizeof buffer, &result) == 0 &&
        result != nullptr)
        return static_cast<uint16_t>(result->s_port);
    return htons(fallback);
}

std::string localHostName(std::size_t maxLength)
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    name[sizeof name - 1] = '\0';
    std::string text(name, strnlen(name, sizeof name));
    if (text.empty())
        return "localhost";
    if (text.size() > maxLength)
        text.resize(maxLength);
    return text;
}

uint32_t tickCountMs()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

} // namespace sentorix
