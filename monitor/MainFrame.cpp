#include "monitor/MainFrame.h"

#include "monitor/Artwork.h"
#include "monitor/TrayIcon.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QWindowStateChangeEvent>

namespace sentorix
{

using namespace ui;

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QString::fromLatin1(kMainWindowTitle));
    setWindowIcon(appIcon());
    setAccessibleName(QString::fromLatin1(kMainWindowTitle));
    setDockOptions(QMainWindow::AnimatedDocks);

    m_router.setPlaceholder(
        [this](int) { statusBar()->showMessage(tr("This command is not available yet."), 3000); });
    m_router.setHandler(kCmdHelpHome,
                        [] { QDesktopServices::openUrl(QUrl(helpUrl(kCmdHelpHome))); });
    m_router.setHandler(kCmdHelpManual,
                        [] { QDesktopServices::openUrl(QUrl(helpUrl(kCmdHelpManual))); });
    m_router.setHandler(kCmdHelpSupport,
                        [] { QDesktopServices::openUrl(QUrl(helpUrl(kCmdHelpSupport))); });
    m_router.setHandler(kCmdTrayActivate, [this] { restoreFromTray(); });

    buildMenus();
    buildToolBar();

    m_status = new QLabel(QString::fromLatin1(kReadyText));
    m_status->setAccessibleName(tr("Status"));
    statusBar()->setAccessibleName(tr("Status bar"));
    statusBar()->addWidget(m_status, 1);

    buildTray();
    resize(760, 480);
}

CMainFrame::~CMainFrame() = default;

QString CMainFrame::helpUrl(int id)
{
    const char* path = id == kCmdHelpManual    ? kManualPath
                       : id == kCmdHelpSupport ? kSupportPath
                                               : kHomePath;
    return QString::fromLatin1(kSiteHost) + QString::fromLatin1(path);
}

QAction* CMainFrame::addCommand(QMenu* menu, int id, const QString& text, const QString& shortcut,
                                const QString& prompt)
{
    QAction* action = m_router.makeAction(id, text, this);
    if (!shortcut.isEmpty())
        action->setShortcut(QKeySequence(shortcut));
    action->setStatusTip(prompt);
    menu->addAction(action);
    m_actions[id] = action;
    return action;
}

