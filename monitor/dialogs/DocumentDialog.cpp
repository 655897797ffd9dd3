#include "monitor/dialogs/DocumentDialog.h"

#include "common/FixedText.h"
#include "monitor/check/FtpConnectionTest.h"
#include "monitor/check/WebAddress.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/dialogs/DesktopOpen.h"
#include "monitor/dialogs/ModalDialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QThreadPool>
#include <QVBoxLayout>

#include <mutex>

namespace sentorix::ui
{

namespace
{

// The boxes of 512-byte fields take 511 bytes, those of the 511-byte method boxes 510.
constexpr int kBoxBytes = 511;
constexpr int kMethodBoxBytes = 510;

std::string toStd(const QString& text)
{
    return text.toUtf8().toStdString();
}

template <std::size_t N> QString fromField(const char (&field)[N])
{
    const std::string_view text = fieldText(field);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void setId(QWidget* widget, int id, const char* name)
{
    widget->setProperty("controlId", id);
    widget->setObjectName(QString::fromLatin1(name));
}

} // namespace

QString cutToUtf8Bytes(const QString& text, int maxBytes)
{
    qsizetype bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const char32_t c =
            text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()
                ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1))
                : text.at(i).unicode();
        const int width = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (bytes + width > maxBytes)
            break;
        bytes += width;
        i += c >= 0x10000 ? 2 : 1;
    }
    return i == text.size() ? text : text.left(i);
}

void limitUtf8Bytes(QLineEdit* box, int maxBytes)
{
    // The character limit of the box is a first bound (a character takes at least one byte);
    // the byte count is kept after every change.
    box->setMaxLength(maxBytes);
    QObject::connect(box, &QLineEdit::textChanged, box, [box, maxBytes](const QString& text) {
        const QString cut = cutToUtf8Bytes(text, maxBytes);
        if (cut.size() != text.size()) {
            const int cursor =
                static_cast<int>(std::min<qsizetype>(box->cursorPosition(), cut.size()));
            box->setText(cut);
            box->setCursorPosition(cursor);
        }
    });
}

QString kindExample(DocumentKind kind)
{
    switch (kind) {
    case DocumentKind::WebPage:
        return QStringLiteral("\n e.g.  Main page of the Tarnwick Lab web site\n\n"
                              " http://www.tarnwick.example/");
    case DocumentKind::WebFile:
        return QStringLiteral("\n e.g.  Sentorix program file\n\n"
                              " http://www.tarnwick.example/download/sentorix.zip");
    case DocumentKind::FtpFile:
        return QStringLiteral("\n e.g.  Project-related file on the FTP server\n\n"
                              " ftp.tarnwick.example/pub/project.zip");
    case DocumentKind::LocalFile:
        return QStringLiteral("\n e.g.  System log file of your PC\n\n C:\\Logfiles\\System.log");
    }
    return {};
}

// The state one FTP test shares with its thread. The thread posts its texts to the dialog
// only while `dialog` is set; the dialog clears it (under the lock) before it goes away, so a
// post never reaches a dialog that no longer exists.
struct DocumentDialog::FtpRun {
    std::atomic<bool> cancel{false};
    std::mutex mutex;
    DocumentDialog* dialog = nullptr;

    void post(const std::shared_ptr<FtpRun>& self, std::function<void(DocumentDialog&)> step)
    {
        std::lock_guard lock(mutex);
        if (!dialog)
            return;
        DocumentDialog* target = dialog;
        QMetaObject::invokeMethod(
            target,
            [target, self, step = std::move(step)] {
                if (target->m_ftpRun == self)
                    step(*target);
            },
            Qt::QueuedConnection);
    }
};

