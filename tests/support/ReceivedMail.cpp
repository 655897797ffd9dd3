#include "ReceivedMail.h"

#include "TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace sentorix::test
{

namespace
{

// Undoes the reader's escapes: \\ \r \n \t.
std::string unescape(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char c = value[++i];
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

// `text` in single quotes for the shell.
std::string quoted(const std::string& text)
{
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

} // namespace

std::string ReceivedMessage::field(const std::string& name) const
{
    const auto it = m_fields.find(name);
    return it == m_fields.end() || it->second.empty() ? std::string("<missing>") : it->second[0];
}

std::vector<std::string> ReceivedMessage::list(const std::string& name) const
{
    const auto it = m_fields.find(name);
    return it == m_fields.end() ? std::vector<std::string>{} : it->second;
}

void ReceivedMessage::add(const std::string& name, std::string value)
{
    m_fields[name].push_back(std::move(value));
}

ReceivedMessage readReceivedMessage(const std::string& folder, int n)
{
    const std::string command = std::string(SENTORIX_PYTHON) + " " +
                                quoted(peersDir() + "/read_message.py") + " " + quoted(folder) +
                                " " + std::to_string(n);
    ReceivedMessage message;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return message;
    std::string text;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, got);
    const int status = ::pclose(pipe);

    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos)
            message.add(line.substr(0, tab), unescape(line.substr(tab + 1)));
        start = end + 1;
    }
    message.read = status == 0 && message.has("mail-from");
    return message;
}

int receivedMessageCount(const std::string& folder)
{
    if (!exists(folder))
        return 0;
    int count = 0;
    for (const std::string& name : listFolder(folder)) {
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".eml") == 0)
            ++count;
    }
    return count;
}

RefusingPort::RefusingPort()
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        m_port = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string RefusingPort::address() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

} // namespace sentorix::test
