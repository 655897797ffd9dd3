// The mailer's one run: read the settings, build the notification message, send it in one
// SMTP session and delete the consumed file. Free of any toolkit: the log lines go to a
// callback, so the same run serves the log window and headless use.
#pragma once

#include "common/MailHandoff.h"
#include "mailer/smtp/MailMessage.h"

#include <string>
#include <string_view>

namespace sentorix
{

inline constexpr const char* kNotificationSubject = "Sentorix Email Notification";
inline constexpr const char* kNotificationSenderName = "Sentorix";
// Narrow text on this platform is UTF-8, so the body part names it as its character set.
inline constexpr const char* kNotificationCharset = "utf-8";

// Log lines are formatted into 1024 bytes: at most 1023 bytes of text.
inline constexpr std::size_t kLogLineMaxBytes = 1023;

enum class MailerRunOutcome {
    SettingsUnreadable, // nothing sent, nothing deleted
    ConnectionFailed,   // "Connection failed."; the notifications are kept
    Refused,            // connected, but the message was not accepted; notifications kept
    Accepted,           // the server accepted the message; what it carried is deleted
};

// Whether the log window closes by itself once the run returned. A normal run closes it once
// the settings were read; a test run, or a run that could not read them, leaves the log for
// the user to read. Without a display nobody could read or close it, so it always closes.
bool closesAfterRun(bool headless, bool testRun, MailerRunOutcome outcome);

// `prefix` followed by `text`, cut to kLogLineMaxBytes without splitting a UTF-8 sequence.
std::string formatLogLine(std::string_view prefix, std::string_view text);

// The notification message for these settings and body text: subject, sender "Sentorix" at
// the TO address, the TO address as main recipient, the CC address as a further "To"
// recipient, the BCC address as a blind one, and one text/plain part.
MailMessage buildNotificationMessage(const MailSettings& settings, std::string body);

// The whole run in `dataFolder`. A normal run claims the MessageLog, together with claimed
// files left by earlier runs that died before settling them, and mails as many whole entries
// as fit into one message (or the fixed text when there is none). Only the entries that went
// out are deleted: after a failed send every entry, and after a sent one those that did not
// fit, go back to the MessageLog for the next run, which the log says in one line. Entries
// appended meanwhile stay for the next run too. A test run mails the fixed test text and
// deletes "Sentorix.mail.tmp".
MailerRunOutcome sendNotification(const std::string& dataFolder, bool testRun, const LogLine& log);

} // namespace sentorix
