// The client side of one SMTP session (RFC 5321) over TCP: greeting with EHLO or HELO,
// AUTH LOGIN (RFC 4954) when a login name is set, MAIL FROM, one RCPT TO per recipient,
// DATA with the composed message, QUIT.
//
// Every command goes through exchange(), which sends it and reads the reply within
// replyTimeout seconds. Nothing is thrown: each step returns 0 for success, the reply code
// that was not accepted, or -1 when no code could be had (send failure, closed connection,
// time-out, refused local limit). connectTo alone returns 1 for success and 0 for failure.
// Refused commands are reported through the virtual hooks onError and onWarning.
//
// One session belongs to one thread; every call blocks that thread.
#pragma once

#include "platform/Socket.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace sentorix
{

class MailMessage;

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

    // Server text: a host name or dotted IPv4 address, optionally followed by ":PORT" which
    // then replaces `port` for this connection. 1 when connected and greeted, else 0.
    int connectTo(const std::string& server);
    int sendMessage(MailMessage& message);
    // Sends QUIT when connected, then closes the connection. Safe when not connected.
    void disconnect();

    // Sends `command` (nullptr = only read a reply) and reads the reply into lastReply.
    // Returns the reply code (0 when the reply does not begin with a digit) or -1.
    int exchange(const char* command);
    int exchange(const std::string& command);

    int greet();
    int login();
    int mailFrom(const std::string& address);
    int rcptTo(const std::string& address);
    int transferData(MailMessage& message);
    int quit();

    int reportError(int code);
    int reportWarning(int code);

    bool socketOpen() const { return m_socket.valid(); }

    int32_t useEhlo = 1;
    int32_t replyTimeout = 30;   // seconds for one reply, and for the peer to take more data
    int32_t connectTimeout = 30; // seconds for the TCP connection to be made
    uint16_t port = 0;           // network byte order; services database "smtp", else 25
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
    int waitMs() const;

    Socket m_socket;
};

} // namespace sentorix