DocumentDialog::DocumentDialog(DocumentDialogMode mode, int sourceIndex,
                               DocumentDialogContext context, QWidget* parent)
    : QDialog(parent), m_mode(mode), m_sourceIndex(sourceIndex), m_context(std::move(context))
{
    build();
    switch (m_mode) {
    case DocumentDialogMode::Add:
        setWindowTitle(QStringLiteral("Add Document"));
        break;
    case DocumentDialogMode::Properties:
        setWindowTitle(QStringLiteral("Document Properties"));
        break;
    case DocumentDialogMode::Copy:
        setWindowTitle(QStringLiteral("Copy Document"));
        break;
    }

    if (m_mode == DocumentDialogMode::Add || !m_context.table ||
        !m_context.table->isUsed(m_sourceIndex)) {
        m_kinds[0]->setChecked(true);
        m_simple->setChecked(true);
        presentKind(DocumentKind::WebPage, true);
    } else {
        fillFromRecord(m_context.table->get(m_sourceIndex));
    }
}

DocumentDialog::~DocumentDialog()
{
    endFtpTest();
}

QWidget* DocumentDialog::control(int id) const
{
    for (QWidget* widget : findChildren<QWidget*>()) {
        if (widget->property("controlId").toInt() == id)
            return widget;
    }
    return nullptr;
}