void CMainFrame::buildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setAccessibleName(tr("Menu bar"));

    QMenu* file = bar->addMenu(tr("&File"));
    QMenu* document = file->addMenu(tr("&Document"));
    addCommand(document, kCmdAdd, "&Add...\tCtrl+A", "Ctrl+A", "Add new document.");
    addCommand(document, kCmdCopy, "&Copy...\tCtrl+C", "Ctrl+C", "Copy selected document.");
    addCommand(document, kCmdDelete, "Dele&te...\tDel", "Del", "Delete selected documents..");
    document->addSeparator();
    addCommand(document, kCmdSaveAs, "&Save As...", "", "Save selected document as..");
    addCommand(file, kCmdOptions, "&Options...", "", "Change the application's options..");
    file->addSeparator();
    addCommand(file, kCmdExit, "E&xit", "", "Quit Sentorix.");

    QMenu* edit = bar->addMenu(tr("&Edit"));
    addCommand(edit, kCmdMarkChecked, "&Mark as Checked", "",
               "Mark selected document as Checked status.");
    addCommand(edit, kCmdMarkAllChecked, "Mark &All as Checked\tESC", "Esc",
               "Mark all document as Checked status.");
    edit->addSeparator();
    addCommand(edit, kCmdSelectAll, "&Select All\tCtrl+S", "Ctrl+S", "Select all documents.");
    addCommand(edit, kCmdDeselectAll, "&Deselect All\tCtrl+D", "Ctrl+D", "Deselect all documents.");
    edit->addSeparator();
    addCommand(edit, kCmdProperties, "&Properties...\tCtrl+E", "Ctrl+E",
               "Properties of selected document..");

    QMenu* view = bar->addMenu(tr("&View"));
    addCommand(view, kCmdOpen, "&Open\tDblClk", "", "Open selected document.");
    view->addSeparator();
    addCommand(view, kCmdContentHeader, "Content &Header...", "", "View document data header..");
    addCommand(view, kCmdComparedData, "Compared &Data...", "", "View compared portion data..");
    addCommand(view, kCmdViewChanges, "View &Changes...", "",
               "View what the last change of the selected document changed.");
    view->addSeparator();
    QAction* toolbar =
        addCommand(view, kCmdViewToolbar, "&Toolbar", "", "Show or hide the toolbar");
    QAction* statusbar =
        addCommand(view, kCmdViewStatusBar, "&Status Bar", "", "Show or hide the status bar");
    toolbar->setCheckable(true);
    toolbar->setChecked(true);
    statusbar->setCheckable(true);
    statusbar->setChecked(true);
    m_router.setHandler(kCmdViewToolbar,
                        [this, toolbar] { m_toolBar->setVisible(toolbar->isChecked()); });
    m_router.setHandler(kCmdViewStatusBar,
                        [this, statusbar] { statusBar()->setVisible(statusbar->isChecked()); });

    QMenu* check = bar->addMenu(tr("&Check"));
    addCommand(check, kCmdCheckSelected, "Check &Selected\tF5", "F5",
               "Check changes of selected documents.");
    addCommand(check, kCmdCheckAll, "Check &All\tCtrl+F5", "Ctrl+F5",
               "Check changes of all documents.");

    QMenu* help = bar->addMenu(tr("&Help"));
    addCommand(help, kCmdHelpHome, "Sentorix &Home", "", helpUrl(kCmdHelpHome));
    addCommand(help, kCmdHelpManual, "User's &Manual", "", helpUrl(kCmdHelpManual));
    addCommand(help, kCmdHelpSupport, "On-line &Support", "", helpUrl(kCmdHelpSupport));

    // The framework asks for the enabling whenever a menu opens.
    for (QMenu* menu : {file, document, edit, view, check, help})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::updateCommandEnabling);
}

void CMainFrame::buildToolBar()
{
    m_toolBar = new QToolBar(tr("Toolbar"), this);
    m_toolBar->setObjectName(QStringLiteral("toolbar"));
    m_toolBar->setAccessibleName(tr("Toolbar"));
    m_toolBar->setIconSize(QSize(kToolbarImageSize, kToolbarImageSize));
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_toolBar->setMovable(true);
    addToolBar(Qt::TopToolBarArea, m_toolBar);

    const struct {
        int id;
        ToolbarImage image;
        const char* tip;
    } buttons[] = {{kCmdOptions, ToolbarImage::Options, "Options"},
                   {kCmdAdd, ToolbarImage::Add, "Add"},
                   {kCmdCheckSelected, ToolbarImage::CheckSelected, "Check Selected"},
                   {kCmdOpen, ToolbarImage::Open, "Open"}};
    for (const auto& button : buttons) {
        QAction* act = m_actions.at(button.id);
        act->setIcon(toolbarIcon(button.image));
        act->setIconVisibleInMenu(false);
        act->setToolTip(QString::fromLatin1(button.tip));
        m_toolBar->addAction(act);
        if (button.id == kCmdOptions)
            m_toolBar->addSeparator();
    }
}

void CMainFrame::buildTray()
{
    m_trayMenu = new QMenu(this);
    m_trayMenu->setAccessibleName(tr("Tray menu"));
    m_trayMenu->addAction(m_router.makeAction(kCmdTrayActivate, "Activate", m_trayMenu));
    m_trayMenu->addAction(m_router.makeAction(kCmdCheckAll, "Check All !", m_trayMenu));
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_router.makeAction(kCmdOptions, "Options...", m_trayMenu));
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_router.makeAction(kCmdTrayExit, "Exit", m_trayMenu));
    m_tray = new SystemTray(m_trayMenu, this);
    connect(m_tray, &SystemTray::restoreRequested, this, &CMainFrame::restoreFromTray);
}

QAction* CMainFrame::action(int id) const
{
    const auto found = m_actions.find(id);
    return found == m_actions.end() ? nullptr : found->second;
}

