// The whole mail path against a real SMTP server (aiosmtpd, tests/peers/smtp_server.py) on
// 127.0.0.1: what arrives is read back with Python's own MIME parser.
#include "mailer/smtp/MailMessage.h"
#include "mailer/smtp/Smtp.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace sentorix;

namespace
{

// Prints what a saved message holds, one fact per line, from Python's email package.
const char* const kParser = R"PY(
import sys, json, email
from email import policy
with open(sys.argv[1], 'rb') as f:
    msg = email.message_from_binary_file(f, policy=policy.compat32)
with open(sys.argv[2]) as f:
    meta = json.load(f)
print("MAIL_FROM", meta["mail_from"])
for r in meta["rcpt_tos"]:
    print("RCPT", r)
for k in ["From", "To", "Subject", "Date", "X-Mailer", "MIME-Version", "Bcc"]:
    v = msg.get(k)
    print("H", k, " ".join(str(v).split()) if v is not None else "<none>")
for part in msg.walk():
    if part.is_multipart():
        print("MULTI", part.get_content_type())
        continue
    payload = part.get_payload(decode=True) or b""
    print("PART", part.get_content_type(), part.get_content_charset(), part.get_filename(),
          part.get("Content-Transfer-Encoding"), payload.hex())
print("DEFECTS", sum(len(p.defects) for p in msg.walk()))
)PY";

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// Runs the parser on message N of `folder` and returns its lines.
std::vector<std::string> parseSaved(const std::string& folder, int n)
{
    const std::string script = folder + "/parse.py";
    test::writeFile(script, kParser);
    const std::string command = "/usr/bin/python3 '" + script + "' '" + folder + "/" +
                                std::to_string(n) + ".eml' '" + folder + "/" + std::to_string(n) +
                                ".json'";
    std::vector<std::string> lines;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return lines;
    std::string all;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        all.append(buffer, got);
    ::pclose(pipe);
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos)
            end = all.size();
        lines.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

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

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    for (const auto& l : lines) {
        if (l == line)
            return true;
    }
    return false;
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

    const auto lines = parseSaved(dir.file("mail"), 1);
    EXPECT_TRUE(contains(lines, "MAIL_FROM monitor@example.org"));
    EXPECT_TRUE(contains(lines, "RCPT ann@example.com"));
    EXPECT_TRUE(contains(lines, "RCPT bob@example.com"));
    EXPECT_TRUE(contains(lines, "RCPT carol@example.com"));
    EXPECT_TRUE(contains(lines, "H From \"Sentorix Monitor\" <monitor@example.org>"));
    EXPECT_TRUE(contains(lines, "H To \"Ann\" <ann@example.com>, <bob@example.com>"));
    EXPECT_TRUE(contains(lines, "H Subject Sentorix: 2 documents changed"));
    EXPECT_TRUE(contains(lines, "H X-Mailer Postavo"));
    EXPECT_TRUE(contains(lines, "H MIME-Version 1.0"));
    EXPECT_TRUE(contains(lines, "H Bcc <none>"));
    // The parser gives lines ending in LF; the end of data adds one empty line.
    std::string decoded;
    for (char c : body) {
        if (c != '\r')
            decoded.push_back(c);
    }
    decoded += "\n";
    EXPECT_TRUE(contains(lines, "PART text/plain iso-8859-1 None quoted-printable " + hex(decoded)))
        << testing::PrintToString(lines);
    EXPECT_TRUE(contains(lines, "DEFECTS 0"));
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

    const auto lines = parseSaved(dir.file("mail"), 1);
    EXPECT_TRUE(contains(lines, "MULTI multipart/mixed")) << testing::PrintToString(lines);
    EXPECT_TRUE(contains(lines, "PART text/plain iso-8859-1 None 7bit " +
                                    hex("See the attached snapshot.\n")));
    EXPECT_TRUE(
        contains(lines, "PART application/octet-stream None snapshot.bin base64 " + hex(binary)));
    EXPECT_TRUE(contains(lines, "DEFECTS 0"));
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
    EXPECT_FALSE(test::exists(dir.file("mail/1.eml")));
}