void DocumentDialog::build()
{
    auto* info = new QGroupBox(QStringLiteral("Document Information"), this);
    auto* kindRow = new QHBoxLayout;
    const char* kindTexts[4] = {"Web Page", "Web File", "FTP File", "Local File"};
    const char* kindNames[4] = {"webPage", "webFile", "ftpFile", "localFile"};
    auto* kindGroup = new QButtonGroup(this);
    for (int i = 0; i < 4; ++i) {
        m_kinds[i] = new QRadioButton(QString::fromLatin1(kindTexts[i]), info);
        setId(m_kinds[i], IdWebPage + i, kindNames[i]);
        kindGroup->addButton(m_kinds[i], i);
        kindRow->addWidget(m_kinds[i]);
        connect(m_kinds[i], &QRadioButton::clicked, this,
                [this, i] { presentKind(static_cast<DocumentKind>(i), true); });
    }
    kindRow->addStretch();

    m_displayName = new QLineEdit(info);
    setId(m_displayName, IdDisplayName, "displayName");
    limitUtf8Bytes(m_displayName, kBoxBytes);
    m_location = new QLineEdit(info);
    setId(m_location, IdLocation, "location");
    limitUtf8Bytes(m_location, kBoxBytes);
    m_locationLabel = new QLabel(QStringLiteral("URL:"), info);
    setId(m_locationLabel, IdLocationLabel, "locationLabel");
    m_locationButton = new QPushButton(QStringLiteral("Open..."), info);
    setId(m_locationButton, IdLocationButton, "locationButton");
    m_locationButton->setAutoDefault(false);
    connect(m_locationButton, &QPushButton::clicked, this, &DocumentDialog::locationButtonClicked);

    m_information = new QLabel(info);
    setId(m_information, IdInformation, "information");
    m_information->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_information->setMinimumHeight(m_information->fontMetrics().lineSpacing() * 4 + 8);
    m_information->setFrameShape(QFrame::StyledPanel);
    m_information->setTextFormat(Qt::PlainText);
    m_information->setWordWrap(true);

    m_account = new QCheckBox(QStringLiteral("Account"), info);
    setId(m_account, IdAccount, "account");
    connect(m_account, &QCheckBox::toggled, this, [this] { updateAccountControls(); });
    m_userNameLabel = new QLabel(QStringLiteral("Username:"), info);
    setId(m_userNameLabel, IdUserNameLabel, "userNameLabel");
    m_userName = new QLineEdit(info);
    setId(m_userName, IdUserName, "userName");
    limitUtf8Bytes(m_userName, kBoxBytes);
    m_passwordLabel = new QLabel(QStringLiteral("Password:"), info);
    setId(m_passwordLabel, IdPasswordLabel, "passwordLabel");
    m_password = new QLineEdit(info);
    setId(m_password, IdPassword, "password");
    m_password->setEchoMode(QLineEdit::Password);
    limitUtf8Bytes(m_password, kBoxBytes);

    auto* infoGrid = new QGridLayout(info);
    infoGrid->addLayout(kindRow, 0, 0, 1, 3);
    infoGrid->addWidget(new QLabel(QStringLiteral("Display Name:"), info), 1, 0);
    infoGrid->addWidget(m_displayName, 1, 1, 1, 2);
    infoGrid->addWidget(m_locationLabel, 2, 0);
    infoGrid->addWidget(m_location, 2, 1);
    infoGrid->addWidget(m_locationButton, 2, 2);
    infoGrid->addWidget(m_information, 3, 0, 1, 3);
    infoGrid->addWidget(m_account, 4, 0, 1, 3);
    infoGrid->addWidget(m_userNameLabel, 5, 0);
    infoGrid->addWidget(m_userName, 5, 1, 1, 2);
    infoGrid->addWidget(m_passwordLabel, 6, 0);
    infoGrid->addWidget(m_password, 6, 1, 1, 2);
    infoGrid->setColumnStretch(1, 1);

    auto* method = new QGroupBox(QStringLiteral("Checking Method"), this);
    m_simple = new QRadioButton(QStringLiteral("Simple Comparison"), method);
    setId(m_simple, IdSimple, "methodSimple");
    m_count = new QRadioButton(QStringLiteral("Count for a Specific String:"), method);
    setId(m_count, IdCount, "methodCount");
    m_countString = new QLineEdit(method);
    setId(m_countString, IdCountString, "countString");
    limitUtf8Bytes(m_countString, kMethodBoxBytes);
    m_middle = new QRadioButton(QStringLiteral("Middle String Comparison between "), method);
    setId(m_middle, IdMiddle, "methodMiddle");
    m_middleStart = new QLineEdit(method);
    setId(m_middleStart, IdMiddleStart, "middleStart");
    limitUtf8Bytes(m_middleStart, kMethodBoxBytes);
    m_middleAnd = new QLabel(QStringLiteral("and"), method);
    setId(m_middleAnd, IdMiddleAnd, "middleAnd");
    m_middleEnd = new QLineEdit(method);
    setId(m_middleEnd, IdMiddleEnd, "middleEnd");
    limitUtf8Bytes(m_middleEnd, kMethodBoxBytes);
    auto* methodGroup = new QButtonGroup(this);
    methodGroup->addButton(m_simple);
    methodGroup->addButton(m_count);
    methodGroup->addButton(m_middle);
    for (QRadioButton* button : {m_simple, m_count, m_middle})
        connect(button, &QRadioButton::toggled, this, [this] { updateMethodControls(); });

    auto* methodGrid = new QGridLayout(method);
    methodGrid->addWidget(m_simple, 0, 0, 1, 4);
    methodGrid->addWidget(m_count, 1, 0);
    methodGrid->addWidget(m_countString, 1, 1, 1, 3);
    methodGrid->addWidget(m_middle, 2, 0);
    methodGrid->addWidget(m_middleStart, 2, 1);
    methodGrid->addWidget(m_middleAnd, 2, 2);
    methodGrid->addWidget(m_middleEnd, 2, 3);
    methodGrid->setColumnStretch(1, 1);
    methodGrid->setColumnStretch(3, 1);

    auto* apply = new QPushButton(QStringLiteral("Apply"), this);
    setId(apply, 1, "apply");
    apply->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    setId(cancel, 2, "cancel");
    cancel->setAutoDefault(false);
    connect(apply, &QPushButton::clicked, this, &DocumentDialog::apply);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(apply);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(info);
    layout->addWidget(method);
    layout->addLayout(buttons);
    resize(560, sizeHint().height());
}

