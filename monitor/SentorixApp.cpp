#include "monitor/SentorixApp.h"

#include "common/DataFolder.h"
#include "monitor/Commands.h"
#include "monitor/DocumentCommandHandlers.h"
#include "monitor/DocumentListModel.h"
#include "monitor/MainFrame.h"
#include "monitor/QtMonitorView.h"
#include "monitor/QtTimerHost.h"
#include "monitor/SentorixView.h"
#include "monitor/SingleInstance.h"
#include "monitor/TrayIcon.h"
#include "monitor/check/MonitorSession.h"
#include "monitor/dialogs/DesktopOpen.h"
#include "monitor/dialogs/ModalDialogs.h"
#include "monitor/dialogs/SettingsCommands.h"
#include "monitor/dialogs/Viewers.h"
#include "platform/InstanceLock.h"
#include "platform/ProgramLauncher.h"
#include "platform/Sound.h"

#include <QApplication>
#include <QElapsedTimer>

namespace sentorix
{

namespace
{
// At exit the stopped workers end their transfers within about a second (the transfer's
// progress callback sees the stop); their reports are delivered meanwhile. After the bound
// the records are saved anyway.
constexpr int kExitWaitStepMs = 20;
constexpr int kExitWaitLimitMs = 3000;
} // namespace

bool startsHidden(const QStringList& arguments)
{
    return arguments.join(QLatin1Char(' ')).contains(QLatin1String(kHideSwitch), Qt::CaseSensitive);
}

void openOnDesktop(const OpenTarget& target)
{
    ui::DesktopOpen::openTarget(target);
}

CSentorixApp::CSentorixApp() : CSentorixApp(Settings{}) {}

CSentorixApp::CSentorixApp(Settings settings) : m_settings(std::move(settings)) {}

CSentorixApp::~CSentorixApp()
{
    // The workers are stopped before anything they report to goes; the window (whose list
    // model listens to the session's list) goes before the session, and the view after it.
    if (m_session)
        m_session->engine().stop();
    if (m_view) {
        m_view->setModel(nullptr);
        m_view->setDialogParent(nullptr);
    }
    if (m_session) {
        m_session->engine().setBlinkStep({});
        m_session->engine().setStartupPrompt({});
    }
    m_blink.reset();
    m_frame.reset();
    m_session.reset();
}

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
    if (!m_instance->listen())
        qWarning("Sentorix: cannot listen on %s", qPrintable(m_instance->name()));

    m_view = std::make_unique<QtMonitorView>();
    m_timers = std::make_unique<ui::QtTimerHost>();
    if (m_settings.silent)
        m_sound = std::make_unique<NullSoundPlayer>();
    else
        m_sound = std::make_unique<CanberraSoundPlayer>();
    m_launcher = std::make_unique<PosixProgramLauncher>();
    m_session = std::make_unique<MonitorSession>(
        m_dataFolder, m_installFolder, SessionServices{*m_view, *m_timers, *m_sound, *m_launcher});
    CheckEngine& engine = m_session->engine();

    m_frame = std::make_unique<CMainFrame>();
    m_frame->setTrayModeAccess([&engine] { return engine.trayMode(); },
                               [&engine](bool inTray) { engine.setTrayMode(inTray); });
    connect(m_instance, &ui::SingleInstance::showRequested, m_frame.get(),
            &CMainFrame::bringToFront);
    m_view->setDialogParent(m_frame.get());

    m_timers->setTickHandler([&engine](int id) { engine.onViewTimer(id); });
    m_blink = std::make_unique<ui::BlinkCycle>(*m_frame->tray(), *m_timers);
    engine.setBlinkStep([this, &engine] { m_blink->tick(engine.trayMode() ? 1 : 0); });
    m_view->setBlinkStarter([this] { m_timers->armTimer(kBlinkTimer, kBlinkPeriodMs); });
    // Timer 3 on an empty list: offer to add the first document (the Add command).
    engine.setStartupPrompt([this] {
        if (ui::showStartupPrompt(m_frame.get()) == 1)
            m_frame->commands().run(ui::kCmdAdd);
    });
    m_view->setDocumentOpener([this](int record, bool showMessages) {
        m_session->commands().openDocument(record, showMessages, openOnDesktop);
    });

    registerWindowCommands();
    // The document commands and dialogs register their handlers here, beside these.
    registerDocumentCommands(*m_frame, *m_session);

    firstUpdate();

