// The e-mail settings dialog ("Email Properties") and its user name/password dialog. The
// dialog edits a copy of the settings; a login typed in the user name/password dialog waits
// beside the copy and is moved into it only by Apply or "Send Test Email", so a login entered
// and then cancelled with the e-mail dialog is dropped.
#pragma once

#include "common/MailHandoff.h"

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace sentorix::ui
{

inline constexpr const char* kSelectSendWhenText =
    "Please select an option at [Send when] section to apply.";
inline constexpr const char* kEnterServerText = "Please enter the SMTP server address.";
inline constexpr const char* kEnterToText = "Please enter 'TO:' recipient email address.";
inline constexpr const char* kEnterLoginText = "Please enter the username / password.";
// The server and the addresses go into the mailer's SMTP commands and message headers, where a
// line break would end one command or header and start another.
inline constexpr const char* kControlCharacterText =
    "The SMTP server and email addresses must not contain line breaks or other control "
    "characters.";

// The edit boxes take 79 characters; at most 78 bytes of each reach the settings, cut before
// a UTF-8 character that would not fit whole.
inline constexpr int kMailBoxMaxLength = 79;

// Stores the text of a box in a settings field.
void takeBoxText(char (&field)[80], const QString& text);

class CredentialsDialog : public QDialog
{
    Q_OBJECT

public:
    CredentialsDialog(const QString& userName, const QString& password, QWidget* parent = nullptr);

    // The texts as Apply takes them: at most 78 bytes each.
    QByteArray userName() const;
    QByteArray password() const;

    QLineEdit* userNameBox() const { return m_userName; }
    QLineEdit* passwordBox() const { return m_password; }
    QPushButton* applyButton() const { return m_apply; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    void apply();

    QLineEdit* m_userName = nullptr;
    QLineEdit* m_password = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_cancel = nullptr;
};

class MailDialog : public QDialog
{
    Q_OBJECT

public:
    // Starts the mailer for one test mail with the settings being edited; false when it could
    // not be started.
    using TestMailSender = std::function<bool(const MailSettings&)>;

    MailDialog(const MailSettings& settings, TestMailSender sendTest, QWidget* parent = nullptr);

    // The edited copy: what Apply leaves in it is what the caller saves.
    const MailSettings& edited() const { return m_edited; }
    bool credentialsEntered() const { return m_credentialsEntered; }

    // "Set User Name/Password": the user name/password dialog over this one; 1 applied, 0
    // cancelled.
    int runCredentialsDialog();
    // "Send Test Email"; the dialog stays open.
    void sendTestMail();

    QLineEdit* serverBox() const { return m_server; }
    QCheckBox* requiresAuthBox() const { return m_requiresAuth; }
    QPushButton* loginButton() const { return m_login; }
    QLineEdit* toBox() const { return m_to; }
    QLineEdit* ccBox() const { return m_cc; }
    QLineEdit* bccBox() const { return m_bcc; }
    QPushButton* testButton() const { return m_test; }
    QCheckBox* sendOnChangeBox() const { return m_sendOnChange; }
    QCheckBox* sendOnUnavailableBox() const { return m_sendOnUnavailable; }
    QCheckBox* markNotifiedCheckedBox() const { return m_markNotifiedChecked; }
    QPushButton* applyButton() const { return m_apply; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    void apply();
    // The server and the recipients into the edited copy (shared by Apply and the test);
    // false after showing the message for a missing server or TO address.
    bool takeServerAndRecipients();

    MailSettings m_edited;
    TestMailSender m_sendTest;
    QByteArray m_pendingUserName;
    QByteArray m_pendingPassword;
    bool m_credentialsEntered = false;

    QLineEdit* m_server = nullptr;
    QCheckBox* m_requiresAuth = nullptr;
    QPushButton* m_login = nullptr;
    QLineEdit* m_to = nullptr;
    QLineEdit* m_cc = nullptr;
    QLineEdit* m_bcc = nullptr;
    QPushButton* m_test = nullptr;
    QCheckBox* m_sendOnChange = nullptr;
    QCheckBox* m_sendOnUnavailable = nullptr;
    QCheckBox* m_markNotifiedChecked = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace sentorix::ui
