// The SMTP session against a scripted peer: each test states the server's replies and checks
// the exact command bytes sent, the results, and what the hooks were told.
#include "mailer/smtp/Base64.h"
#include "mailer/smtp/MailMessage.h"
#include "mailer/smtp/Smtp.h"
#include "platform/Socket.h"
#include "tests/smtp/ScriptedServer.h"
#include "tests/support/ReceivedMail.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <deque>
#include <string>
#include <vector>

using namespace sentorix;
using test::ScriptedServer;
using S = ScriptedServer;

namespace
{

// Records every hook call as one line of text.
class RecordingSmtp : public CSmtp
{
public:
    RecordingSmtp() { replyTimeout = 10; }
    ~RecordingSmtp() override { disconnect(); }

    int onWarning(int code, const std::string& reply) override
    {
        events.push_back("warning " + std::to_string(code) + " " + reply);
        if (warningResults.empty())
            return 0;
        const int result = warningResults.front();
        warningResults.pop_front();
        return result;
    }
    int onError(int code, const std::string& reply) override
    {
        events.push_back("error " + std::to_string(code) + " " + reply);
        return 0;
    }
    void onReply(const char* command, int code, const std::string& reply) override
    {
        replies.push_back(std::string(command ? command : "(greeting)") + "|" +
                          std::to_string(code) + "|" + reply);
    }
    int onProgress(const std::string& command, std::size_t sent, std::size_t total) override
    {
        progress.push_back(sent);
        EXPECT_EQ(total, command.size());
        return abortProgress ? 0 : 1;
    }

    std::vector<std::string> events;
    std::vector<std::string> replies;
    std::vector<std::size_t> progress;
    std::deque<int> warningResults;
    bool abortProgress = false;
};

std::string ehlo()
{
    return "EHLO " + localHostName(63) + "\r\n";
}
std::string helo()
{
    return "HELO " + localHostName(63) + "\r\n";
}
std::string b64(const std::string& text)
{
    CBase64 codec;
    codec.encodeText(text.c_str());
    return codec.encodedData();
}

// Greeting and a plain HELO, for sessions that start with useEhlo = 0.
std::vector<S::Step> heloOpening()
{
    return {S::send("220 ready\r\n"), S::line(), S::send("250 hello\r\n")};
}

MailMessage simpleMessage()
{
    MailMessage m;
    m.created = LocalTime{2012, 6, 4, 14, 9, 5, 3, 0};
    m.zoneOffset = 100;
    m.sender = {"", "a@x.org"};
    m.mainRecipient = {"", "b@y.org"};
    m.subject = "Test";
    BodyPart p;
    p.contentType = "text/plain";
    p.charset = "iso-8859-1";
    p.text = "Hello\r\n";
    m.bodyParts.push_back(p);
    return m;
}

std::string composed(MailMessage m)
{
    std::string out;
    composeMessage(m, out);
    return out;
}

} // namespace

TEST(SmtpSession, SendsAMessageWithMultiLineEhloArrivingInPieces)
{
    S server(test::script({
        {S::send("220 mail.example ready\r\n"), S::line(), S::send("250-mail.exa"), S::pause(50),
         S::send("mple\r\n250-SIZE 1000\r\n250 HELP\r\n")},
        S::answer("250 sender ok\r\n"),
        S::answer("250 rcpt ok\r\n"),
        S::answer("354 go ahead\r\n"),
        {S::data(), S::send("250 queued\r\n")},
        S::answer("221 bye\r\n"),
    }));
    RecordingSmtp smtp;
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    EXPECT_EQ(smtp.extendedHello, 1);
    EXPECT_EQ(smtp.connected, 1);
    MailMessage m = simpleMessage();
    EXPECT_EQ(smtp.sendMessage(m), 0);
    smtp.disconnect();
    EXPECT_FALSE(smtp.socketOpen());

    EXPECT_EQ(server.finish(),
              (std::vector<std::string>{ehlo(), "MAIL FROM: <a@x.org>\r\n",
                                        "RCPT TO: <b@y.org>\r\n", "DATA\r\n",
                                        composed(simpleMessage()) + "\r\n.\r\n", "QUIT\r\n"}));
    ASSERT_GE(smtp.replies.size(), 2u);
    EXPECT_EQ(smtp.replies[0], "(greeting)|220|220 mail.example ready");
    // The code comes from the first line; the text is every line without the last line end.
    EXPECT_EQ(smtp.replies[1], ehlo() + "|250|250-mail.example\r\n250-SIZE 1000\r\n250 HELP");
    EXPECT_TRUE(smtp.events.empty());
}