void CMainFrame::setSelectionCounter(std::function<int()> counter)
{
    m_selected = std::move(counter);
    updateCommandEnabling();
}

void CMainFrame::setEnablingCondition(int id, std::function<bool()> condition)
{
    m_conditions[id] = std::move(condition);
    updateCommandEnabling();
}

bool CMainFrame::commandEnabledNow(int id, int selected) const
{
    if (!commandEnabled(id, selected))
        return false;
    const auto condition = m_conditions.find(id);
    return condition == m_conditions.end() || !condition->second || condition->second();
}

void CMainFrame::updateCommandEnabling()
{
    const int selected = m_selected ? m_selected() : 0;
    for (const auto& [id, act] : m_actions)
        act->setEnabled(commandEnabledNow(id, selected));
}

QMenu* CMainFrame::makeContextMenu(int selected, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setAccessibleName(tr("Document menu"));
    const struct {
        int id;
        const char* text;
    } items[] = {{kCmdMarkChecked, "Mark as Checked"},
                 {kCmdCheckSelected, "Check Selected"},
                 {0, nullptr},
                 {kCmdContentHeader, "View Content Header..."},
                 {kCmdComparedData, "View Compared Data..."},
                 {kCmdViewChanges, "View Changes..."},
                 {0, nullptr},
                 {kCmdOpen, "Open"},
                 {kCmdAdd, "Add..."},
                 {kCmdCopy, "Copy..."},
                 {kCmdDelete, "Delete..."},
                 {kCmdSaveAs, "Save As..."},
                 {0, nullptr},
                 {kCmdProperties, "Properties..."}};
    for (const auto& item : items) {
        if (item.id == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* act = m_router.makeAction(item.id, QString::fromLatin1(item.text), menu);
        act->setEnabled(commandEnabledNow(item.id, selected));
        if (const QAction* same = action(item.id))
            act->setStatusTip(same->statusTip()); // the menu bar's prompt
        menu->addAction(act);
    }
    return menu;
}

void CMainFrame::setIdleStatus(const QString& text)
{
    m_status->setText(text.isEmpty() ? QString::fromLatin1(kReadyText) : text);
}

QString CMainFrame::idleStatus() const
{
    return m_status->text();
}

void CMainFrame::setTrayModeAccess(std::function<bool()> get, std::function<void(bool)> set)
{
    m_getTrayMode = std::move(get);
    m_setTrayMode = std::move(set);
}

void CMainFrame::setTrayMode(bool inTray)
{
    if (m_setTrayMode)
        m_setTrayMode(inTray);
    else
        m_ownTrayMode = inTray;
}

void CMainFrame::bringToFront()
{
    // A restore asked for by another start is not the user's coming back: trayMode stays.
    m_keepTrayMode = isMinimized();
    if (isMinimized() || !isVisible())
        showNormal();
    raise();
    activateWindow();
}

void CMainFrame::restoreFromTray()
{
    bringToFront();
    setTrayMode(false);
}

void CMainFrame::minimizeToTray()
{
    if (m_tray->available()) {
        setTrayMode(true);
        hide();
    } else {
        // Without a tray the window stays reachable from the task bar; trayMode is still set
        // so changes are announced (as desktop notifications) while the user is away.
        setTrayMode(true);
        showMinimized();
    }
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool wasMinimized = change->oldState() & Qt::WindowMinimized;
    if (isMinimized() && !wasMinimized) {
        setTrayMode(true);
        // Hiding from inside the state change confuses some window managers; do it next.
        if (m_tray->available())
            QTimer::singleShot(0, this, [this] {
                if (isMinimized())
                    hide();
            });
    } else if (!isMinimized() && (wasMinimized || isMaximized())) {
        if (m_keepTrayMode && !isMaximized())
            m_keepTrayMode = false;
        else
            setTrayMode(false);
    }
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Closing the window quits the monitor; it does not hide to the tray.
    event->accept();
    m_router.run(kCmdExit);
}

} // namespace sentorix
