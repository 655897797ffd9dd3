// The client side of one SMTP session (RFC 5321) over TCP: greeting with EHLO or HELO,
// STARTTLS (RFC 3207) whenever the server offers it, or TLS from the first byte for an
// "smtps://" server or port 465, AUTH LOGIN (or AUTH PLAIN when only that is offered,
// RFC 4954) when a login name is set, MAIL FROM, one RCPT TO per recipient, DATA with the
// composed message, QUIT.
//
// A connection meant to be encrypted never goes on in plain text: a refused STARTTLS, a
// failed handshake or a certificate that fails verification ends the attempt before anything
// (least of all the password) is sent.
//
// Every command goes through exchange(), which sends it and reads the reply within
// replyTimeout seconds. Nothing is thrown: each step returns 0 for success, the reply code
// that was not accepted, or -1 when no code could be had (send failure, closed connection,
// time-out, refused local limit). connectTo alone returns 1 for success and 0 for failure.
// Refused commands are reported through the virtual hooks onError and onWarning.
//
// One session belongs to one thread; every call blocks that thread.
#pragma once

#include "platform/TlsSocket.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sentorix
{

class MailMessage;

inline constexpr uint16_t kImplicitTlsPort = 465;

// Where and how a server text is reached.
struct SmtpServerAddress {
    std::string host;
    uint16_t port = 0; // host byte order
    bool implicitTls = false;
};

// Parses a server text: "smtps://host[:port]" (TLS from the first byte, port 465 unless
// given), "smtp://host[:port]" or a bare "host[:port]" (plain start; `defaultPort`, in host
// byte order, unless given). The scheme is matched without regard to case and one trailing
// "/" is allowed. Any server on port 465 is reached with TLS from the first byte. A port is
// 1 to 65535 in decimal digits; text after the last colon that is no such port stays part of
// the host. False when no host is left.
bool parseSmtpServer(const std::string& server, uint16_t defaultPort, SmtpServerAddress& out);

class CSmtp
{
public:
    // Fixed buffer sizes of the session.
    static constexpr std::size_t kCommandBufferSize = 260; // one formatted command line
    static constexpr std::size_t kReplyBufferSize = 1024;  // one reply, terminator included
    static constexpr std::size_t kSendPieceSize = 1024;    // commands are sent in such pieces
    // How often MAIL FROM is sent again after a 530 answer, each time after a login.
    static constexpr int kMailFromRetries = 3;
    // How often one login() starts again when onWarning answers a refused login (535) with 1;
    // a further refusal is then given up like one the hook did not ask to retry.
    static constexpr int kLoginRestarts = 3;

    CSmtp();
    CSmtp(const CSmtp&) = delete;
    CSmtp& operator=(const CSmtp&) = delete;
    // Runs disconnect(), so a connected session sends QUIT.
    virtual ~CSmtp();

    // Hooks. onWarning and onError get the code and lastReply; their result is returned by
    // reportWarning/reportError (a 1 from onWarning after a 535 restarts the login, at most
    // kLoginRestarts times).
    virtual int onWarning(int code, const std::string& reply);
    virtual int onError(int code, const std::string& reply);
    // Called for every reply that yields a code; command is nullptr for the greeting.
    virtual void onReply(const char* command, int code, const std::string& reply);
    // Called after each 1024-byte piece of a command longer than 1024 bytes; 0 aborts.
    virtual int onProgress(const std::string& command, std::size_t sent, std::size_t total);
    // One line about the connection's security: that it goes on unencrypted, or why securing
    // it failed (naming the certificate problem).
    virtual void onNotice(const std::string& line);

    // Server text as parseSmtpServer() reads it, with `port` as the default port. 1 when
    // connected (and secured where meant) and greeted, else 0.
    int connectTo(const std::string& server);
    int sendMessage(MailMessage& message);
    // Sends QUIT when connected, then closes the connection. Safe when not connected.
    void disconnect();

    // Sends `command` (nullptr = only read a reply) and reads the reply into lastReply.
    // Returns the reply code (0 when the reply does not begin with a digit) or -1.
    int exchange(const char* command);
    int exchange(const std::string& command);

    int greet();
    // Sends STARTTLS and runs the handshake; 0 when the connection is now encrypted.
    int startTls();
    int login();
    int mailFrom(const std::string& address);
    int rcptTo(const std::string& address);
    int transferData(MailMessage& message);
    int quit();

    int reportError(int code);
    int reportWarning(int code);

    bool socketOpen() const { return m_socket.valid(); }
    bool encrypted() const { return m_socket.encrypted(); }
    // Whether the last EHLO reply lists `keyword` (compared without regard to case).
    bool offers(const char* keyword) const;
    // Whether the last EHLO reply's AUTH line lists `mechanism`.
    bool offersAuth(const char* mechanism) const;

    int32_t useEhlo = 1;
    int32_t replyTimeout = 30;   // seconds for one reply, and for the peer to take more data
    int32_t connectTimeout = 30; // seconds for the TCP connection to be made
    // Seconds for the whole session from connectTo on: every wait (connection, handshake,
    // each reply, QUIT) ends by then, whatever the server does.
    int32_t sessionTimeout = 120;
    uint16_t port = 0; // network byte order; services database "smtp", else 25
    std::string loginName;
    std::string loginPassword;
    std::string lastReply;
    int32_t connected = 0;
    int32_t extendedHello = 0;

private:
    // Formats "<prefix><argument><suffix>" as one command line within kCommandBufferSize
    // (terminator included) and exchanges it; a longer line is not sent and gives -1.
    int exchangeLine(const char* prefix, const std::string& argument, const char* suffix);
    // The exchange proper: `command` of `length` bytes (nullptr = read only); `text` is the
    // command as handed to onProgress.
    int exchangeBytes(const char* command, std::size_t length, const std::string* text);
    // Reads one reply into lastReply; false on failure.
    bool readReply();
    // Milliseconds one wait may take: replyTimeout, cut to what is left of the session.
    int waitMs() const;
    int sessionMsLeft() const;
    // EHLO, or HELO when EHLO is off or refused; keeps the EHLO reply for offers().
    int hello();
    // Secures the connection (implicit TLS or after STARTTLS); false after onNotice.
    bool secure();
    int loginWithLogin();
    int loginWithPlain();
    // After a 535 answer to a login: true when onWarning asked for a restart that is allowed.
    bool restartAfterRefusal(int restarts);

    TlsSocket m_socket;
    std::string m_host;            // as typed, for checking the server's certificate
    std::string m_capabilities;    // the last EHLO reply
    bool m_meantEncrypted = false; // implicit TLS, or STARTTLS tried: never go on in plain
    std::chrono::steady_clock::time_point m_deadline{}; // end of the session
};

} // namespace sentorix
