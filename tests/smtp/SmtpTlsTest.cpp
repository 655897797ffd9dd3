// The session's TLS: STARTTLS and TLS from the first byte against real servers (aiosmtpd,
// tests/peers/smtp_server.py) with certificates from an authority made at test time, the
// certificate problems that must end an attempt before anything is sent, the login
// mechanisms, and, against a scripted peer, the corners no real server produces: a refused
// STARTTLS, a stalled handshake, a drop after STARTTLS, a server slow enough to reach the
// session's total bound.
#include "mailer/smtp/MailMessage.h"
#include "mailer/smtp/Smtp.h"
#include "tests/smtp/ScriptedServer.h"
#include "tests/support/ReceivedMail.h"
#include "tests/support/TestAuthority.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace sentorix;
using test::ScriptedServer;
using S = ScriptedServer;

namespace
{

class Session : public CSmtp
{
public:
    Session() { replyTimeout = 10; }
    ~Session() override { disconnect(); }
    int onWarning(int code, const std::string& reply) override
    {
        events.push_back("warning " + std::to_string(code) + " " + reply.substr(0, 3));
        return 0;
    }
    int onError(int code, const std::string& reply) override
    {
        events.push_back("error " + std::to_string(code) + " " + reply.substr(0, 3));
        return 0;
    }
    void onNotice(const std::string& line) override { notices.push_back(line); }
    std::vector<std::string> events;
    std::vector<std::string> notices;
};

MailMessage notification()
{
    MailMessage m;
    m.sender = {"Sentorix", "monitor@example.org"};
    m.mainRecipient = {"", "ann@example.com"};
    m.subject = "Sentorix Email Notification";
    BodyPart p;
    p.contentType = "text/plain";
    p.charset = "utf-8";
    p.text = "2026/12/10 [05:43:39] Changed: Example page\r\n";
    m.bodyParts.push_back(p);
    return m;
}

// The certificates every test here uses, made once: a trusted authority with a certificate
// for localhost and 127.0.0.1 and one for another name, and an authority nobody trusts with
// its own certificate for localhost.
struct Certificates {
    test::TempDir dir;
    test::TestAuthority trusted;
    test::TestAuthority stranger;
    std::string goodCert, goodKey, otherNameCert, otherNameKey, strangerCert, strangerKey;
    bool made = false;

    Certificates()
    {
        made = trusted.create(dir.path(), "Sentorix Test CA") &&
               trusted.issue("localhost", "DNS:localhost,IP:127.0.0.1", goodCert, goodKey) &&
               trusted.issue("other", "DNS:other.example", otherNameCert, otherNameKey) &&
               stranger.create(dir.path(), "Unknown CA") &&
               stranger.issue("stranger", "DNS:localhost,IP:127.0.0.1", strangerCert, strangerKey);
    }
};

class SmtpTls : public testing::Test
{
protected:
    static void SetUpTestSuite() { s_certs = std::make_unique<Certificates>(); }
    static void TearDownTestSuite() { s_certs.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(s_certs->made);
        setenv("SENTORIX_CA_BUNDLE", s_certs->trusted.caFile.c_str(), 1);
    }
    void TearDown() override { unsetenv("SENTORIX_CA_BUNDLE"); }