TEST(SmtpSession, MultiLineReplyIsReadToItsLastLineAndLeftoversAreDropped)
{
    S server(test::script({
        {S::send("220 ready\r\n"), S::line(), S::send("250-first line\r\n"), S::pause(50),
         S::send("250-AUTH LOGIN\r\n"), S::pause(50), S::send("250 HELP\r\n"), S::gate(),
         S::send("250 unsolicited\r\n"), S::gate()},
        S::answer("250 sender ok\r\n"),
    }));
    RecordingSmtp smtp;
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    EXPECT_EQ(smtp.lastReply, "250-first line\r\n250-AUTH LOGIN\r\n250 HELP");
    server.waitAtGate(1);
    server.release();
    server.waitAtGate(2); // the stray line is on its way before the next command
    server.release();
    EXPECT_EQ(smtp.mailFrom("a@x.org"), 0);
    EXPECT_EQ(smtp.lastReply, "250 sender ok");
}

TEST(SmtpSession, RefusedEhloFallsBackToHeloAndLaterLoginOn530)
{
    S server(test::script({
        {S::send("220 ready\r\n")},
        S::answer("500 unknown command\r\n"),
        S::answer("250 hello\r\n"),
        S::answer("530 authentication required\r\n"),
        S::answer("334 VXNlcm5hbWU6\r\n"),
        S::answer("334 UGFzc3dvcmQ6\r\n"),
        S::answer("235 ok\r\n"),
        S::answer("250 sender ok\r\n"),
    }));
    RecordingSmtp smtp;
    smtp.loginName = "bob";
    smtp.loginPassword = "p@ss:word";
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    EXPECT_EQ(smtp.extendedHello, 0);
    EXPECT_EQ(smtp.mailFrom("a@x.org"), 0);
    EXPECT_TRUE(smtp.events.empty()); // a refused EHLO is not reported
    EXPECT_EQ(server.finish(),
              (std::vector<std::string>{ehlo(), helo(), "MAIL FROM: <a@x.org>\r\n",
                                        "AUTH LOGIN\r\n", b64("bob") + "\r\n",
                                        b64("p@ss:word") + "\r\n", "MAIL FROM: <a@x.org>\r\n"}));
}

TEST(SmtpSession, EndlessAuthRequiredWithoutLoginNameIsBounded)
{
    std::vector<std::vector<S::Step>> parts = {heloOpening()};
    for (int i = 0; i <= CSmtp::kMailFromRetries; ++i)
        parts.push_back(S::answer("530 authentication required\r\n"));
    std::vector<S::Step> steps;
    for (auto& p : parts)
        steps.insert(steps.end(), p.begin(), p.end());
    S server(steps);
    RecordingSmtp smtp;
    smtp.useEhlo = 0;
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    EXPECT_EQ(smtp.mailFrom("a@x.org"), 530);
    EXPECT_EQ(smtp.events, (std::vector<std::string>{"error 530 530 authentication required"}));
    std::vector<std::string> expected = {helo()};
    for (int i = 0; i <= CSmtp::kMailFromRetries; ++i)
        expected.push_back("MAIL FROM: <a@x.org>\r\n"); // and never AUTH LOGIN
    EXPECT_EQ(server.finish(), expected);
}