void DocumentDialog::fillFromRecord(const DocumentRecord& record)
{
    m_displayName->setText(fromField(record.displayName));
    m_location->setText(fromField(record.location));
    int kind = record.kind;
    if (kind < 0 || kind > 3)
        kind = 0;
    m_kinds[kind]->setChecked(true);
    const auto documentKind = static_cast<DocumentKind>(kind);
    m_simple->setChecked(true);
    if (documentKind == DocumentKind::WebPage) {
        if (record.middleMode == 1) {
            m_middle->setChecked(true);
            m_middleStart->setText(fromField(record.middleStart));
            m_middleEnd->setText(fromField(record.middleEnd));
        } else if (record.countMode == 1) {
            m_count->setChecked(true);
            m_countString->setText(fromField(record.countString));
        }
    }
    if (record.useAccount == 1) {
        m_account->setChecked(true);
        m_userName->setText(fromField(record.userName));
        m_password->setText(fromField(record.password));
    }
    // The example stays away until the user chooses a kind.
    presentKind(documentKind, false);
    if (documentKind == DocumentKind::LocalFile)
        m_locationButton->setText(QStringLiteral("&Browse.."));
}

DocumentKind DocumentDialog::chosenKind() const
{
    for (int i = 0; i < 4; ++i) {
        if (m_kinds[i]->isChecked())
            return static_cast<DocumentKind>(i);
    }
    return DocumentKind::WebPage;
}

MethodChoice DocumentDialog::chosenMethod() const
{
    if (m_count->isChecked())
        return MethodChoice::Count;
    if (m_middle->isChecked())
        return MethodChoice::Middle;
    return MethodChoice::Simple;
}

void DocumentDialog::presentKind(DocumentKind kind, bool showExample)
{
    switch (kind) {
    case DocumentKind::WebPage:
    case DocumentKind::WebFile:
        m_locationButton->setText(QStringLiteral("&Open..."));
        m_locationLabel->setText(QStringLiteral("URL:"));
        break;
    case DocumentKind::FtpFile:
        m_locationButton->setText(QStringLiteral("&Connect..."));
        m_locationLabel->setText(QStringLiteral("URL:"));
        break;
    case DocumentKind::LocalFile:
        m_locationButton->setText(QStringLiteral("&Browse..."));
        m_locationLabel->setText(QStringLiteral("Local Path:"));
        break;
    }
    if (showExample)
        m_information->setText(kindExample(kind));
    const bool webPage = kind == DocumentKind::WebPage;
    m_simple->setEnabled(webPage);
    m_count->setEnabled(webPage);
    m_middle->setEnabled(webPage);
    m_account->setEnabled(kind != DocumentKind::LocalFile);
    updateMethodControls();
    updateAccountControls();
}

void DocumentDialog::updateMethodControls()
{
    const bool webPage = chosenKind() == DocumentKind::WebPage;
    m_countString->setEnabled(webPage && m_count->isChecked());
    const bool middle = webPage && m_middle->isChecked();
    m_middleStart->setEnabled(middle);
    m_middleAnd->setEnabled(middle);
    m_middleEnd->setEnabled(middle);
}

void DocumentDialog::updateAccountControls()
{
    const bool on = m_account->isEnabled() && m_account->isChecked();
    for (QWidget* widget :
         std::initializer_list<QWidget*>{m_userNameLabel, m_userName, m_passwordLabel, m_password})
        widget->setEnabled(on);
}

void DocumentDialog::apply()
{
    DocumentInput input;
    input.kind = chosenKind();
    input.displayName = toStd(m_displayName->text());
    input.location = toStd(m_location->text());
    input.account = m_account->isChecked();
    input.userName = toStd(m_userName->text());
    input.password = toStd(m_password->text());
    input.method = chosenMethod();
    input.countString = toStd(m_countString->text());
    input.middleStart = toStd(m_middleStart->text());
    input.middleEnd = toStd(m_middleEnd->text());

    static const DocumentTable emptyTable(0);
    const DocumentTable& table = m_context.table ? *m_context.table : emptyTable;
    StagedRecordResult result =
        buildStagedRecord(input, table, m_mode, m_sourceIndex, m_context.dataFolder);
    if (!result.ok) {
        MessageBox::show(this, QString::fromStdString(result.message), QMessageBox::Information);
        return;
    }
    m_staged = result.record;
    accept();
}

