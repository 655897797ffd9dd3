#include "monitor/dialogs/MailDialog.h"

#include "monitor/dialogs/DialogParts.h"

#include "common/FixedText.h"
#include "monitor/check/CheckEngine.h"
#include "monitor/dialogs/ModalDialogs.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <string_view>

namespace sentorix::ui
{

namespace
{

QByteArray takenBytes(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return bytes.left(static_cast<qsizetype>(utf8PrefixLength(view, kMailTextMaxChars)));
}

template <std::size_t N> QString fieldString(const char (&field)[N])
{
    const std::string_view text = fieldText(field);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLineEdit* mailBox(const QString& text, const QString& name, QWidget* parent)
{
    auto* box = new QLineEdit(text, parent);
    box->setMaxLength(kMailBoxMaxLength);
    box->setAccessibleName(name);
    return box;
}

void copyField(char (&field)[80], const QByteArray& bytes)
{
    setFieldText(field, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                 kMailTextMaxChars);
}

bool holdsControlCharacter(const QString& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

void information(QWidget* parent, const char* text)
{
    MessageBox::show(parent, QString::fromUtf8(text), QMessageBox::Information);
}

} // namespace

void takeBoxText(char (&field)[80], const QString& text)
{
    copyField(field, takenBytes(text));
}

// --- the user name/password dialog -----------------------------------------------------------

CredentialsDialog::CredentialsDialog(const QString& userName, const QString& password,
                                     QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Username/Password"));
    setAccessibleName(windowTitle());
    m_userName = mailBox(userName, QStringLiteral("User Name"), this);
    m_password = mailBox(password, QStringLiteral("Password"), this);
    m_password->setEchoMode(QLineEdit::Password);
    auto* userLabel = new QLabel(QStringLiteral("User Name:"), this);
    userLabel->setBuddy(m_userName);
    auto* passwordLabel = new QLabel(QStringLiteral("Password:"), this);
    passwordLabel->setBuddy(m_password);

    m_apply = new QPushButton(QStringLiteral("Apply"), this);
    m_apply->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setAutoDefault(false);

    auto* form = new QFormLayout;
    form->addRow(userLabel, m_userName);
    form->addRow(passwordLabel, m_password);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_apply);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    setMinimumWidth(320);

    connect(m_apply, &QPushButton::clicked, this, [this] { apply(); });
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QByteArray CredentialsDialog::userName() const
{
    return takenBytes(m_userName->text());
}

QByteArray CredentialsDialog::password() const
{
    return takenBytes(m_password->text());
}

void CredentialsDialog::apply()
{
    if (m_userName->text().isEmpty() || m_password->text().isEmpty()) {
        information(this, kEnterLoginText);
        return;
    }
    accept();
}

// --- the e-mail dialog -----------------------------------------------------------------------

MailDialog::MailDialog(const MailSettings& settings, TestMailSender sendTest, QWidget* parent)
    : QDialog(parent), m_edited(settings), m_sendTest(std::move(sendTest))
{
    terminateMailTexts(m_edited);
    setWindowTitle(QStringLiteral("Email Properties"));
    setAccessibleName(windowTitle());

    // --- SMTP Server ---
    auto* smtp = new QGroupBox(QStringLiteral("SMTP Server"), this);
    m_server =
        mailBox(fieldString(m_edited.smtpServer), QStringLiteral("SMTP server address"), smtp);
    m_server->setPlaceholderText(QStringLiteral("mail.example.com"));
    m_server->setToolTip(QStringLiteral(
        "The SMTP server: a host name or address (mail.example.com), optionally with a port "
        "(mail.example.com:587), or smtps://host[:port] for a server that uses TLS from the "
        "start (port 465 unless given). Otherwise the connection is encrypted with STARTTLS "
        "whenever the server offers it."));
    auto* serverLabel = new QLabel(QStringLiteral("Address:"), smtp);
    serverLabel->setBuddy(m_server);
    m_requiresAuth = fieldCheckBox("Requires Authentication", m_edited.requiresAuth, smtp);
    m_login = new QPushButton(QStringLiteral("Set User Name/Password"), smtp);
    m_login->setAccessibleName(m_login->text());
    m_login->setAutoDefault(false);
    auto* smtpLayout = new QGridLayout(smtp);
    smtpLayout->addWidget(serverLabel, 0, 0);
    smtpLayout->addWidget(m_server, 0, 1, 1, 2);
    smtpLayout->addWidget(m_requiresAuth, 1, 1);
    smtpLayout->addWidget(m_login, 1, 2);

    // --- Recipient Email Address ---
    auto* recipients = new QGroupBox(QStringLiteral("Recipient Email Address"), this);
    m_to = mailBox(fieldString(m_edited.toAddress), QStringLiteral("TO recipient"), recipients);
    m_cc = mailBox(fieldString(m_edited.ccAddress), QStringLiteral("CC recipient"), recipients);
    m_bcc = mailBox(fieldString(m_edited.bccAddress), QStringLiteral("BCC recipient"), recipients);
    auto* recipientForm = new QFormLayout;
    const std::pair<const char*, QLineEdit*> rows[] = {
        {"TO:", m_to}, {"CC:", m_cc}, {"BCC:", m_bcc}};
    for (const auto& [text, box] : rows) {
        auto* label = new QLabel(QString::fromUtf8(text), recipients);
        label->setBuddy(box);
        recipientForm->addRow(label, box);
    }
    m_test = new QPushButton(QStringLiteral("Send Test Email"), recipients);
    m_test->setAccessibleName(m_test->text());
    m_test->setAutoDefault(false);
    auto* testRow = new QHBoxLayout;
    testRow->addStretch();
    testRow->addWidget(m_test);
    auto* recipientLayout = new QVBoxLayout(recipients);
    recipientLayout->addLayout(recipientForm);
    recipientLayout->addLayout(testRow);

    // --- Send When ---
    auto* when = new QGroupBox(QStringLiteral("Send When"), this);
    m_sendOnChange = fieldCheckBox("Document changed", m_edited.sendOnChange, when);
    m_sendOnUnavailable =
        fieldCheckBox("Unable to Retrieve (i.e. Server Down)", m_edited.sendOnUnavailable, when);
    auto* whenLayout = new QVBoxLayout(when);
    whenLayout->addWidget(m_sendOnChange);
    whenLayout->addWidget(m_sendOnUnavailable);

    // --- Misc. ---
    auto* misc = new QGroupBox(QStringLiteral("Misc."), this);
    m_markNotifiedChecked =
        fieldCheckBox("Mark as Checked for Notified Documents", m_edited.markNotifiedChecked, misc);
    auto* miscLayout = new QVBoxLayout(misc);
    miscLayout->addWidget(m_markNotifiedChecked);

    auto* buttons = applyCancelRow(this, m_apply, m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(smtp);
    layout->addWidget(recipients);
    layout->addWidget(when);
    layout->addWidget(misc);
    layout->addLayout(buttons);
    setMinimumWidth(420);

    connect(m_login, &QPushButton::clicked, this, [this] { runCredentialsDialog(); });
    connect(m_test, &QPushButton::clicked, this, [this] { sendTestMail(); });
    connect(m_apply, &QPushButton::clicked, this, [this] { apply(); });
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

int MailDialog::runCredentialsDialog()
{
    // A login entered since this dialog opened is shown again rather than the stored one, so
    // that what the boxes show is what Apply will store.
    const QString userName = m_credentialsEntered ? QString::fromUtf8(m_pendingUserName)
                                                  : fieldString(m_edited.authUserName);
    const QString password = m_credentialsEntered ? QString::fromUtf8(m_pendingPassword)
                                                  : fieldString(m_edited.authPassword);
    CredentialsDialog dialog(userName, password, this);
    if (DialogRunner::exec(dialog) != QDialog::Accepted)
        return 0;
    m_pendingUserName = dialog.userName();
    m_pendingPassword = dialog.password();
    m_credentialsEntered = true;
    return 1;
}

bool MailDialog::takeServerAndRecipients()
{
    if (m_server->text().isEmpty()) {
        information(this, kEnterServerText);
        return false;
    }
    if (holdsControlCharacter(m_server->text()) || holdsControlCharacter(m_to->text()) ||
        holdsControlCharacter(m_cc->text()) || holdsControlCharacter(m_bcc->text())) {
        information(this, kControlCharacterText);
        return false;
    }
    takeBoxText(m_edited.smtpServer, m_server->text());
    m_edited.requiresAuth = m_requiresAuth->isChecked() ? 1 : 0;
    if (m_credentialsEntered) {
        copyField(m_edited.authUserName, m_pendingUserName);
        copyField(m_edited.authPassword, m_pendingPassword);
    }
    if (m_to->text().isEmpty()) {
        information(this, kEnterToText);
        return false;
    }
    takeBoxText(m_edited.toAddress, m_to->text());
    takeBoxText(m_edited.ccAddress, m_cc->text());
    takeBoxText(m_edited.bccAddress, m_bcc->text());
    return true;
}

void MailDialog::apply()
{
    if (!m_sendOnChange->isChecked() && !m_sendOnUnavailable->isChecked()) {
        information(this, kSelectSendWhenText);
        return;
    }
    if (!takeServerAndRecipients())
        return;
    m_edited.sendOnUnavailable = m_sendOnUnavailable->isChecked() ? 1 : 0;
    m_edited.sendOnChange = m_sendOnChange->isChecked() ? 1 : 0;
    m_edited.markNotifiedChecked = m_markNotifiedChecked->isChecked() ? 1 : 0;
    accept();
}

void MailDialog::sendTestMail()
{
    if (!takeServerAndRecipients())
        return;
    if (m_sendTest && !m_sendTest(m_edited))
        MessageBox::show(this, QString::fromUtf8(kMailerMissingText), QMessageBox::Critical);
}

} // namespace sentorix::ui