TEST(SmtpSession, LoginCorners)
{
    struct Case {
        const char* what;
        std::vector<S::Step> loginSteps; // after EHLO
        std::deque<int> warningResults;
        std::vector<std::string> expectedCommands; // after EHLO
        std::vector<std::string> expectedEvents;
        int expectedResult;
    };
    const std::string user = b64("bob") + "\r\n";
    const std::string pass = b64("pw") + "\r\n";
    // A hook that asks for a new login after every refusal: the login starts again a bounded
    // number of times, then the refusal is an error.
    Case endless{"warning hook always asks for a new login", {}, {}, {}, {}, 535};
    for (int attempt = 0; attempt <= CSmtp::kLoginRestarts; ++attempt) {
        for (auto& step :
             test::script({S::answer("334 VXNlcm5hbWU6\r\n"), S::answer("535 no\r\n")}))
            endless.loginSteps.push_back(step);
        endless.warningResults.push_back(1);
        endless.expectedCommands.insert(endless.expectedCommands.end(), {"AUTH LOGIN\r\n", user});
        endless.expectedEvents.push_back("warning 535 535 no");
    }
    endless.expectedEvents.push_back("error 535 535 no");
    endless.warningResults.insert(endless.warningResults.end(), 5, 1); // it would go on asking
    const std::vector<Case> cases = {
        endless,
        {"prompts in other letter case",
         test::script({S::answer("334 dXNlcm5hbWU6\r\n"), S::answer("334 UEFTU1dPUkQ6\r\n"),
                       S::answer("235 ok\r\n")}),
         {},
         {"AUTH LOGIN\r\n", user, pass},
         {},
         0},
        {"password refused",
         test::script({S::answer("334 VXNlcm5hbWU6\r\n"), S::answer("334 UGFzc3dvcmQ6\r\n"),
                       S::answer("535 bad credentials\r\n")}),
         {},
         {"AUTH LOGIN\r\n", user, pass},
         {"warning 535 535 bad credentials", "error 535 535 bad credentials"},
         535},
        {"warning hook asks for a new login",
         test::script({S::answer("334 VXNlcm5hbWU6\r\n"), S::answer("535 no\r\n"),
                       S::answer("334 VXNlcm5hbWU6\r\n"), S::answer("334 UGFzc3dvcmQ6\r\n"),
                       S::answer("235 ok\r\n")}),
         {1},
         {"AUTH LOGIN\r\n", user, "AUTH LOGIN\r\n", user, pass},
         {"warning 535 535 no"},
         0},
        {"prompts of the server's own wording: name, then password; a third is refused",
         test::script({S::answer("334 " + b64("Token:") + "\r\n"),
                       S::answer("334 " + b64("Secret:") + "\r\n"),
                       S::answer("334 " + b64("One more:") + "\r\n")}),
         {},
         {"AUTH LOGIN\r\n", user, pass},
         {"error 334 334 " + b64("One more:")},
         334},
        {"known prompts are answered by their text, in any order",
         test::script({S::answer("334 " + b64("Password:") + "\r\n"),
                       S::answer("334 " + b64("Username:") + "\r\n"), S::answer("235 ok\r\n")}),
         {},
         {"AUTH LOGIN\r\n", pass, user},
         {},
         0},
        {"AUTH LOGIN not offered",
         test::script({S::answer("502 not implemented\r\n")}),
         {},
         {"AUTH LOGIN\r\n"},
         {"warning 502 502 not implemented"},
         502},
        {"final code other than 235",
         test::script({S::answer("334 VXNlcm5hbWU6\r\n"), S::answer("334 UGFzc3dvcmQ6\r\n"),
                       S::answer("454 try later\r\n")}),
         {},
         {"AUTH LOGIN\r\n", user, pass},
         {"error 454 454 try later"},
         454},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        S server(test::script(
            {{S::send("220 ready\r\n")}, S::answer("250 hi\r\n"), c.loginSteps, {S::hold()}}));
        RecordingSmtp smtp;
        smtp.loginName = "bob";
        smtp.loginPassword = "pw";
        smtp.warningResults = c.warningResults;
        // The greeting runs the login after EHLO; its result does not fail the connection.
        ASSERT_EQ(smtp.connectTo(server.address()), 1);
        EXPECT_EQ(smtp.events, c.expectedEvents);
        smtp.events.clear();
        EXPECT_EQ(server.finish().size(), c.expectedCommands.size() + 1);
        smtp.disconnect();

        // Run the login alone for its result and exact commands.
        S again(test::script({{S::send("220 ready\r\n")},
                              S::answer("250 hi\r\n"),
                              {S::gate()},
                              c.loginSteps,
                              {S::hold()}}));
        RecordingSmtp direct;
        direct.warningResults = c.warningResults;
        ASSERT_EQ(direct.connectTo(again.address()), 1); // no login name: no login yet
        direct.loginName = "bob";
        direct.loginPassword = "pw";
        again.waitAtGate(1);
        again.release();
        EXPECT_EQ(direct.login(), c.expectedResult);
        direct.disconnect();
        std::vector<std::string> expected = {ehlo()};
        expected.insert(expected.end(), c.expectedCommands.begin(), c.expectedCommands.end());
        expected.push_back("QUIT\r\n"); // a refused login leaves the session connected
        EXPECT_EQ(again.finish(), expected);
    }
}

