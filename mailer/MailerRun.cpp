#include "mailer/MailerRun.h"

#include "common/DataFolder.h"
#include "common/FixedText.h"
#include "common/TimeText.h"
#include "mailer/smtp/Smtp.h"

#include <cstdio>
#include <utility>
#include <vector>

namespace sentorix
{

namespace
{

// The session of the run: refused commands become log lines, and neither hook asks for a
// retry, so a refused login gives up at once.
class PostavoSmtp final : public CSmtp
{
public:
    explicit PostavoSmtp(const LogLine& log) : m_log(log) {}

    int onWarning(int /*code*/, const std::string& reply) override
    {
        m_log(formatLogLine("SMTP message: ", reply));
        return 0;
    }

    int onError(int /*code*/, const std::string& reply) override
    {
        m_log(formatLogLine("SMTP error: ", reply));
        return 0;
    }

    // That the connection is not encrypted, or why securing it failed.
    void onNotice(const std::string& line) override { m_log(formatLogLine("", line)); }

private:
    const LogLine& m_log;
};

} // namespace

bool closesAfterRun(bool headless, bool testRun, MailerRunOutcome outcome)
{
    if (headless)
        return true;
    return !testRun && outcome != MailerRunOutcome::SettingsUnreadable;
}

std::string formatLogLine(std::string_view prefix, std::string_view text)
{
    // The text ends at its first NUL, as a formatted "%s" would.
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos)
        text = text.substr(0, nul);
    std::string line;
    line.reserve(prefix.size() + text.size());
    line.append(prefix);
    line.append(text);
    line.resize(utf8PrefixLength(line, kLogLineMaxBytes));
    return line;
}

MailMessage buildNotificationMessage(const MailSettings& settings, std::string body)
{
    const std::string to(fieldText(settings.toAddress));
    const std::string cc(fieldText(settings.ccAddress));
    const std::string bcc(fieldText(settings.bccAddress));

    MailMessage message;
    message.subject = kNotificationSubject;
    // The settings have no sender address: the notification comes from the recipient's own.
    message.sender = MailAddress{kNotificationSenderName, to};
    message.mainRecipient = MailAddress{to, to};
    if (!cc.empty())
        message.toList.push_back(MailAddress{cc, cc}); // listed in the "To" header
    if (!bcc.empty())
        message.bccList.push_back(MailAddress{bcc, bcc});

    BodyPart part;
    part.contentType = "text/plain";
    part.charset = kNotificationCharset;
    part.encoding = 0; // chosen from the content
    part.text = std::move(body);
    message.bodyParts.push_back(std::move(part));
    return message;
}

MailerRunOutcome sendNotification(const std::string& dataFolder, bool testRun, const LogLine& log)
{
    MailSettings settings{};
    if (!readMailSettings(dataFolder, testRun, settings, log))
        return MailerRunOutcome::SettingsUnreadable;

    // A normal run takes the MessageLog away from the monitor before reading it; entries the
    // monitor appends from now on start a new MessageLog and wait for the next run. Claimed
    // files left by runs that died before settling them are taken too and sent first.
    MessageBatch batch;
    std::string body;
    if (testRun) {
        body = kTestMessageBody;
    } else {
        batch = readMessageBatch(claimMessageLogs(dataFolder));
        body = batch.body;
    }
    MailMessage message = buildNotificationMessage(settings, std::move(body));

    MailerRunOutcome outcome = MailerRunOutcome::ConnectionFailed;
    {
        PostavoSmtp smtp(log);
        if (settings.requiresAuth == 1) {
            smtp.loginName = std::string(fieldText(settings.authUserName));
            smtp.loginPassword = std::string(fieldText(settings.authPassword));
        }
        const std::string server(fieldText(settings.smtpServer));
        log(formatLogLine("Connecting to ", server + "..."));
        if (smtp.connectTo(server) == 1) {
            log("Sending email...");
            const int result = smtp.sendMessage(message);
            smtp.disconnect();
            log("Done - " + formatTimeText());
            outcome = result == 0 ? MailerRunOutcome::Accepted : MailerRunOutcome::Refused;
        } else {
            log("Connection failed.");
        }
    }

    if (testRun) {
        // The test settings go after every attempt, whether the mail went out or not.
        std::remove(joinPath(dataFolder, kTestMailSettingsFile).c_str());
    } else {
        // Only what went out is deleted; the rest waits in the MessageLog for the next run.
        const std::size_t kept =
            settleMessageBatch(dataFolder, batch, outcome == MailerRunOutcome::Accepted);
        if (kept > 0)
            log(std::to_string(kept) + (kept == 1 ? " notification" : " notifications") +
                " kept for the next run.");
    }
    return outcome;
}

} // namespace sentorix
