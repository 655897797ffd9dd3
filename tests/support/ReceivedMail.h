// Helpers for the mail tests: a message received by the test SMTP server
// (tests/peers/smtp_server.py), read back with Python's own MIME parser
// (tests/peers/read_message.py), and a local port on which every connection is refused.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace sentorix::test
{

// The fields read_message.py prints for one message; a field may hold several values, in the
// order printed ("rcpt", "to", "part-data", ...).
class ReceivedMessage
{
public:
    bool read = false; // false when the reader could not be run or found no message

    // The first value of `name`, or "<missing>" when there is none.
    std::string field(const std::string& name) const;
    std::vector<std::string> list(const std::string& name) const;
    bool has(const std::string& name) const { return m_fields.count(name) != 0; }

    void add(const std::string& name, std::string value);

private:
    std::map<std::string, std::vector<std::string>> m_fields;
};

// Message `n` (counting from 1) that the server saved in `folder`.
ReceivedMessage readReceivedMessage(const std::string& folder, int n);

// How many messages the server has saved in `folder` (0 when it does not exist).
int receivedMessageCount(const std::string& folder);

// A TCP port on 127.0.0.1 that is bound but never listens, so a connection to it is refused
// at once; no other program can take the port while the object lives.
class RefusingPort
{
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    bool valid() const { return m_port != 0; }
    int port() const { return m_port; }
    // "127.0.0.1:<port>"
    std::string address() const;

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace sentorix::test