TEST(SmtpSession, OneOfTwoRecipientsRefused)
{
    S server(test::script({
        heloOpening(),
        S::answer("250 sender ok\r\n"),
        S::answer("550 no such user\r\n"),
        S::answer("250 rcpt ok\r\n"),
        S::answer("354 go ahead\r\n"),
        {S::data(), S::send("250 queued\r\n")},
        {S::hold()},
    }));
    RecordingSmtp smtp;
    smtp.useEhlo = 0;
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    MailMessage m = simpleMessage();
    m.toList.push_back({"Other", "c@z.org"});
    EXPECT_EQ(smtp.sendMessage(m), 0);
    EXPECT_EQ(smtp.events, (std::vector<std::string>{"warning 550 550 no such user"}));
    smtp.disconnect();
    const auto received = server.finish();
    ASSERT_GE(received.size(), 5u);
    EXPECT_EQ(received[2], "RCPT TO: <b@y.org>\r\n");
    EXPECT_EQ(received[3], "RCPT TO: <c@z.org>\r\n");
    EXPECT_EQ(received[4], "DATA\r\n");
}

TEST(SmtpSession, RecipientsInOrderAndAllRefused)
{
    S server(test::script({
        heloOpening(),
        S::answer("250 sender ok\r\n"),
        S::answer("550 unknown\r\n"),
        S::answer("553 bad mailbox\r\n"),
        {S::hold()},
    }));
    RecordingSmtp smtp;
    smtp.useEhlo = 0;
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    MailMessage m = simpleMessage();
    m.mainRecipient = {};
    m.toList.push_back({"", "c@z.org"});
    m.bccList.push_back({"", "d@w.org"});
    EXPECT_EQ(smtp.sendMessage(m), 553);
    EXPECT_EQ(smtp.events,
              (std::vector<std::string>{"warning 550 550 unknown", "warning 553 553 bad mailbox",
                                        "error 553 553 bad mailbox"}));
    smtp.disconnect();
    const auto received = server.finish();
    EXPECT_EQ(received, (std::vector<std::string>{helo(), "MAIL FROM: <a@x.org>\r\n",
                                                  "RCPT TO: <c@z.org>\r\n",
                                                  "RCPT TO: <d@w.org>\r\n", "QUIT\r\n"}));
}

TEST(SmtpSession, MessageWithoutSenderOrRecipientIsNotSent)
{
    S server(test::script({heloOpening(), {S::hold()}}));
    RecordingSmtp smtp;
    smtp.useEhlo = 0;
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    MailMessage noSender = simpleMessage();
    noSender.sender.address.clear();
    EXPECT_EQ(smtp.sendMessage(noSender), -1);
    MailMessage noRecipient = simpleMessage();
    noRecipient.mainRecipient.address.clear();
    EXPECT_EQ(smtp.sendMessage(noRecipient), -1);
    smtp.disconnect();
    EXPECT_EQ(server.finish(), (std::vector<std::string>{helo(), "QUIT\r\n"}));
}

TEST(SmtpSession, ReplyWithoutCodeIsReportedAndNeverSuccess)
{
    S server(test::script(
        {heloOpening(), S::answer("hello there\r\n"), S::answer("what?\r\n"), {S::hold()}}));
    RecordingSmtp smtp;
    smtp.useEhlo = 0;
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    EXPECT_EQ(smtp.mailFrom("a@x.org"), -1);
    EXPECT_EQ(smtp.rcptTo("b@y.org"), -1);
    EXPECT_EQ(smtp.events, (std::vector<std::string>{"error 0 hello there", "warning 0 what?"}));
}

TEST(SmtpSession, SilentServerTimesOut)
{
    {
        S server({S::send("220 ready\r\n"), S::line(), S::send("250 hello\r\n"), S::hold()});
        RecordingSmtp smtp;
        smtp.useEhlo = 0;
        smtp.replyTimeout = 1;
        ASSERT_EQ(smtp.connectTo(server.address()), 1);
        EXPECT_EQ(smtp.mailFrom("a@x.org"), -1);
        EXPECT_EQ(smtp.lastReply, "");
        EXPECT_EQ(smtp.events, (std::vector<std::string>{"error -1 "}));
        EXPECT_EQ(smtp.connected, 0); // so no QUIT follows
        smtp.disconnect();
        EXPECT_EQ(server.finish(), (std::vector<std::string>{helo(), "MAIL FROM: <a@x.org>\r\n"}));
    }
    {
        S server({S::hold()}); // not even a greeting
        RecordingSmtp smtp;
        smtp.replyTimeout = 1;
        EXPECT_EQ(smtp.connectTo(server.address()), 0);
        EXPECT_EQ(smtp.events, (std::vector<std::string>{"error -1 "}));
        EXPECT_FALSE(smtp.socketOpen());
    }
}

