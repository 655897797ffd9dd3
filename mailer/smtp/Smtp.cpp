#include "mailer/smtp/Smtp.h"

#include "mailer/smtp/Base64.h"
#include "mailer/smtp/MailMessage.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <string_view>
#include <vector>

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

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

uint16_t swapBytes(uint16_t value)
{
    return static_cast<uint16_t>((value >> 8) | (value << 8));
}

// The lines of an EHLO reply after their "250-" or "250 ", CR removed.
std::vector<std::string_view> replyLines(std::string_view reply)
{
    std::vector<std::string_view> lines;
    while (!reply.empty()) {
        const std::size_t end = reply.find('\n');
        std::string_view line = reply.substr(0, end);
        reply = end == std::string_view::npos ? std::string_view() : reply.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line.size() > 4 ? line.substr(4) : std::string_view());
    }
    return lines;
}

// The words of a line, split at blanks.
std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
    return out;
}

constexpr int kMaxLoginPrompts = 4;

} // namespace

bool parseSmtpServer(const std::string& server, uint16_t defaultPort, SmtpServerAddress& out)
{
    std::string rest = server;
    bool implicit = false;
    if (startsWithIgnoringCase(rest, "smtps://")) {
        implicit = true;
        rest.erase(0, 8);
    } else if (startsWithIgnoringCase(rest, "smtp://")) {
        rest.erase(0, 7);
    }
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    std::string host = rest;
    uint16_t portHostOrder = implicit ? kImplicitTlsPort : defaultPort;
    uint16_t explicitPort = 0;
    if (splitHostPort(rest, host, explicitPort))
        portHostOrder = explicitPort;
    if (host.empty())
        return false;
    out.host = host;
    out.port = portHostOrder;
    out.implicitTls = implicit || portHostOrder == kImplicitTlsPort;
    return true;
}

CSmtp::CSmtp() : port(servicePort("smtp", "tcp", 25)), m_deadline(std::chrono::steady_clock::now())
{
}

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

void CSmtp::onNotice(const std::string&) {}

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

int CSmtp::sessionMsLeft() const
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          m_deadline - std::chrono::steady_clock::now())
                          .count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, INT_MAX)) : 0;
}