void DocumentDialog::locationButtonClicked()
{
    if (m_account->isChecked()) {
        if (m_userName->text().isEmpty()) {
            MessageBox::show(this, QStringLiteral("Please enter the username."),
                             QMessageBox::Information);
            return;
        }
        if (m_password->text().isEmpty()) {
            MessageBox::show(this, QStringLiteral("Please enter the password."),
                             QMessageBox::Information);
            return;
        }
    }
    switch (chosenKind()) {
    case DocumentKind::WebPage:
    case DocumentKind::WebFile:
        if (m_location->text().isEmpty()) {
            MessageBox::show(this,
                             QStringLiteral("Please enter the URL or server address of the "
                                            "document."),
                             QMessageBox::Information);
            return;
        }
        // The login stays out of the address; the browser asks for it.
        DesktopOpen::openWebAddress(
            QString::fromStdString(normalizeWebAddress(toStd(m_location->text()))));
        return;
    case DocumentKind::FtpFile:
        startFtpTest();
        return;
    case DocumentKind::LocalFile: {
        const QString path =
            FileDialog::getOpenFileName(this, QStringLiteral("Choose File.."), QDir::homePath(),
                                        QStringLiteral("All Files (*)"));
        if (!path.isEmpty())
            m_location->setText(path);
        return;
    }
    }
}

void DocumentDialog::startFtpTest()
{
    if (m_ftpRun)
        return;
    m_locationButton->setEnabled(false);
    if (m_location->text().isEmpty()) {
        MessageBox::show(this,
                         QStringLiteral("Please enter the URL or server address of the document."),
                         QMessageBox::Information);
        m_locationButton->setEnabled(true);
        return;
    }
    const std::optional<FtpTarget> target = splitFtpLocation(toStd(m_location->text()));
    if (!target) {
        MessageBox::show(this, QStringLiteral("Invalid FTP address. Please check again."),
                         QMessageBox::Information);
        m_locationButton->setEnabled(true);
        return;
    }
    Credentials credentials;
    if (m_account->isChecked()) {
        credentials.useAccount = true;
        credentials.userName = toStd(m_userName->text());
        credentials.password = toStd(m_password->text());
    }

    m_ftpTexts.clear();
    auto run = std::make_shared<FtpRun>();
    run->dialog = this;
    m_ftpRun = run;
    QThreadPool::globalInstance()->start([run, target = *target, credentials,
                                          folder = m_context.dataFolder,
                                          settings = m_context.sessionSettings] {
        runFtpConnectionTest(
            target, credentials, folder, settings,
            [&run](const std::string& text) {
                run->post(run, [text = QString::fromStdString(text)](DocumentDialog& d) {
                    d.showFtpText(text);
                });
            },
            &run->cancel);
        run->post(run, [](DocumentDialog& d) { d.ftpTestEnded(); });
    });
}

void DocumentDialog::showFtpText(const QString& text)
{
    m_ftpTexts.push_back(text);
    m_information->setText(text);
}

void DocumentDialog::ftpTestEnded()
{
    endFtpTest();
    m_locationButton->setEnabled(true);
}

void DocumentDialog::endFtpTest()
{
    if (!m_ftpRun)
        return;
    {
        std::lock_guard lock(m_ftpRun->mutex);
        m_ftpRun->dialog = nullptr;
    }
    m_ftpRun->cancel = true;
    m_ftpRun.reset();
}

void DocumentDialog::done(int result)
{
    endFtpTest();
    QDialog::done(result);
}

int runDocumentDialog(QWidget* parent, DocumentDialogMode mode, int sourceIndex,
                      const DocumentDialogContext& context, DocumentRecord& staged)
{
    DocumentDialog dialog(mode, sourceIndex, context, parent);
    if (DialogRunner::exec(dialog) != QDialog::Accepted)
        return 0;
    staged = dialog.stagedRecord();
    return 1;
}

} // namespace sentorix::ui
