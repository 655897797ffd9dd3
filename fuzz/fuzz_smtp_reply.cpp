// A hostile SMTP server: whatever bytes it sends are the replies to one whole session (greeting,
// EHLO, AUTH LOGIN, MAIL FROM, RCPT TO, DATA, QUIT). The server is a thread of this process on
// 127.0.0.1 that sends the input, closes its side and reads until the client is done.
#include "fuzz/FuzzSupport.h"

#include "mailer/smtp/MailMessage.h"
#include "mailer/smtp/Smtp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

using namespace sentorix;

namespace
{

struct Peer {
    int listener = -1;
    int port = 0;
    std::mutex mutex;
    std::condition_variable changed;
    std::string replies;
    bool served = true;
};

Peer& peer()
{
    static Peer p;
    return p;
}

void serve()
{
    Peer& p = peer();
    for (;;) {
        const int fd = ::accept(p.listener, nullptr, nullptr);
        if (fd < 0)
            continue;
        std::string replies;
        {
            std::lock_guard lock(p.mutex);
            replies = p.replies;
        }
        std::size_t done = 0;
        while (done < replies.size()) {
            const ssize_t n =
                ::send(fd, replies.data() + done, replies.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        ::shutdown(fd, SHUT_WR);
        char sink[4096];
        while (::recv(fd, sink, sizeof sink, 0) > 0) {
        }
        ::close(fd);
        std::lock_guard lock(p.mutex);
        p.served = true;
        p.changed.notify_all();
    }
}

class QuietSmtp final : public CSmtp
{
public:
    int onWarning(int, const std::string&) override { return 1; } // retry a refused login
    int onError(int, const std::string&) override { return 0; }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Peer& p = peer();
    p.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    fuzz::require(
        p.listener >= 0 &&
            ::bind(p.listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(p.listener, 4) == 0 &&
            ::getsockname(p.listener, reinterpret_cast<sockaddr*>(&address), &length) == 0,
        "cannot listen on 127.0.0.1");
    p.port = ntohs(address.sin_port);
    std::thread(serve).detach();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Peer& p = peer();
    {
        std::lock_guard lock(p.mutex);
        p.replies.assign(reinterpret_cast<const char*>(data), size);
        p.served = false;
    }
    {
        QuietSmtp smtp;
        smtp.replyTimeout = 2;
        smtp.connectTimeout = 2;
        smtp.loginName = "user";
        smtp.loginPassword = "secret";
        if (smtp.connectTo("127.0.0.1:" + std::to_string(p.port)) == 1) {
            MailMessage message;
            message.sender.address = "sentorix@example.org";
            message.mainRecipient.address = "to@example.org";
            message.bccList.push_back({"", "bcc@example.org"});
            message.subject = "Document changed";
            BodyPart part;
            part.contentType = "text/plain";
            part.charset = "iso-8859-1";
            part.text = "2011/05/07 [09:03:00] Changed: Syslog\r\n";
            message.bodyParts.push_back(part);
            smtp.sendMessage(message);
        }
        smtp.disconnect();
    }
    // The server takes one connection per input; wait until it is done with this one.
    std::unique_lock lock(p.mutex);
    p.changed.wait_for(lock, std::chrono::seconds(5), [&] { return p.served; });
    return 0;
}