int CSmtp::waitMs() const
{
    const int32_t seconds = std::clamp<int32_t>(replyTimeout, 0, 24 * 3600);
    return std::min(seconds * 1000, sessionMsLeft());
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

    // The reply has replyTimeout seconds, and no more than is left of the session.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs());
    auto msLeft = [&] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
    };

    char overflow[kReplyBufferSize];
    for (;;) {
        const int64_t left = std::max<int64_t>(msLeft(), 0);
        if (m_socket.waitReadable(static_cast<int>(left)) != 1)
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
        if (msLeft() <= 0) {
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
    // An argument comes from the user's settings or a stored file: a line break or NUL in it
    // would end this command on the wire and start another of the file's choosing.
    if (argument.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        lastReply = "Command not sent: its argument holds a line break or a NUL character";
        return -1;
    }
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
    const int32_t sessionSeconds = std::clamp<int32_t>(sessionTimeout, 1, 24 * 3600);
    m_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(sessionSeconds);
    m_capabilities.clear();
    extendedHello = 0;

    SmtpServerAddress where;
    if (!parseSmtpServer(server, swapBytes(port), where))
        return 0;
    m_host = where.host;
    m_meantEncrypted = where.implicitTls;

    uint32_t address = 0;
    if (!resolveIPv4(where.host, address))
        return 0;
    if (!m_socket.open())
        return 0;
    const int32_t connectSeconds = std::clamp<int32_t>(connectTimeout, 1, 24 * 3600);
    if (!m_socket.connect(address, swapBytes(where.port),
                          std::min(connectSeconds * 1000, sessionMsLeft()))) {
        disconnect();
        return 0;
    }
    if (where.implicitTls && !secure()) {
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

bool CSmtp::secure()
{
    m_meantEncrypted = true;
    std::string problem;
    if (m_socket.startTls(m_host, waitMs(), problem))
        return true;
    onNotice("Secure connection failed: " + problem);
    return false;
}

int CSmtp::hello()
{
    const std::string name = localHostName(kMaxHostNameLength);
    std::string line = "EHLO " + name + "\r\n";

    m_capabilities.clear();
    int code = -1;
    if (useEhlo == 1) {
        code = exchange(line);
        extendedHello = code == 250 ? 1 : 0;
        if (extendedHello == 1)
            m_capabilities = lastReply;
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
    return 0;
}

bool CSmtp::offers(const char* keyword) const
{
    for (std::string_view line : replyLines(m_capabilities)) {
        const std::vector<std::string_view> w = words(line);
        if (!w.empty() && equalsIgnoringCase(w.front(), keyword))
            return true;
    }
    return false;
}

bool CSmtp::offersAuth(const char* mechanism) const
{
    for (std::string_view line : replyLines(m_capabilities)) {
        // "AUTH LOGIN PLAIN", or the older "AUTH=LOGIN PLAIN" some servers still send.
        if (!startsWithIgnoringCase(line, "AUTH") || line.size() < 5 ||
            (line[4] != ' ' && line[4] != '='))
            continue;
        for (std::string_view w : words(line.substr(5)))
            if (equalsIgnoringCase(w, mechanism))
                return true;
    }
    return false;
}

int CSmtp::startTls()
{
    const int code = exchange("STARTTLS\r\n");
    if (code != 220) {
        reportError(code);
        onNotice("Secure connection failed: the server refused STARTTLS" +
                 (code > 0 ? " with " + std::to_string(code) : std::string()) +
                 "; nothing is sent unencrypted.");
        return refusal(code);
    }
    if (!secure())
        return -1;
    return 0;
}

int CSmtp::greet()
{
    int code = hello();
    if (code != 0)
        return code;
    if (!m_socket.encrypted()) {
        if (extendedHello == 1 && offers("STARTTLS")) {
            m_meantEncrypted = true;
            code = startTls();
            if (code != 0)
                return code;
            // What the server offered in plain text no longer holds (RFC 3207).
            code = hello();
            if (code != 0)
                return code;
        } else {
            onNotice("The connection is not encrypted: the server does not offer STARTTLS.");
        }
    }
    connected = 1;
    if (extendedHello == 1)
        login();
    return 0;
}

bool CSmtp::restartAfterRefusal(int restarts)
{
    return reportWarning(535) == 1 && restarts < kLoginRestarts;
}

int CSmtp::login()
{
    if (loginName.empty())
        return 0;
    if (m_meantEncrypted && !m_socket.encrypted())
        return -1; // never a password over a connection that failed to be secured
    // LOGIN is the customary mechanism; PLAIN only where the server offers it and not LOGIN.
    if (extendedHello == 1 && offersAuth("PLAIN") && !offersAuth("LOGIN"))
        return loginWithPlain();
    return loginWithLogin();
}

int CSmtp::loginWithPlain()
{
    for (int restarts = 0;; ++restarts) {
        if (loginName.empty())
            return 0;
        // RFC 4616: authorization identity (empty), NUL, user name, NUL, password.
        std::string credentials;
        credentials.push_back('\0');
        credentials.append(loginName).push_back('\0');
        credentials.append(loginPassword);
        CBase64 codec;
        codec.encode(reinterpret_cast<const unsigned char*>(credentials.data()),
                     credentials.size());
        const int code = exchangeLine("AUTH PLAIN ", codec.encodedData(), "\r\n");
        if (code == 235)
            return 0;
        if (code == 535) {
            if (restartAfterRefusal(restarts))
                continue;
            reportError(535);
            return 535;
        }
        reportError(code);
        return refusal(code);
    }
}

int CSmtp::loginWithLogin()
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
        // The customary prompts are recognised by their text; any other first and second
        // prompt ask for the user name and the password, as servers word them as they like.
        for (int prompts = 0; code == 334; ++prompts) {
            const std::string prompt = lastReply.size() > 4 ? lastReply.substr(4) : std::string();
            CBase64 codec;
            codec.decodeText(prompt.c_str());
            const std::string_view decoded(reinterpret_cast<const char*>(codec.plainData()));
            const std::string* answer = nullptr;
            if (equalsIgnoringCase(decoded, "Username:"))
                answer = &loginName;
            else if (equalsIgnoringCase(decoded, "Password:"))
                answer = &loginPassword;
            else if (prompts == 0)
                answer = &loginName;
            else if (prompts == 1)
                answer = &loginPassword;
            if (answer == nullptr || prompts >= kMaxLoginPrompts) {
                reportError(334);
                return 334;
            }
            codec.encodeText(answer->c_str());
            code = exchangeLine("", codec.encodedData(), "\r\n");
            if (code == 535) {
                if (restartAfterRefusal(restarts)) {
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
