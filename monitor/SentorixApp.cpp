#include "monitor/SentorixApp.h"

#include "common/DataFolder.h"
#include "monitor/Commands.h"
#include "monitor/MainFrame.h"
#include "monitor/SingleInstance.h"
#include "monitor/TrayIcon.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/Leftovers.h"
#include "monitor/dialogs/ModalDialogs.h"
#include "platform/InstanceLock.h"
#include "platform/TempFile.h"

#include <QApplication>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTreeView>

namespace sentorix
{

bool startsHidden(const QStringList& arguments)
{
    return arguments.join(QLatin1Char(' ')).contains(QLatin1String(kHideSwitch), Qt::CaseSensitive);
}

CSentorixApp::CSentorixApp(Settings settings) : m_settings(std::move(settings)) {}

CSentorixApp::~CSentorixApp() = default;

CSentorixApp::Start CSentorixApp::initInstance(const QStringList& arguments)
{
    // The folders come first, as the running instance is the one on the same DataFolder.
    m_installFolder =
        m_settings.installFolder.empty() ? findInstallFolder() : m_settings.installFolder;
    m_dataFolder =
        m_settings.dataFolder.empty() ? monitorDataFolder(m_installFolder) : m_settings.dataFolder;

    m_instance = new ui::SingleInstance(m_settings.instanceName.isEmpty()
                                            ? ui::SingleInstance::nameFor(m_dataFolder)
                                            : m_settings.instanceName,
                                        this);
    if (m_instance->notifyRunning())
        return Start::AnotherInstance;

    const bool hidden = startsHidden(arguments);

    // The monitor holds the DataFolder for its whole run, so sentorix-cli never works on it
    // at the same time. A monitor of this user on another display holds it too.
    m_lock = std::make_unique<InstanceLock>();
    if (m_lock->tryAcquire(m_dataFolder) == InstanceLock::Result::Busy) {
        ui::MessageBox::show(nullptr, QString::fromLatin1(kAlreadyRunningText),
                             QMessageBox::Information);
        return Start::Failed;
    }
    // Under the lock no other front end writes here: what a crashed run left half-written is
    // removed before anything is read.
    removeInterruptedWrites(m_dataFolder);
    if (!m_instance->listen())
        qWarning("Sentorix: cannot listen on %s", qPrintable(m_instance->name()));

    m_table = std::make_unique<DocumentTable>();
    m_frame = std::make_unique<CMainFrame>();
    connect(m_instance, &ui::SingleInstance::showRequested, m_frame.get(),
            &CMainFrame::bringToFront);
    m_frame->commands().setHandler(ui::kCmdExit, [this] { exitSequence(); });
    m_frame->commands().setHandler(ui::kCmdTrayExit, [this] { exitSequence(); });

    firstUpdate();

    if (hidden) {
        m_frame->setTrayMode(true);
        if (m_frame->tray()->available()) {
            m_frame->setWindowState(Qt::WindowMinimized);
        } else {
            // Nowhere to hide to: start minimised, reachable from the task bar.
            m_frame->showMinimized();
        }
    } else {
        m_frame->show();
        m_frame->setTrayMode(false);
    }
    return Start::Running;
}

bool CSentorixApp::trayMode() const
{
    return m_frame && m_frame->trayMode();
}

void CSentorixApp::firstUpdate()
{
    auto* list = new QTreeView;
    list->setObjectName(QStringLiteral("documents"));
    list->setAccessibleName(tr("Documents"));
    list->setRootIsDecorated(false);
    auto* model = new QStandardItemModel(0, 4, list);
    model->setHorizontalHeaderLabels({"Name", "Type", "Status", "Last Check"});
    list->setModel(model);
    const int widths[] = {250, 130, 150, 170};
    for (int column = 0; column < 4; ++column)
        list->header()->resizeSection(column, widths[column]);
    m_frame->setCentralWidget(list);
    m_frame->tray()->addTrayIcon();
    loadAllRecords(*m_table, m_dataFolder, nullptr);
}

void CSentorixApp::exitSequence()
{
    m_frame->tray()->removeTrayIcon();
    deleteTempFiles(m_dataFolder);
    saveAllRecordsOnExit(*m_table, m_dataFolder);
    QCoreApplication::exit(0);
}

int runSentorix(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sentorix"));
    QApplication::setDesktopFileName(QStringLiteral("sentorix"));
    // Hidden in the tray, the monitor keeps running with no window shown.
    QApplication::setQuitOnLastWindowClosed(false);

    CSentorixApp sentorix;
    switch (sentorix.initInstance(QCoreApplication::arguments().mid(1))) {
    case CSentorixApp::Start::AnotherInstance:
        return 0;
    case CSentorixApp::Start::Failed:
        return 1;
    case CSentorixApp::Start::Running:
        break;
    }
    return QApplication::exec();
}

} // namespace sentorix