    static std::unique_ptr<Certificates> s_certs;
};

std::unique_ptr<Certificates> SmtpTls::s_certs;

std::string commandsSeen(const std::string& folder)
{
    const std::string path = folder + "/commands.log";
    return test::exists(path) ? test::readFile(path) : std::string();
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(SmtpServerText, SchemeHostAndPort)
{
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        uint16_t port;
        bool implicit;
    };
    const Case cases[] = {
        {"mail.example.org", true, "mail.example.org", 25, false},
        {"mail.example.org:587", true, "mail.example.org", 587, false},
        {"mail.example.org:465", true, "mail.example.org", 465, true},
        {"smtp://mail.example.org", true, "mail.example.org", 25, false},
        {"SMTP://mail.example.org:2525/", true, "mail.example.org", 2525, false},
        {"smtps://mail.example.org", true, "mail.example.org", 465, true},
        {"Smtps://mail.example.org:10465", true, "mail.example.org", 10465, true},
        {"smtp://mail.example.org:465", true, "mail.example.org", 465, true},
        {"10.0.0.7:26", true, "10.0.0.7", 26, false},
        {"host:0", true, "host:0", 25, false},         // no port: stays part of the host
        {"host:65536", true, "host:65536", 25, false}, // likewise
        {"smtps://", false, "", 0, false},
        {":587", false, "", 0, false},
        {"", false, "", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SmtpServerAddress got;
        ASSERT_EQ(parseSmtpServer(c.text, 25, got), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(got.host, c.host);
        EXPECT_EQ(got.port, c.port);
        EXPECT_EQ(got.implicitTls, c.implicit);
    }
}

TEST_F(SmtpTls, StartTlsThenLoginAndSendOverTheEncryptedConnection)
{
    // The certificate is checked against the name, and against the address, as typed.
    for (const std::string host : {"localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        test::TempDir dir;
        test::PeerProcess peer("smtp_server.py",
                               {"0", dir.file("mail"), "--auth", "bob", "s3cret", "--starttls",
                                s_certs->goodCert, s_certs->goodKey});
        ASSERT_TRUE(peer.start());
        Session smtp;
        smtp.loginName = "bob";
        smtp.loginPassword = "s3cret";
        MailMessage m = notification();
        ASSERT_EQ(smtp.connectTo(host + ":" + std::to_string(peer.port())), 1)
            << testing::PrintToString(smtp.notices);
        EXPECT_TRUE(smtp.encrypted());
        EXPECT_EQ(smtp.sendMessage(m), 0);
        smtp.disconnect();
        EXPECT_TRUE(smtp.events.empty()) << testing::PrintToString(smtp.events);
        EXPECT_TRUE(smtp.notices.empty()) << testing::PrintToString(smtp.notices);
        EXPECT_EQ(commandsSeen(dir.file("mail")), "AUTH LOGIN\nMAIL FROM:\n");
        const test::ReceivedMessage got = test::readReceivedMessage(dir.file("mail"), 1);
        ASSERT_TRUE(got.read);
        EXPECT_EQ(got.list("rcpt"), std::vector<std::string>{"ann@example.com"});
    }
}

TEST_F(SmtpTls, ImplicitTlsFromTheFirstByte)
{
    test::TempDir dir;
    test::PeerProcess peer("smtp_server.py",
                           {"0", dir.file("mail"), "--auth", "bob", "pw", "--implicit-tls",
                            s_certs->goodCert, s_certs->goodKey});
    ASSERT_TRUE(peer.start());
    Session smtp;
    smtp.loginName = "bob";
    smtp.loginPassword = "pw";
    MailMessage m = notification();
    ASSERT_EQ(smtp.connectTo("smtps://localhost:" + std::to_string(peer.port())), 1)
        << testing::PrintToString(smtp.notices);
    EXPECT_TRUE(smtp.encrypted());
    EXPECT_EQ(smtp.sendMessage(m), 0);
    smtp.disconnect();
    EXPECT_TRUE(smtp.events.empty()) << testing::PrintToString(smtp.events);
    EXPECT_TRUE(smtp.notices.empty()) << testing::PrintToString(smtp.notices);
    EXPECT_EQ(test::receivedMessageCount(dir.file("mail")), 1);

    // The same server typed without the scheme is spoken to in plain text: the attempt fails
    // instead of going on unencrypted.
    Session plain;
    plain.replyTimeout = 2;
    EXPECT_EQ(plain.connectTo("localhost:" + std::to_string(peer.port())), 0);
    EXPECT_FALSE(plain.encrypted());
}

TEST_F(SmtpTls, CertificateProblemsEndTheAttemptBeforeAnythingIsSent)
{
    struct Case {
        const char* what;
        bool implicit;
        bool useSystemStore; // SENTORIX_CA_BUNDLE unset: the test authority is unknown
        std::string Certificates::*cert;
        std::string Certificates::*key;
        std::string host;
        const char* problem; // the certificate problem named in the notice
    };
    const std::vector<Case> cases = {
        {"authority not trusted, STARTTLS", false, false, &Certificates::strangerCert,
         &Certificates::strangerKey, "localhost", "unable to get local issuer certificate"},
        {"authority not trusted, implicit TLS", true, false, &Certificates::strangerCert,
         &Certificates::strangerKey, "localhost", "unable to get local issuer certificate"},
        {"certificate for another name", false, false, &Certificates::otherNameCert,
         &Certificates::otherNameKey, "localhost", "hostname mismatch"},
        {"certificate for other names than this address", true, false, &Certificates::otherNameCert,
         &Certificates::otherNameKey, "127.0.0.1", "IP address mismatch"},
        {"test authority unknown to the system store", false, true, &Certificates::goodCert,
         &Certificates::goodKey, "localhost", "unable to get local issuer certificate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.useSystemStore)
            unsetenv("SENTORIX_CA_BUNDLE");
        test::TempDir dir;
        test::PeerProcess peer("smtp_server.py", {"0", dir.file("mail"), "--auth", "bob", "pw",
                                                  c.implicit ? "--implicit-tls" : "--starttls",
                                                  (*s_certs).*c.cert, (*s_certs).*c.key});
        ASSERT_TRUE(peer.start());
        Session smtp;
        smtp.loginName = "bob";
        smtp.loginPassword = "pw";
        const std::string server =
            (c.implicit ? "smtps://" : "") + c.host + ":" + std::to_string(peer.port());
        EXPECT_EQ(smtp.connectTo(server), 0);
        EXPECT_FALSE(smtp.socketOpen());
        ASSERT_EQ(smtp.notices.size(), 1u);
        EXPECT_TRUE(contains(smtp.notices[0], "certificate not accepted")) << smtp.notices[0];
        EXPECT_TRUE(contains(smtp.notices[0], c.problem)) << smtp.notices[0];
        EXPECT_TRUE(smtp.events.empty()) << testing::PrintToString(smtp.events);
        // No login and no mail command reached the server.
        EXPECT_EQ(commandsSeen(dir.file("mail")), "");
        EXPECT_EQ(test::receivedMessageCount(dir.file("mail")), 0);
        setenv("SENTORIX_CA_BUNDLE", s_certs->trusted.caFile.c_str(), 1);
    }
}

TEST_F(SmtpTls, ServerWithoutStartTlsGoesOnInPlainTextAndSaysSo)
{
    test::TempDir dir;
    test::PeerProcess peer("smtp_server.py", {"0", dir.file("mail")});
    ASSERT_TRUE(peer.start());
    Session smtp;
    MailMessage m = notification();
    ASSERT_EQ(smtp.connectTo("localhost:" + std::to_string(peer.port())), 1);
    EXPECT_FALSE(smtp.encrypted());
    EXPECT_EQ(smtp.sendMessage(m), 0);
    EXPECT_EQ(smtp.notices,
              std::vector<std::string>{"The connection is not encrypted: the server does not offer "
                                       "STARTTLS."});
    EXPECT_EQ(test::receivedMessageCount(dir.file("mail")), 1);
}

TEST_F(SmtpTls, LoginWithTheServersOwnPromptsAndWithPlainOnly)
{
    struct Case {
        const char* what;
        std::vector<std::string> options;
        const char* mechanism;
    };
    const std::vector<Case> cases = {
        {"aiosmtpd's own LOGIN prompts", {"--default-prompts"}, "AUTH LOGIN\n"},
        {"only PLAIN offered", {"--only-plain"}, "AUTH PLAIN\n"},
        {"own prompts over STARTTLS",
         {"--default-prompts", "--starttls", s_certs->goodCert, s_certs->goodKey},
         "AUTH LOGIN\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        std::vector<std::string> args = {"0", dir.file("mail"), "--auth", "bob", "p@ss w0rd"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        test::PeerProcess peer("smtp_server.py", args);
        ASSERT_TRUE(peer.start());
        Session smtp;
        smtp.loginName = "bob";
        smtp.loginPassword = "p@ss w0rd";
        MailMessage m = notification();
        ASSERT_EQ(smtp.connectTo("localhost:" + std::to_string(peer.port())), 1);
        EXPECT_EQ(smtp.sendMessage(m), 0);
        smtp.disconnect();
        EXPECT_TRUE(smtp.events.empty()) << testing::PrintToString(smtp.events);
        EXPECT_EQ(commandsSeen(dir.file("mail")), std::string(c.mechanism) + "MAIL FROM:\n");
        EXPECT_EQ(test::receivedMessageCount(dir.file("mail")), 1);
    }
}

TEST_F(SmtpTls, WrongPasswordOverPlainIsRefused)
{
    test::TempDir dir;
    test::PeerProcess peer("smtp_server.py",
                           {"0", dir.file("mail"), "--auth", "bob", "right", "--only-plain"});
    ASSERT_TRUE(peer.start());
    Session smtp;
    smtp.loginName = "bob";
    smtp.loginPassword = "wrong";
    ASSERT_EQ(smtp.connectTo("127.0.0.1:" + std::to_string(peer.port())), 1);
    EXPECT_EQ(smtp.events, (std::vector<std::string>{"warning 535 535", "error 535 535"}));
    EXPECT_EQ(test::receivedMessageCount(dir.file("mail")), 0);
}

// --- corners, against a scripted peer --------------------------------------------------------

namespace
{

const std::string kEhloWithStartTls = "250-localhost\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n";

} // namespace

TEST_F(SmtpTls, FailedStartTlsNeverFallsBackToPlainText)
{
    struct Case {
        const char* what;
        std::vector<S::Step> afterStartTls; // the server's part once STARTTLS was read
        std::vector<std::string> events;
        const char* notice;
    };
    const std::vector<Case> cases = {
        {"STARTTLS refused",
         {S::send("454 4.7.0 TLS not available\r\n"), S::hold()},
         {"error 454 454"},
         "Secure connection failed: the server refused STARTTLS with 454; nothing is sent "
         "unencrypted."},
        {"connection dropped after 220",
         {S::send("220 go ahead\r\n"), S::close()},
         {},
         "Secure connection failed: TLS handshake failed"},
        {"handshake stalls",
         {S::send("220 go ahead\r\n"), S::stall()},
         {},
         "Secure connection failed: the TLS handshake timed out"},
        {"plain text instead of a handshake",
         {S::send("220 go ahead\r\n"), S::send("250 this is no TLS\r\n"), S::hold()},
         {},
         "Secure connection failed: TLS handshake failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        S server(test::script({{S::send("220 ready\r\n")},
                               S::answer(kEhloWithStartTls),
                               {S::line()},
                               c.afterStartTls}));
        Session smtp;
        smtp.replyTimeout = 2;
        smtp.loginName = "bob";
        smtp.loginPassword = "pw";
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(smtp.connectTo(server.address()), 0);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, std::chrono::seconds(6));
        EXPECT_EQ(smtp.events, c.events);
        ASSERT_EQ(smtp.notices.size(), 1u);
        EXPECT_EQ(smtp.notices[0].rfind(c.notice, 0), 0u) << smtp.notices[0];
        // EHLO and STARTTLS, and nothing after them: no login, no QUIT in plain text.
        const std::vector<std::string> got = server.finish();
        ASSERT_GE(got.size(), 2u);
        EXPECT_EQ(got[1], "STARTTLS\r\n");
        EXPECT_EQ(got.size(), 2u) << testing::PrintToString(got);
    }
}

TEST_F(SmtpTls, ImplicitTlsHandshakeThatStallsEndsInBoundedTime)
{
    S server({S::stall()});
    Session smtp;
    smtp.replyTimeout = 2;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(smtp.connectTo("smtps://" + server.address()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
    EXPECT_EQ(smtp.notices,
              std::vector<std::string>{"Secure connection failed: the TLS handshake timed out"});
    server.finish();
}

TEST(SmtpSessionBound, ASlowServerCannotHoldTheSessionPastItsTotalTime)
{
    // Every reply comes just within the reply time-out, so only the total bound ends it.
    std::vector<S::Step> steps = {S::send("220 ready\r\n")};
    for (const char* reply : {"250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"}) {
        steps.push_back(S::line());
        steps.push_back(S::pause(900));
        steps.push_back(S::send(reply));
    }
    steps.push_back(S::hold());
    S server(steps);
    Session smtp;
    smtp.replyTimeout = 2;
    smtp.sessionTimeout = 3;
    MailMessage m = notification();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    EXPECT_EQ(smtp.sendMessage(m), -1);
    smtp.disconnect();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(2900));
    EXPECT_LT(took, std::chrono::milliseconds(4500)); // without the bound: over 5.5 s
    server.finish();
}

TEST(SmtpSessionBound, MailerSessionsAreBoundedByDefault)
{
    const CSmtp smtp;
    EXPECT_EQ(smtp.sessionTimeout, 120);
    EXPECT_EQ(smtp.replyTimeout, 30);
}