TEST(SmtpSession, PartialReplyThenSilenceFailsWithWhatArrived)
{
    S server(test::script({heloOpening(), {S::line(), S::send("250 no line end"), S::hold()}}));
    RecordingSmtp smtp;
    smtp.useEhlo = 0;
    smtp.replyTimeout = 1;
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    EXPECT_EQ(smtp.mailFrom("a@x.org"), -1);
    EXPECT_EQ(smtp.lastReply, "250 no line end");
    EXPECT_EQ(smtp.events, (std::vector<std::string>{"error -1 250 no line end"}));
}

TEST(SmtpSession, LongMessageGoesInPiecesWithProgress)
{
    S server(test::script({heloOpening(),
                           S::answer("354 go\r\n"),
                           {S::data(), S::send("250 queued\r\n")},
                           {S::hold()}}));
    RecordingSmtp smtp;
    smtp.useEhlo = 0;
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    MailMessage m = simpleMessage();
    std::string body;
    for (int i = 0; i < 100; ++i)
        body += "Line " + std::to_string(i) + " of a long notification.\r\n";
    m.bodyParts[0].text = body;
    const std::string expectedData = composed(m) + "\r\n.\r\n";
    ASSERT_GT(expectedData.size(), 3 * CSmtp::kSendPieceSize);
    EXPECT_EQ(smtp.transferData(m), 0);

    std::vector<std::size_t> expectedProgress;
    for (std::size_t sent = 1024; sent < expectedData.size(); sent += 1024)
        expectedProgress.push_back(sent);
    expectedProgress.push_back(expectedData.size());
    EXPECT_EQ(smtp.progress, expectedProgress);
    smtp.disconnect();
    const auto received = server.finish();
    ASSERT_GE(received.size(), 3u);
    EXPECT_EQ(received[2], expectedData);
}

TEST(SmtpSession, ProgressHookCanAbort)
{
    S server(test::script({heloOpening(), S::answer("354 go\r\n"), {S::hold()}}));
    RecordingSmtp smtp;
    smtp.useEhlo = 0;
    smtp.abortProgress = true;
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    MailMessage m = simpleMessage();
    m.bodyParts[0].text = std::string(3000, 'x') + "\r\n";
    EXPECT_EQ(smtp.transferData(m), -1);
    EXPECT_EQ(smtp.progress, (std::vector<std::size_t>{1024}));
    EXPECT_EQ(smtp.lastReply, "354 go"); // a send abort leaves the last reply
    EXPECT_EQ(smtp.events, (std::vector<std::string>{"error -1 354 go"}));
    EXPECT_EQ(smtp.connected, 0);
}

TEST(SmtpSession, ReplyLongerThanTheBufferFails)
{
    S server(
        test::script({heloOpening(),
                      {S::line(), S::send("250 " + std::string(1500, 'x') + "\r\n"), S::hold()}}));
    RecordingSmtp smtp;
    smtp.useEhlo = 0;
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    EXPECT_EQ(smtp.exchange("NOOP\r\n"), -1);
    EXPECT_EQ(smtp.lastReply.size(), CSmtp::kReplyBufferSize - 1);
}

TEST(SmtpSession, CommandLineOverTheLimitIsNotSent)
{
    S server(test::script({heloOpening(), S::answer("250 ok\r\n"), {S::hold()}}));
    RecordingSmtp smtp;
    smtp.useEhlo = 0;
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    // "MAIL FROM: <" + address + ">\r\n" fills 259 characters with 244 address characters.
    const std::string fits(244, 'f');
    const std::string tooLong(245, 't');
    EXPECT_EQ(smtp.mailFrom(tooLong), -1);
    ASSERT_EQ(smtp.events.size(), 1u);
    EXPECT_EQ(smtp.events[0].rfind("error -1 Command not sent", 0), 0u);
    smtp.connected = 1;
    EXPECT_EQ(smtp.mailFrom(fits), 0);
    smtp.disconnect();
    const auto received = server.finish();
    EXPECT_EQ(received,
              (std::vector<std::string>{helo(), "MAIL FROM: <" + fits + ">\r\n", "QUIT\r\n"}));
}

