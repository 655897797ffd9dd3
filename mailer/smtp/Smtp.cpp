#include "mailer/smtp/Smtp.h"

#include "mailer/smtp/Base64.h"
#include "mailer/smtp/MailMessage.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>

namespace sentorix
{

namespace
{

constexpr std::size_t kMaxHostNameLength = 63;

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The result of a step whose reply was refused: the code, or -1 when the reply carried no
// code at all, so that a reply without a code can never pass for success (0).
int refusal(int code)
{
    return code == 0 ? -1 : code;
}

// Splits "host:port" when the text after the last colon is a port number 1 to 65535.
bool splitHostPort(const std::string& server, std::string& host, uint16_t& portHostOrder)
{
    const std::size_t colon = server.rfind(':');
    if (colon == std::string::npos || colon + 1 >= server.size() || colon + 6 < server.size())
        return false;
    unsigned value = 0;
    for (std::size_t i = colon + 1; i < server.size(); ++i) {
        if (!isDigit(server[i]))
            return false;
        value = value * 10 + static_cast<unsigned>(server[i] - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    host = server.substr(0, colon);
    portHostOrder = static_cast<uint16_t>(value);
    return true;
}

} // namespace

CSmtp::CSmtp() : port(servicePort("smtp", "tcp", 25)) {}

CSmtp::~CSmtp()
{
    disconnect();
}

int CSmtp::onWarning(int, const std::string&)
{
    return 0;
}

int CSmtp::onError(int, const std::string&)
{
    return 0;
}

void CSmtp::onReply(const char*, int, const std::string&) {}

int CSmtp::onProgress(const std::string&, std::size_t, std::size_t)
{
    return 1;
}

int CSmtp::reportError(int code)
{
    if (code == -1)
        connected = 0; // no QUIT on a connection that has failed
    return onError(code, lastReply);
}

int CSmtp::reportWarning(int code)
{
    return onWarning(code, lastReply);
}

int CSmtp::waitMs() const
{
    const int32_t seconds = std::clamp<int32_t>(replyTimeout, 0, 24 * 3600);
    return seconds * 1000;
}

// ---------------------------------------------------------------------------------------
// Exchange

int CSmtp::exchange(const char* command)
{
    if (command == nullptr)
        return exchangeBytes(nullptr, 0, nullptr);
    const std::size_t length = std::strlen(command);
    if (length <= kSendPieceSize)
        return exchangeBytes(command, length, nullptr);
    const std::string text(command, length);
    return exchangeBytes(text.data(), text.size(), &text);
}

int CSmtp::exchange(const std::string& command)
{
    return exchangeBytes(command.data(), command.size(), &command);
}

int CSmtp::exchangeBytes(const char* command, std::size_t length, const std::string* text)
{
    if (!m_socket.valid())
        return -1;
    if (command != nullptr) {
        // Leftovers of an earlier reply (later lines of a multi-line answer) go first.
        m_socket.discardInput();
        std::size_t sent = 0;
        while (sent < length) {
            const std::size_t piece = std::min(kSendPieceSize, length - sent);
            if (!m_socket.sendAll(command + sent, piece, waitMs()))
                return -1;
            sent += piece;
            if (length > kSendPieceSize) {
                const std::string fallback =
                    text == nullptr ? std::string(command, length) : std::string();
                if (onProgress(text != nullptr ? *text : fallback, sent, length) == 0)
                    return -1;
            }
        }
        // The peer must have taken the command before its reply is awaited; one that never
        // reads ends the exchange after replyTimeout seconds.
        if (m_socket.waitWritable(waitMs()) != 1)
            return -1;
    }

    const bool ok = readReply();
    if (!ok)
        return -1;

    int code = 0;
    for (std::size_t i = 0; i < 3 && i < lastReply.size() && isDigit(lastReply[i]); ++i)
        code = code * 10 + (lastReply[i] - '0');
    onReply(command, code, lastReply);
    return code;
}

bool CSmtp::readReply()
{
    // The reply's text is kept in a buffer of kReplyBufferSize bytes. A reply is complete
    // when a line ends that is not a continuation line ("250-..."), so every line of a
    // multi-line reply is read even when the lines arrive apart; otherwise the rest would be
    // taken as the reply to the next command. Continuation lines beyond the buffer are read
    // and dropped. A first line that does not fit the buffer fails the read.
    char buffer[kReplyBufferSize] = {};
    std::size_t used = 0;
    std::size_t textEnd = std::string::npos; // index of the LF that ends the stored text
    char linePrefix[4] = {};
    std::size_t prefixLength = 0;
    bool complete = false;
    bool ok = false;

    const auto start = std::chrono::steady_clock::now();
    const int64_t timeout = std::clamp<int32_t>(replyTimeout, 0, 24 * 3600);
    auto secondsSpent = [&] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
    };

    char overflow[kReplyBufferSize];
    for (;;) {
        const int64_t left = std::max<int64_t>(timeout - secondsSpent(), 0);
        if (m_socket.waitReadable(static_cast<int>(left * 1000)) != 1)
            break;
        // One byte of the buffer always stays free for the terminator.
        const bool stored = used < sizeof buffer - 1;
        char* target = stored ? buffer + used : overflow;
        const std::size_t room = stored ? sizeof buffer - 1 - used : sizeof overflow;
        const long got = m_socket.receive(target, room);
        if (got <= 0)
            break;

        for (long k = 0; k < got && !complete; ++k) {
            const char c = target[k];
            if (c == '\n') {
                const bool continuation = prefixLength == 4 && isDigit(linePrefix[0]) &&
                                          isDigit(linePrefix[1]) && isDigit(linePrefix[2]) &&
                                          linePrefix[3] == '-';
                if (stored)
                    textEnd = used + static_cast<std::size_t>(k);
                complete = !continuation;
                prefixLength = 0;
            } else if (prefixLength < 4) {
                linePrefix[prefixLength++] = c;
            }
        }
        if (stored)
            used += static_cast<std::size_t>(got);
        if (complete) {
            ok = true;
            break;
        }
        if (used >= sizeof buffer - 1 && textEnd == std::string::npos)
            break; // a first line longer than the buffer: refuse it rather than cut it
        if (secondsSpent() >= timeout) {
            ok = used > 0;
            break;
        }
    }
    if (textEnd != std::string::npos) {
        // The text ends before the character in front of the last stored line feed (the CR).
        used = textEnd == 0 ? 0 : textEnd - 1;
    }
    lastReply.assign(buffer, strnlen(buffer, std::min(used, sizeof buffer - 1)));
    return ok;
}

int CSmtp::exchangeLine(const char* prefix, const std::string& argument, const char* suffix)
{
    std::string line;
    line.reserve(kCommandBufferSize);
    line.append(prefix).append(argument).append(suffix);
    if (line.size() >= kCommandBufferSize) {
        lastReply = "Command not sent: longer than " + std::to_string(kCommandBufferSize - 1) +
                    " characters";
        return -1;
    }
    return exchange(line);
}

// ---------------------------------------------------------------------------------------
// Connection

int CSmtp::connectTo(const std::string& server)
{
    disconnect();

    std::string host = server;
    uint16_t portNetworkOrder = port;
    uint16_t explicitPort = 0;
    if (splitHostPort(server, host, explicitPort))
        portNetworkOrder = static_cast<uint16_t>((explicitPort >> 8) | (explicitPort << 8));

    uint32_t address = 0;
    if (host.empty() || !resolveIPv4(host, address))
        return 0;
    if (!m_socket.open())
        return 0;
    const int32_t connectSeconds = std::clamp<int32_t>(connectTimeout, 1, 24 * 3600);
    if (!m_socket.connect(address, portNetworkOrder, connectSeconds * 1000)) {
        disconnect();
        return 0;
    }

    const int code = exchange(nullptr);
    if (code != 220) {
        reportError(code);
        disconnect();
        return 0;
    }
    if (greet() != 0) {
        disconnect();
        return 0;
    }
    return 1;
}

int CSmtp::greet()
{
    const std::string name = localHostName(kMaxHostNameLength);
    std::string line = "EHLO " + name + "\r\n";

    int code = -1;
    if (useEhlo == 1) {
        code = exchange(line);
        extendedHello = code == 250 ? 1 : 0;
    } else {
        extendedHello = 0;
    }
    if (extendedHello == 0) {
        line[0] = 'H';
        line[1] = 'E';
        code = exchange(line);
        if (code != 250) {
            reportError(code);
            return refusal(code);
        }
    }
    connected = 1;
    if (extendedHello == 1)
        login();
    return 0;
}

int CSmtp::login()
{
    // A hook that asks for a new login after every refusal would otherwise keep the session
    // (and the mailer's only thread) sending the same refused credentials for good.
    for (int restarts = 0;; ++restarts) {
        if (loginName.empty())
            return 0;
        int code = exchange("AUTH LOGIN\r\n");
        if (code != 334) {
            reportWarning(code);
            return refusal(code);
        }
        bool restart = false;
        while (code == 334) {
            const std::string prompt = lastReply.size() > 4 ? lastReply.substr(4) : std::string();
            CBase64 codec;
            codec.decodeText(prompt.c_str());
            const std::string_view decoded(reinterpret_cast<const char*>(codec.plainData()));
            const std::string* answer = nullptr;
            if (equalsIgnoringCase(decoded, "Username:"))
                answer = &loginName;
            else if (equalsIgnoringCase(decoded, "Password:"))
                answer = &loginPassword;
            if (answer == nullptr) {
                reportError(334);
                return 334;
            }
            codec.encodeText(answer->c_str());
            code = exchangeLine("", codec.encodedData(), "\r\n");
            if (code == 535) {
                if (reportWarning(535) == 1 && restarts < kLoginRestarts) {
                    restart = true;
                    break;
                }
                reportError(535);
                return 535;
            }
        }
        if (restart)
            continue;
        if (code == 235)
            return 0;
        reportError(code);
        return refusal(code);
    }
}

int CSmtp::mailFrom(const std::string& address)
{
    int code = exchangeLine("MAIL FROM: <", address, ">\r\n");
    for (int retry = 0; code == 530 && retry < kMailFromRetries; ++retry) {
        login();
        code = exchangeLine("MAIL FROM: <", address, ">\r\n");
    }
    if (code == 250)
        return 0;
    reportError(code);
    return refusal(code);
}

int CSmtp::rcptTo(const std::string& address)
{
    const int code = exchangeLine("RCPT TO: <", address, ">\r\n");
    if (code == 250 || code == 251)
        return 0;
    reportWarning(code);
    return refusal(code);
}

int CSmtp::sendMessage(MailMessage& message)
{
    if (message.sender.address.empty() ||
        (message.mainRecipient.address.empty() && message.toList.empty()))
        return -1;
    const int from = mailFrom(message.sender.address);
    if (from != 0)
        return from;

    int accepted = 0;
    int last = 0;
    auto send = [&](const std::string& address) {
        last = rcptTo(address);
        if (last == 0)
            ++accepted;
    };
    if (!message.mainRecipient.address.empty())
        send(message.mainRecipient.address);
    for (const MailAddress& to : message.toList)
        send(to.address);
    for (const MailAddress& bcc : message.bccList)
        send(bcc.address);
    if (accepted == 0) {
        reportError(last);
        return last;
    }
    return transferData(message);
}

int CSmtp::transferData(MailMessage& message)
{
    int code = exchange("DATA\r\n");
    if (code != 354) {
        reportError(code);
        return refusal(code);
    }
    std::string text;
    composeMessage(message, text);
    text.append("\r\n.\r\n");
    code = exchange(text);
    if (code == 250)
        return 0;
    reportError(code);
    return refusal(code);
}

int CSmtp::quit()
{
    if (connected == 0)
        return 0;
    const int code = exchange("QUIT\r\n");
    if (code != 221)
        reportError(code);
    connected = 0;
    return code == 221 ? 0 : refusal(code);
}

void CSmtp::disconnect()
{
    if (m_socket.valid()) {
        if (connected == 1)
            quit();
        m_socket.shutdownBoth();
        m_socket.close();
    }
    connected = 0;
}

} // namespace sentorix
