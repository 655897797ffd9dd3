#include "mailer/RelvexApp.h"

#include "common/DataFolder.h"
#include "mailer/MailerRun.h"
#include "mailer/MailerStart.h"
#include "mailer/RelvexDlg.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace sentorix
{

CRelvexApp::CRelvexApp() : m_dataFolder(mailerDataFolder()) {}

int CRelvexApp::exec(int& argc, char** argv)
{
    // Read before QApplication takes its own options out of argv.
    const MailerSwitches switches = parseMailerSwitches(joinCommandLine(argc, argv));
    const bool headless = !displayAvailable();
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Postavo"));

    if (!switches.fromSentorix) {
        if (headless) {
            std::fprintf(stderr, "%s\n", kNotStandAloneNotice);
        } else {
            QMessageBox::information(nullptr, QStringLiteral("Postavo"),
                                     QString::fromUtf8(kNotStandAloneNotice));
        }
        return 1;
    }

    setLogEcho(headless);
    MailerRunOutcome outcome = MailerRunOutcome::SettingsUnreadable;
    const std::string dataFolder = m_dataFolder;
    CRelvexDlg window([&](CRelvexDlg& dialog) {
        outcome = sendNotification(dataFolder, switches.testRun,
                                   [](const std::string& line) { appendLogLine(line); });
        if (closesAfterRun(headless, switches.testRun, outcome))
            dialog.accept();
    });
    window.exec();
    setLogEcho(false);
    return outcome == MailerRunOutcome::Accepted ? 0 : 1;
}

} // namespace sentorix
