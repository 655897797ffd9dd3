#include "tests/smtp/ScriptedServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sentorix::test
{

namespace
{

// No wait of the script lasts longer: a broken test ends instead of hanging.
constexpr int kStepTimeoutMs = 20000;

} // namespace

std::vector<ScriptedServer::Step> ScriptedServer::answer(std::string reply)
{
    return {line(), send(std::move(reply))};
}

std::vector<ScriptedServer::Step>
script(std::initializer_list<std::vector<ScriptedServer::Step>> parts)
{
    std::vector<ScriptedServer::Step> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

ScriptedServer::ScriptedServer(std::vector<Step> steps, int receiveBuffer)
    : m_steps(std::move(steps)), m_receiveBuffer(receiveBuffer)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return;
    if (m_receiveBuffer > 0) // inherited by the accepted socket
        ::setsockopt(m_listenFd, SOL_SOCKET, SO_RCVBUF, &m_receiveBuffer, sizeof m_receiveBuffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listenFd, 1) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
        return;
    }
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { run(); });
}

ScriptedServer::~ScriptedServer()
{
    finish();
}

std::string ScriptedServer::address() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

void ScriptedServer::waitAtGate(int n)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_gatesReached >= n || m_stopping; });
}

void ScriptedServer::release()
{
    std::lock_guard lock(m_mutex);
    ++m_gatesReleased;
    m_changed.notify_all();
}

std::vector<std::string> ScriptedServer::finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
    }
    return m_received;
}

void ScriptedServer::run()
{
    pollfd listening{m_listenFd, POLLIN, 0};
    if (::poll(&listening, 1, kStepTimeoutMs) != 1)
        return;
    const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;

    std::string pending; // bytes read but not yet consumed by a step
    bool closed = false;
    auto stopping = [&] {
        std::lock_guard lock(m_mutex);
        return m_stopping;
    };
    // Reads what is there within timeoutMs; false when nothing came or the client closed.
    auto readMore = [&](int timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return false;
        char buffer[65536];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            closed = true;
            return false;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
        return true;
    };
    auto readThrough = [&](const std::string& terminator, int timeoutMs) {
        for (;;) {
            const std::size_t at = pending.find(terminator);
            if (at != std::string::npos) {
                m_received.push_back(pending.substr(0, at + terminator.size()));
                pending.erase(0, at + terminator.size());
                return true;
            }
            if (closed || !readMore(timeoutMs))
                return false;
        }
    };

    bool alive = true;
    int gates = 0;
    for (const Step& step : m_steps) {
        if (!alive)
            break;
        switch (step.kind) {
        case Step::Send:
            alive = ::send(fd, step.text.data(), step.text.size(), MSG_NOSIGNAL) ==
                    static_cast<ssize_t>(step.text.size());
            break;
        case Step::ReadLine:
            alive = readThrough("\r\n", kStepTimeoutMs);
            break;
        case Step::ReadData:
            alive = readThrough("\r\n.\r\n", kStepTimeoutMs);
            break;
        case Step::Gate: {
            ++gates;
            std::unique_lock lock(m_mutex);
            m_gatesReached = gates;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return m_gatesReleased >= gates || m_stopping; });
            break;
        }
        case Step::Pause:
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(step.text)));
            break;
        case Step::Hold:
            // Lines keep being recorded until the client closes or the test finishes.
            while (!closed && !stopping()) {
                if (readThrough("\r\n", 100) && m_received.back() == "QUIT\r\n") {
                    static const char bye[] = "221 bye\r\n";
                    ::send(fd, bye, sizeof bye - 1, MSG_NOSIGNAL);
                }
            }
            alive = false;
            break;
        case Step::Stall: {
            // Nothing is read any more, so the client's sends back up.
            while (!stopping()) {
                pollfd p{fd, POLLRDHUP, 0};
                if (::poll(&p, 1, 100) != 0)
                    break;
            }
            alive = false;
            break;
        }
        case Step::Close:
            alive = false;
            break;
        }
    }
    ::close(fd);
    std::lock_guard lock(m_mutex);
    m_gatesReached = 1 << 30; // nobody waits at a gate of a finished script
    m_changed.notify_all();
}

} // namespace sentorix::test
