// The document properties dialog: creates a document (Add), starts one from an existing one
// (Copy) or edits one (Properties). On Apply it checks what was typed in a fixed order and
// builds the staged record, a complete record with the status Waiting, which the calling
// command stores; the dialog itself never writes the table or a file of a record.
//
// The button beside the address opens a web address in the browser, tests an FTP address by
// downloading the file once, or browses for a local file. The FTP test runs on a thread of its
// own and reports its steps in the information area while the dialog stays usable; closing the
// dialog ends it.
#pragma once

#include "monitor/data/DocumentRecord.h"
#include "monitor/data/DocumentValidation.h"
#include "platform/UrlSession.h"

#include <QDialog>
#include <QStringList>

#include <memory>
#include <string>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace sentorix
{
class DocumentTable;
}

namespace sentorix::ui
{

// What the dialog works with besides the record: the table (read for the duplicate-name
// test), the DataFolder (for the name test and the FTP test's TempFile) and the FTP bounds.
struct DocumentDialogContext {
    const DocumentTable* table = nullptr;
    std::string dataFolder;
    SessionSettings sessionSettings;
};

// Keeps at most `maxBytes` bytes of UTF-8 in a box: a longer text (typed or pasted) is cut
// at the last whole character that fits.
void limitUtf8Bytes(QLineEdit* box, int maxBytes);
QString cutToUtf8Bytes(const QString& text, int maxBytes);

class DocumentDialog : public QDialog
{
    Q_OBJECT

public:
    DocumentDialog(DocumentDialogMode mode, int sourceIndex, DocumentDialogContext context,
                   QWidget* parent = nullptr);
    ~DocumentDialog() override;

    // Meaningful only after the dialog was applied.
    const DocumentRecord& stagedRecord() const { return m_staged; }

    // The texts the FTP test has shown in the information area, in order.
    const QStringList& ftpTestTexts() const { return m_ftpTexts; }
    bool ftpTestRunning() const { return m_ftpRun != nullptr; }

    void done(int result) override;

    // Control ids of the dialog, kept as the "controlId" property of each control.
    enum ControlId {
        IdWebPage = 1003,
        IdWebFile = 1004,
        IdFtpFile = 1005,
        IdLocalFile = 1006,
        IdDisplayName = 1007,
        IdLocation = 1008,
        IdLocationButton = 1009,
        IdAccount = 1011,
        IdUserName = 1012,
        IdPassword = 1013,
        IdInformation = 1014,
        IdLocationLabel = 1015,
        IdCountString = 1025,
        IdMiddleStart = 1026,
        IdSimple = 1027,
        IdCount = 1028,
        IdMiddle = 1029,
        IdMiddleEnd = 1030,
        IdMiddleAnd = 1084,
        IdUserNameLabel = 1090,
        IdPasswordLabel = 1091,
    };
    QWidget* control(int id) const;

private:
    struct FtpRun;

    void build();
    void fillFromRecord(const DocumentRecord& record);
    DocumentKind chosenKind() const;
    MethodChoice chosenMethod() const;
    void presentKind(DocumentKind kind, bool showExample);
    void updateMethodControls();
    void updateAccountControls();
    void apply();
    void locationButtonClicked();
    void startFtpTest();
    void showFtpText(const QString& text);
    void ftpTestEnded();
    void endFtpTest();

    DocumentDialogMode m_mode;
    int m_sourceIndex;
    DocumentDialogContext m_context;
    DocumentRecord m_staged{};

    QRadioButton* m_kinds[4] = {};
    QLineEdit* m_displayName = nullptr;
    QLineEdit* m_location = nullptr;
    QLabel* m_locationLabel = nullptr;
    QPushButton* m_locationButton = nullptr;
    QLabel* m_information = nullptr;
    QCheckBox* m_account = nullptr;
    QLabel* m_userNameLabel = nullptr;
    QLineEdit* m_userName = nullptr;
    QLabel* m_passwordLabel = nullptr;
    QLineEdit* m_password = nullptr;
    QRadioButton* m_simple = nullptr;
    QRadioButton* m_count = nullptr;
    QLineEdit* m_countString = nullptr;
    QRadioButton* m_middle = nullptr;
    QLineEdit* m_middleStart = nullptr;
    QLabel* m_middleAnd = nullptr;
    QLineEdit* m_middleEnd = nullptr;

    std::shared_ptr<FtpRun> m_ftpRun;
    QStringList m_ftpTexts;
};

// Shows the dialog modally over `parent`; returns 1 with `staged` filled when applied, 0 when
// cancelled.
int runDocumentDialog(QWidget* parent, DocumentDialogMode mode, int sourceIndex,
                      const DocumentDialogContext& context, DocumentRecord& staged);

// The four-line example the information area shows for a kind.
QString kindExample(DocumentKind kind);

} // namespace sentorix::ui