    if (hidden) {
        m_frame->setTrayMode(true);
        if (m_frame->tray()->available())
            m_frame->setWindowState(Qt::WindowMinimized);
        else
            m_frame->showMinimized(); // nowhere to hide to: reachable from the task bar
    } else {
        m_frame->show();
        m_frame->setTrayMode(false);
    }
    return Start::Running;
}

// The commands of the window and its list; the document commands and the dialogs register
// theirs beside these (see Commands.h).
void CSentorixApp::registerWindowCommands()
{
    ui::CommandRouter& commands = m_frame->commands();
    CheckEngine& engine = m_session->engine();
    DocumentList& list = m_session->list();
    commands.setHandler(ui::kCmdExit, [this] { exitSequence(); });
    commands.setHandler(ui::kCmdTrayExit, [this] { exitSequence(); });
    commands.setHandler(ui::kCmdCheckSelected, [&engine] { engine.checkSelected(); });
    commands.setHandler(ui::kCmdCheckAll, [&engine] { engine.checkAll(); });
    commands.setHandler(ui::kCmdSelectAll, [&list] { list.selectAllRows(); });
    commands.setHandler(ui::kCmdDeselectAll, [&list] { list.deselectAllRows(); });

    // Options... (File menu, toolbar and tray): the options and e-mail dialogs over the
    // settings in force; Apply saves them and re-arms the timers they govern.
    m_settingsCommands = std::make_unique<ui::SettingsCommands>(ui::SettingsParts{
        m_dataFolder, m_installFolder, m_session->options(), m_session->mail(), *m_launcher,
        [&engine] { engine.applyTimerOptions(); }, AutostartEntry::forUser()});
    commands.setHandler(ui::kCmdOptions,
                        [this] { m_settingsCommands->showOptions(m_frame.get()); });
}

void CSentorixApp::firstUpdate()
{
    DocumentList& list = m_session->list();
    CheckEngine& engine = m_session->engine();
    m_model = new DocumentListModel(list, m_session->table(), m_frame.get());
    m_model->setReasonSource([&engine](int record) { return engine.unavailableReason(record); });
    m_listView = new CSentorixView(*m_model);
    m_frame->setCentralWidget(m_listView);
    m_view->setModel(m_model);
    // A changed or unavailable document selected by its check is scrolled into sight.
    connect(m_view.get(), &QtMonitorView::recordSelected, m_listView, [this, &list](int record) {
        const int row = list.recordToRow(record);
        if (row >= 0)
            m_listView->scrollTo(m_model->index(row, 0));
    });

    m_frame->setSelectionCounter([&list] { return list.selectedCount(); });
    m_listView->setContextMenuFactory([this](int selected, QWidget* parent) {
        return m_frame->makeContextMenu(selected, parent);
    });
    connect(m_listView, &CSentorixView::mouseMovedOverList, m_frame.get(),
            [this] { m_frame->setTrayMode(false); });
    connect(m_listView, &CSentorixView::selectionCountChanged, this, [this] {
        m_frame->updateCommandEnabling();
        showSelectionStatus();
    });
    connect(m_model, &DocumentListModel::recordRedrawn, this, &CSentorixApp::showSelectionStatus);
    connect(m_listView, &CSentorixView::rowDoubleClicked, this, [this](int row) {
        const int record = m_session->list().rowToRecord(row);
        if (record >= 0)
            m_session->commands().openDocument(record, true, openOnDesktop);
    });

    m_frame->tray()->addTrayIcon();
    m_session->load();
    m_session->armTimers();
    m_frame->updateCommandEnabling();
}

// With one row selected, the status pane says why its document could not be retrieved.
void CSentorixApp::showSelectionStatus()
{
    if (!m_model)
        return;
    const DocumentList& list = m_session->list();
    QString text;
    if (list.selectedCount() == 1)
        text = m_model->reasonOfRow(list.selectedRows().front());
    m_frame->setIdleStatus(text);
}

bool CSentorixApp::trayMode() const
{
    return m_frame && m_frame->trayMode();
}

void CSentorixApp::exitSequence()
{
    if (m_exiting)
        return;
    m_exiting = true;
    m_frame->tray()->removeTrayIcon();
    CheckEngine& engine = m_session->engine();
    engine.stop();
    QElapsedTimer waited;
    waited.start();
    while (!engine.waitForWorkers(kExitWaitStepMs) && waited.elapsed() < kExitWaitLimitMs)
        m_view->deliverReports();
    m_view->deliverReports();
    m_session->saveOnExit();
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