TEST(SmtpSession, AddressHoldingALineBreakOrNulIsNotSent)
{
    const std::string hostile[] = {"a@x.org>\r\nRSET", "a@x.org\nRSET", "a@x.org\rRSET",
                                   std::string("a@x\0.org", 9)};
    for (const std::string& address : hostile) {
        SCOPED_TRACE(testing::PrintToString(address));
        S server(test::script({heloOpening(), {S::hold()}}));
        RecordingSmtp smtp;
        smtp.useEhlo = 0;
        ASSERT_EQ(smtp.connectTo(server.address()), 1);
        EXPECT_EQ(smtp.mailFrom(address), -1);
        smtp.connected = 1;
        EXPECT_EQ(smtp.rcptTo(address), -1);
        EXPECT_EQ(smtp.lastReply.rfind("Command not sent", 0), 0u);
        smtp.connected = 1;
        smtp.disconnect();
        EXPECT_EQ(server.finish(), (std::vector<std::string>{helo(), "QUIT\r\n"}));
    }
}

TEST(SmtpSession, PeerThatNeverReadsEndsTheExchange)
{
    S server(test::script({heloOpening(), {S::stall()}}), 4096);
    RecordingSmtp smtp;
    smtp.useEhlo = 0;
    smtp.replyTimeout = 1;
    ASSERT_EQ(smtp.connectTo(server.address()), 1);
    const std::string huge(32u << 20, 'x');
    EXPECT_EQ(smtp.exchange(huge), -1);
    EXPECT_FALSE(smtp.progress.empty());
    EXPECT_LT(smtp.progress.back(), huge.size());
}

TEST(SmtpSession, RefusedGreetingHeloAndQuitAreErrors)
{
    {
        S server({S::send("554 go away\r\n"), S::hold()});
        RecordingSmtp smtp;
        EXPECT_EQ(smtp.connectTo(server.address()), 0);
        EXPECT_EQ(smtp.events, (std::vector<std::string>{"error 554 554 go away"}));
        EXPECT_TRUE(server.finish().empty()); // no QUIT before a greeting
    }
    {
        S server({S::send("220 ready\r\n"), S::line(), S::send("501 bad name\r\n"), S::hold()});
        RecordingSmtp smtp;
        smtp.useEhlo = 0;
        EXPECT_EQ(smtp.connectTo(server.address()), 0);
        EXPECT_EQ(smtp.events, (std::vector<std::string>{"error 501 501 bad name"}));
        EXPECT_EQ(smtp.connected, 0);
        EXPECT_EQ(server.finish(), (std::vector<std::string>{helo()}));
    }
    {
        S server(test::script({heloOpening(), S::answer("500 what\r\n"), {S::hold()}}));
        RecordingSmtp smtp;
        smtp.useEhlo = 0;
        ASSERT_EQ(smtp.connectTo(server.address()), 1);
        EXPECT_EQ(smtp.quit(), 500);
        EXPECT_EQ(smtp.events, (std::vector<std::string>{"error 500 500 what"}));
        EXPECT_EQ(smtp.connected, 0);
    }
}

TEST(SmtpSession, ConnectionFailuresAreNotReported)
{
    const test::RefusingPort refusing;
    ASSERT_TRUE(refusing.valid());
    for (const std::string& server :
         {refusing.address(), std::string("no-such-host.invalid"), std::string("")}) {
        RecordingSmtp smtp;
        EXPECT_EQ(smtp.connectTo(server), 0) << server;
        EXPECT_TRUE(smtp.events.empty()) << server;
        EXPECT_FALSE(smtp.socketOpen());
    }
    RecordingSmtp idle;
    EXPECT_EQ(idle.exchange("NOOP\r\n"), -1);
    idle.disconnect(); // harmless when not connected
}

TEST(SmtpSession, DefaultPortFromTheServicesDatabase)
{
    CSmtp smtp;
    EXPECT_EQ(smtp.port, servicePort("smtp", "tcp", 25));
    EXPECT_EQ(servicePort("no-such-service-here", "tcp", 25), htons(25));
    EXPECT_EQ(smtp.useEhlo, 1);
    EXPECT_EQ(smtp.replyTimeout, 30);
}
