// The whole mail path against a real SMTP server (aiosmtpd, tests/peers/smtp_server.py) on
// 127.0.0.1: what arrives is read back with Python's own MIME parser.
#include "mailer/smtp/MailMessage.h"
#include "mailer/smtp/Smtp.h"

#include "tests/support/ReceivedMail.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace sentorix;

namespace
{

class Session : public CSmtp
{
public:
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
    std::vector<std::string> events;
};

BodyPart textPart(const std::string& text)
{
    BodyPart p;
    p.contentType = "text/plain";
    p.charset = "iso-8859-1";
    p.text = text;
    return p;
}

MailMessage notification()
{
    MailMessage m;
    m.sender = {"Sentorix Monitor", "monitor@example.org"};
    m.mainRecipient = {"Ann", "ann@example.com"};
    m.toList.push_back({"", "bob@example.com"});
    m.bccList.push_back({"Carol", "carol@example.com"});
    m.subject = "Sentorix: 2 documents changed";
    return m;
}

} // namespace

TEST(SmtpRealServer, DeliversTheMailerMessage)
{
    test::TempDir dir;
    test::PeerProcess peer("smtp_server.py", {"0", dir.file("mail")});
    ASSERT_TRUE(peer.start());

    const std::string body = "2011/05/07 [09:03:00] Changed: Example page\r\n"
                             ".a line that starts with a period\r\n" +
                             std::string(100, 'w') + "\r\nlast line ends in a space \r\n";
    MailMessage m = notification();
    m.bodyParts.push_back(textPart(body));

    Session smtp;
    ASSERT_EQ(smtp.connectTo("127.0.0.1:" + std::to_string(peer.port())), 1);
    EXPECT_EQ(smtp.extendedHello, 1);
    EXPECT_EQ(smtp.sendMessage(m), 0);
    smtp.disconnect();
    EXPECT_TRUE(smtp.events.empty());

    const test::ReceivedMessage got = test::readReceivedMessage(dir.file("mail"), 1);
    ASSERT_TRUE(got.read);
    EXPECT_EQ(got.field("mail-from"), "monitor@example.org");
    EXPECT_EQ(got.list("rcpt"), (std::vector<std::string>{"ann@example.com", "bob@example.com",
                                                          "carol@example.com"}));
    EXPECT_EQ(got.field("header:From"), "\"Sentorix Monitor\" <monitor@example.org>");
    EXPECT_EQ(got.field("header:To"), "\"Ann\" <ann@example.com>, <bob@example.com>");
    EXPECT_EQ(got.field("header:Subject"), "Sentorix: 2 documents changed");
    EXPECT_EQ(got.field("header:X-Mailer"), "Postavo");
    EXPECT_EQ(got.field("header:MIME-Version"), "1.0");
    EXPECT_FALSE(got.has("header:Bcc"));
    EXPECT_EQ(got.list("part-type"), std::vector<std::string>{"text/plain"});
    EXPECT_EQ(got.field("part-charset"), "iso-8859-1");
    EXPECT_EQ(got.field("part-filename"), "");
    EXPECT_EQ(got.field("part-encoding"), "quoted-printable");
    // Quoted-printable gives the lines back with CR LF; the end of data adds one empty line.
    EXPECT_EQ(got.field("part-data"), body + "\r\n");
    EXPECT_EQ(got.field("defects"), "0");
}

TEST(SmtpRealServer, LogsInAndSendsAnAttachment)
{
    test::TempDir dir;
    const std::string password = "p@ss:w/rd";
    test::PeerProcess peer("smtp_server.py", {"0", dir.file("mail"), "--auth", "bob", password});
    ASSERT_TRUE(peer.start());

    std::string binary;
    for (int i = 0; i < 3000; ++i)
        binary.push_back(static_cast<char>((i * 7) & 0xFF));
    test::writeFile(dir.file("snapshot.bin"), binary);

    MailMessage m = notification();
    m.bodyParts.push_back(textPart("See the attached snapshot.\r\n"));
    Attachment a;
    a.text = dir.file("snapshot.bin");
    m.attachments.push_back(a);

    Session smtp;
    smtp.loginName = "bob";
    smtp.loginPassword = password;
    ASSERT_EQ(smtp.connectTo("127.0.0.1:" + std::to_string(peer.port())), 1);
    EXPECT_EQ(smtp.sendMessage(m), 0);
    smtp.disconnect();
    EXPECT_TRUE(smtp.events.empty()) << testing::PrintToString(smtp.events);

    const test::ReceivedMessage got = test::readReceivedMessage(dir.file("mail"), 1);
    ASSERT_TRUE(got.read);
    EXPECT_EQ(got.list("multi"), std::vector<std::string>{"multipart/mixed"});
    EXPECT_EQ(got.list("part-type"),
              (std::vector<std::string>{"text/plain", "application/octet-stream"}));
    EXPECT_EQ(got.list("part-charset"), (std::vector<std::string>{"iso-8859-1", ""}));
    EXPECT_EQ(got.list("part-filename"), (std::vector<std::string>{"", "snapshot.bin"}));
    EXPECT_EQ(got.list("part-encoding"), (std::vector<std::string>{"7bit", "base64"}));
    EXPECT_EQ(got.list("part-data"),
              (std::vector<std::string>{"See the attached snapshot.\r\n", binary}));
    EXPECT_EQ(got.field("defects"), "0");
}

TEST(SmtpRealServer, WrongPasswordIsRefusedAndNothingIsSent)
{
    test::TempDir dir;
    test::PeerProcess peer("smtp_server.py", {"0", dir.file("mail"), "--auth", "bob", "right"});
    ASSERT_TRUE(peer.start());
    MailMessage m = notification();
    m.bodyParts.push_back(textPart("x\r\n"));

    Session smtp;
    smtp.loginName = "bob";
    smtp.loginPassword = "wrong";
    ASSERT_EQ(smtp.connectTo("127.0.0.1:" + std::to_string(peer.port())), 1);
    EXPECT_EQ(smtp.sendMessage(m), 530);
    smtp.disconnect();

    // The login at greeting and one per MAIL FROM retry each fail; then the 530 is an error.
    std::vector<std::string> expected;
    for (int i = 0; i <= CSmtp::kMailFromRetries; ++i) {
        expected.push_back("warning 535 535");
        expected.push_back("error 535 535");
    }
    expected.push_back("error 530 530");
    EXPECT_EQ(smtp.events, expected);
    EXPECT_EQ(test::receivedMessageCount(dir.file("mail")), 0);
}
